// The heightmap module: the raster read through GDAL, built as
// tarven_heightmap.so and loaded by importHeightmap on first use.
#include "heightmap_module.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include "landcover.h"

namespace exchange {

namespace {

constexpr double kFlatsPerColumn = 0.8660254037844386;   // sqrt(3)/2: column pitch over hex height
// Samples read at once (each as a double): 8 MiB.
constexpr std::size_t kWindowSamples = std::size_t(1) << 20;
// The largest block of the raster's own layout that GDAL may hold.
constexpr double kMaxBlockBytes = 64.0 * 1024 * 1024;

std::once_flag registered;

// GDAL's messages of one import, gathered instead of printed.
class QuietGdal {
public:
    QuietGdal() {
        std::call_once(registered, [] {
            GDALAllRegister();
            GDALSetCacheMax64(std::int64_t(64) << 20);
        });
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    static std::string last(const char* otherwise) {
        const char* m = CPLGetLastErrorMsg();
        return m && *m ? std::string(m) : std::string(otherwise);
    }
};

struct CloseDataset {
    void operator()(GDALDatasetH d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<std::remove_pointer_t<GDALDatasetH>, CloseDataset>;

// Where the hexes lie, in units of the raster's samples.
struct Layout {
    int cols = 0, rows = 0;
    double pitchX = 0;   // samples from one column to the next
    double hexY = 0;     // samples across a hex's flats
    // The hex whose centre is nearest to the point (u, v) (in columns and
    // rows); false outside the map.
    bool hexAt(double x, double y, int& col, int& row) const {
        const double u = x / pitchX, v = y / hexY;
        const int c0 = static_cast<int>(std::floor(u - 2.0 / 3.0));
        double best = std::numeric_limits<double>::max();
        col = row = -1;
        for (int c = c0; c <= c0 + 1; ++c) {
            const double offset = (c & 1) == 0 ? 1.0 : 0.5;
            const int r = static_cast<int>(std::floor(v - offset + 0.5));
            const double du = (u - (c + 2.0 / 3.0)) * kFlatsPerColumn, dv = v - (r + offset);
            const double d = du * du + dv * dv;
            if (d < best) {
                best = d;
                col = c;
                row = r;
            }
        }
        return col >= 0 && row >= 0 && col < cols && row < rows;
    }
    void centre(int col, int row, double& x, double& y) const {
        x = (col + 2.0 / 3.0) * pitchX;
        y = (row + ((col & 1) == 0 ? 1.0 : 0.5)) * hexY;
    }
};

// Metres per sample across and down, when the raster says; false if not.
bool sampleMetres(GDALDatasetH d, double& mx, double& my) {
    double gt[6];
    if (GDALGetGeoTransform(d, gt) != CE_None || gt[2] != 0 || gt[4] != 0 || gt[1] == 0 || gt[5] == 0) return false;
    mx = std::fabs(gt[1]);
    my = std::fabs(gt[5]);
    const char* wkt = GDALGetProjectionRef(d);
    if (!wkt || !*wkt) return true;   // a plain grid: its units taken as metres
    OGRSpatialReferenceH srs = OSRNewSpatialReference(wkt);
    if (!srs) return true;
    if (OSRIsGeographic(srs)) {
        // Degrees: metres at the raster's middle latitude.
        const double lat = (gt[3] + gt[5] * GDALGetRasterYSize(d) / 2) * M_PI / 180;
        mx *= 111320.0 * std::cos(lat);
        my *= 110574.0;
    } else {
        const double unit = OSRGetLinearUnits(srs, nullptr);
        if (unit > 0) {
            mx *= unit;
            my *= unit;
        }
    }
    OSRDestroySpatialReference(srs);
    return mx > 0 && my > 0 && std::isfinite(mx) && std::isfinite(my);
}

bool importGrid(const std::string& path, const HeightmapOptions& o, HeightmapGrid& grid, HeightmapReport& report,
                std::string& error, const std::function<void(double)>& progress) {
    report = HeightmapReport{};
    QuietGdal quiet;
    const char* const drivers[] = {"GTiff", "PNG", "AAIGrid", nullptr};
    Dataset data(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr));
    if (!data) {
        error = "not a raster that can be read: " + QuietGdal::last("unknown format");
        return false;
    }
    GDALDatasetH d = data.get();
    const int W = GDALGetRasterXSize(d), H = GDALGetRasterYSize(d);
    report.rasterWidth = W;
    report.rasterHeight = H;
    if (GDALGetRasterCount(d) < 1 || W < 1 || H < 1) {
        error = "the raster holds no samples";
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(d, 1);
    const GDALDataType type = GDALGetRasterDataType(band);
    if (GDALDataTypeIsComplex(type)) {
        error = "the raster's samples are complex numbers, not heights";
        return false;
    }
    int blockW = 0, blockH = 0;
    GDALGetBlockSize(band, &blockW, &blockH);
    if (static_cast<double>(blockW) * blockH * GDALGetDataTypeSizeBytes(type) > kMaxBlockBytes ||
        static_cast<double>(blockW) * blockH > static_cast<double>(o.maxSamples)) {
        error = "the raster is stored in blocks of " + std::to_string(blockW) + " x " + std::to_string(blockH) +
                " samples, too large to read a block at a time";
        return false;
    }
    const double samples = static_cast<double>(W) * H;
    if (samples > static_cast<double>(o.maxSamples)) {
        error = "the raster of " + std::to_string(W) + " x " + std::to_string(H) + " samples is larger than the " +
                std::to_string(o.maxSamples) + " samples an import reads";
        return false;
    }

    // The layout: square samples unless the raster says otherwise.
    double mx = 1, my = 1;
    const bool georeferenced = sampleMetres(d, mx, my);
    Layout lay;
    if (o.hexMetres > 0) {
        if (!georeferenced) {
            error = "--hex-m needs a georeferenced raster (this one does not say how large its samples are)";
            return false;
        }
        lay.hexY = o.hexMetres / my;
        lay.pitchX = o.hexMetres * kFlatsPerColumn / mx;
    } else {
        const int cols = o.cols > 0 ? o.cols : defaultHeightmapColumns(W);
        lay.pitchX = static_cast<double>(W) / cols;
        lay.hexY = lay.pitchX * mx / kFlatsPerColumn / my;
    }
    const double colsFit = std::floor(W / lay.pitchX + 1.0 / 3.0 + 1e-9);
    const double rowsFit = std::floor(H / lay.hexY + 0.5);
    if (!(colsFit >= 1) || !(rowsFit >= 1)) {
        error = "the hexes are larger than the raster: not one hex has its centre on it";
        return false;
    }
    if (colsFit * rowsFit > static_cast<double>(o.maxCells)) {
        // Printed as decimals: a raster with tiny samples can ask for more
        // hexes than any integer holds.
        char size[96];
        std::snprintf(size, sizeof size, "%.0f x %.0f", colsFit, rowsFit);
        error = "the map would have " + std::string(size) + " cells, more than the " + std::to_string(o.maxCells) +
                " an import makes";
        return false;
    }
    lay.cols = static_cast<int>(colsFit);
    lay.rows = static_cast<int>(rowsFit);
    const std::size_t n = static_cast<std::size_t>(lay.cols) * lay.rows;

    int hasNoData = 0;
    const double noData = GDALGetRasterNoDataValue(band, &hasNoData);
    auto valid = [&](double v) { return std::isfinite(v) && !(hasNoData && v == noData); };

    // The sums, window by window of whole rows (or parts of rows when the
    // raster is very wide).
    std::vector<double> sum(n, 0.0), count(n, 0.0);
    const int windowW = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(W), kWindowSamples));
    const int windowH = static_cast<int>(std::max<std::size_t>(1, kWindowSamples / static_cast<std::size_t>(windowW)));
    std::vector<double> buffer(static_cast<std::size_t>(windowW) * windowH);
    for (int y0 = 0; y0 < H; y0 += windowH) {
        const int h = std::min(windowH, H - y0);
        for (int x0 = 0; x0 < W; x0 += windowW) {
            const int w = std::min(windowW, W - x0);
            if (GDALRasterIO(band, GF_Read, x0, y0, w, h, buffer.data(), w, h, GDT_Float64, 0, 0) != CE_None) {
                error = "cannot read the samples: " + QuietGdal::last("read error");
                return false;
            }
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    const double v = buffer[static_cast<std::size_t>(j) * w + i];
                    int c = -1, r = -1;
                    if (!valid(v) || !lay.hexAt(x0 + i + 0.5, y0 + j + 0.5, c, r)) continue;
                    const std::size_t k = static_cast<std::size_t>(r) * lay.cols + c;
                    sum[k] += v;
                    count[k] += 1;
                }
        }
        if (progress) progress(0.8 * (y0 + h) / H);
    }
    // A hex that holds no sample's centre (hexes smaller than samples)
    // takes the sample under its own centre.
    std::vector<double> means(n, std::numeric_limits<double>::quiet_NaN());
    for (int r = 0; r < lay.rows; ++r)
        for (int c = 0; c < lay.cols; ++c) {
            const std::size_t k = static_cast<std::size_t>(r) * lay.cols + c;
            if (count[k] > 0) {
                means[k] = sum[k] / count[k];
                continue;
            }
            double x, y;
            lay.centre(c, r, x, y);
            const int i = std::clamp(static_cast<int>(x), 0, W - 1), j = std::clamp(static_cast<int>(y), 0, H - 1);
            double v = 0;
            if (GDALRasterIO(band, GF_Read, i, j, 1, 1, &v, 1, 1, GDT_Float64, 0, 0) != CE_None) {
                error = "cannot read the samples: " + QuietGdal::last("read error");
                return false;
            }
            if (valid(v)) means[k] = v;
        }
    std::vector<double>().swap(sum);
    std::vector<double>().swap(count);

    std::vector<double> sorted;
    for (double v : means)
        if (!std::isnan(v)) sorted.push_back(v);
    if (sorted.empty()) {
        error = "the raster holds no data: every sample is missing or the nodata value";
        return false;
    }
    std::sort(sorted.begin(), sorted.end());
    const double low = sorted.front(), high = sorted.back();
    report.low = low;
    report.high = high;
    auto level = [&](double v) {
        if (o.quantile) {
            const std::size_t below = static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
            return static_cast<int>(std::min<std::size_t>(9, below * 10 / sorted.size()));
        }
        if (high <= low) return 0;
        return std::clamp(static_cast<int>(std::floor(9 * (v - low) / (high - low) + 0.5)), 0, 9);
    };
    // 16-bit keys of the means for the cover, in the same order.
    auto key = [&](double v) {
        if (high <= low) return std::uint16_t(0);
        return static_cast<std::uint16_t>(std::clamp(std::floor((v - low) / (high - low) * 65535 + 0.5), 0.0, 65535.0));
    };
    auto water = [&](double v) { return o.seaLevelGiven && v < o.seaLevel; };

    HeightmapGrid made;
    made.cols = lay.cols;
    made.rows = lay.rows;
    made.terrain.assign(n, '?');
    made.elevation.assign(n, 0);
    std::uint64_t land = 0;
    for (int r = 0; r < lay.rows; ++r)
        for (int c = 0; c < lay.cols; ++c) {
            const std::size_t k = static_cast<std::size_t>(r) * lay.cols + c;
            const double v = means[k];
            if (std::isnan(v)) {
                made.terrain[k] = '?';
                ++report.emptyHexes;
                continue;
            }
            made.elevation[k] = static_cast<char>(level(v));
            if (water(v)) {
                made.terrain[k] = landcover::kWater;
                ++report.waterHexes;
            } else {
                ++land;
            }
        }
    landcover::assign(
        n, landcover::elevationQuotas(land),
        [&](std::uint64_t k) { return !std::isnan(means[k]) && !water(means[k]); },
        [&](std::uint64_t k) { return key(means[k]); }, [](std::uint64_t) { return std::uint16_t(0); },
        [&](std::uint64_t k, char t) { made.terrain[static_cast<std::size_t>(k)] = t; });
    grid = std::move(made);
    return true;
}

}  // namespace
}  // namespace exchange

extern "C" int tarven_heightmap_version() { return exchange::kHeightmapModuleVersion; }

extern "C" bool tarven_heightmap_import(const char* path, const exchange::HeightmapOptions* options,
                                        exchange::HeightmapGrid* grid, exchange::HeightmapReport* report,
                                        std::string* error, const std::function<void(double)>* progress) {
    // Nothing thrown crosses into the program that loaded the module.
    try {
        static const std::function<void(double)> none;
        return exchange::importGrid(path, *options, *grid, *report, *error, progress ? *progress : none);
    } catch (const std::bad_alloc&) {
        *error = "out of memory";
    } catch (const std::exception& e) {
        *error = e.what();
    }
    return false;
}
