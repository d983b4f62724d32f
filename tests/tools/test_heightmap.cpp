// tarven-convert's heightmap import: rasters made here with GDAL, whose hex
// elevations are worked out again in the test from the hexagons' corners,
// nodata, 16-bit PNG, ASCII grids and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include "convert.h"
#include "heightmap.h"
#include "hxmap.h"
#include "tempdir.h"
#include "tools.h"

namespace {

using tarventest::TempDir;

struct ToolRun {
    int code;
    std::string err;
};

ToolRun convert(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = tools::runConvert(args, out, err);
    return ToolRun{code, err.str()};
}

using Field = std::function<double(int x, int y)>;

// A raster through GDAL: driver "GTiff" (optionally in metres, UTM 33N,
// `metres` per sample) or "PNG" (16-bit, through an in-memory copy).
void makeRaster(const std::string& path, const char* driver, int w, int h, GDALDataType type, const Field& f,
                double metres = 0, const double* noData = nullptr) {
    GDALAllRegister();
    const bool direct = std::string(driver) == "GTiff";
    GDALDatasetH d = GDALCreate(GDALGetDriverByName(direct ? "GTiff" : "MEM"), direct ? path.c_str() : "", w, h, 1,
                                type, nullptr);
    ASSERT_NE(nullptr, d);
    if (metres > 0) {
        double gt[6] = {500000, metres, 0, 5600000, 0, -metres};
        GDALSetGeoTransform(d, gt);
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, 32633);
        char* wkt = nullptr;
        OSRExportToWkt(srs, &wkt);
        GDALSetProjection(d, wkt);
        CPLFree(wkt);
        OSRDestroySpatialReference(srs);
    }
    GDALRasterBandH band = GDALGetRasterBand(d, 1);
    if (noData) GDALSetRasterNoDataValue(band, *noData);
    std::vector<double> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) row[static_cast<std::size_t>(x)] = f(x, y);
        ASSERT_EQ(CE_None, GDALRasterIO(band, GF_Write, 0, y, w, 1, row.data(), w, 1, GDT_Float64, 0, 0));
    }
    if (!direct) {
        GDALDatasetH png = GDALCreateCopy(GDALGetDriverByName(driver), path.c_str(), d, FALSE, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, png);
        GDALClose(png);
    }
    GDALClose(d);
}

// The hex means worked out from the hexagons themselves: a regular,
// flat-topped hexagon per cell, `pitch` samples from column to column,
// the first column's left corner at 0, even columns half a hex lower.
struct Expected {
    int cols = 0, rows = 0;
    std::vector<double> mean;   // NaN: no sample
};

Expected hexMeans(int w, int h, double pitch, const Field& f, const std::function<bool(double)>& valid) {
    Expected e;
    const double hexH = pitch * 2 / std::sqrt(3.0), hexW = pitch * 4 / 3;
    e.cols = static_cast<int>(std::floor(w / pitch + 1.0 / 3.0 + 1e-9));
    e.rows = static_cast<int>(std::floor(h / hexH + 0.5));
    for (int r = 0; r < e.rows; ++r)
        for (int c = 0; c < e.cols; ++c) {
            const double cx = c * pitch + hexW / 2, cy = (r + (c % 2 == 0 ? 1.0 : 0.5)) * hexH;
            double sum = 0, n = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double dx = std::fabs(x + 0.5 - cx), dy = std::fabs(y + 0.5 - cy);
                    if (dy > hexH / 2 || dx > hexW / 2 - (hexW / 4) * dy / (hexH / 2)) continue;
                    const double v = f(x, y);
                    if (!valid(v)) continue;
                    sum += v;
                    n += 1;
                }
            e.mean.push_back(n > 0 ? sum / n : std::nan(""));
        }
    return e;
}

int linearLevel(double v, double low, double high) {
    return high > low ? static_cast<int>(std::floor(9 * (v - low) / (high - low) + 0.5)) : 0;
}

bool loadQuiet(HxMap& map, const std::string& path) {
    LoadHooks hooks;
    hooks.warning = [](const std::string&) {};
    return map.loadMap(path.c_str(), hooks);
}

void expectLinear(const HxMap& map, const Expected& e) {
    ASSERT_EQ(e.cols, map.xs());
    ASSERT_EQ(e.rows, map.ys());
    double low = 1e300, high = -1e300;
    for (double v : e.mean)
        if (!std::isnan(v)) low = std::min(low, v), high = std::max(high, v);
    for (int r = 0; r < e.rows; ++r)
        for (int c = 0; c < e.cols; ++c) {
            const double v = e.mean[static_cast<std::size_t>(r) * e.cols + c];
            if (std::isnan(v)) {
                EXPECT_EQ('?', map.t(c, r)) << c << "," << r;
                continue;
            }
            EXPECT_EQ(linearLevel(v, low, high), map.e(c, r)) << c << "," << r << " mean " << v;
        }
}

TEST(Heightmap, RampGeoTiffGivesTheHexMeans) {
    TempDir dir;
    const Field ramp = [](int x, int) { return 3.0 * x + 100; };
    makeRaster(dir / "ramp.tif", "GTiff", 120, 70, GDT_Float32, ramp);
    ASSERT_EQ(0, convert({"--cols", "12", dir / "ramp.tif", dir / "ramp.map"}).code);
    HxMap map(1, 1);
    ASSERT_TRUE(loadQuiet(map, dir / "ramp.map"));
    expectLinear(map, hexMeans(120, 70, 10, ramp, [](double) { return true; }));
    // Without a sea level everything is land: mountains on the right.
    EXPECT_EQ('^', map.t(11, 3));
    EXPECT_EQ(' ', map.t(0, 3));
}

TEST(Heightmap, ConeByTenthsWithSeaLevel) {
    TempDir dir;
    const Field cone = [](int x, int y) { return std::max(0.0, 60 - std::hypot(x + 0.5 - 50, y + 0.5 - 40)); };
    makeRaster(dir / "cone.tif", "GTiff", 100, 80, GDT_Float32, cone, 30);
    ASSERT_EQ(0, convert({"--cols=20", "--levels", "quantile", "--sea-level", "10", dir / "cone.tif", dir / "c.map"}).code);
    HxMap map(1, 1);
    ASSERT_TRUE(loadQuiet(map, dir / "c.map"));
    const Expected e = hexMeans(100, 80, 5, cone, [](double) { return true; });
    ASSERT_EQ(e.cols, map.xs());
    ASSERT_EQ(e.rows, map.ys());
    std::vector<double> sorted = e.mean;
    std::sort(sorted.begin(), sorted.end());
    for (int r = 0; r < e.rows; ++r)
        for (int c = 0; c < e.cols; ++c) {
            const double v = e.mean[static_cast<std::size_t>(r) * e.cols + c];
            const std::size_t below = static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
            EXPECT_EQ(static_cast<int>(std::min<std::size_t>(9, below * 10 / sorted.size())), map.e(c, r)) << c << "," << r;
            EXPECT_EQ(v < 10, map.t(c, r) == '~') << c << "," << r;
        }
    // The summit is a mountain.
    EXPECT_EQ('^', map.t(10, 7));
}

TEST(Heightmap, HexesByMetresOnAGeoTiff) {
    TempDir dir;
    const Field ramp = [](int, int y) { return 2.0 * y; };
    makeRaster(dir / "m.tif", "GTiff", 90, 60, GDT_Float32, ramp, 30);
    // 300 m across the flats: 300 * sqrt(3) / 2 / 30 samples a column.
    ASSERT_EQ(0, convert({"--hex-m", "300", dir / "m.tif", dir / "m.map"}).code);
    HxMap map(1, 1);
    ASSERT_TRUE(loadQuiet(map, dir / "m.map"));
    expectLinear(map, hexMeans(90, 60, 300 * std::sqrt(3.0) / 2 / 30, ramp, [](double) { return true; }));
}

TEST(Heightmap, NoDataIsLeftOut) {
    TempDir dir;
    const double noData = -9999;
    const Field half = [](int x, int y) { return x < 40 ? -9999.0 : 5.0 * y + x; };
    makeRaster(dir / "n.tif", "GTiff", 100, 60, GDT_Float32, half, 0, &noData);
    const ToolRun run = convert({"--cols", "10", dir / "n.tif", dir / "n.map"});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("hold no data")) << run.err;
    HxMap map(1, 1);
    ASSERT_TRUE(loadQuiet(map, dir / "n.map"));
    expectLinear(map, hexMeans(100, 60, 10, half, [](double v) { return v != -9999; }));
}

TEST(Heightmap, SixteenBitPng) {
    TempDir dir;
    const Field ramp = [](int x, int y) { return 600.0 * x + 7 * y; };   // up to 47 000: needs 16 bits
    makeRaster(dir / "h.png", "PNG", 80, 50, GDT_UInt16, ramp);
    ASSERT_EQ(0, convert({"--cols", "16", dir / "h.png", dir / "h.map"}).code);
    HxMap map(1, 1);
    ASSERT_TRUE(loadQuiet(map, dir / "h.map"));
    expectLinear(map, hexMeans(80, 50, 5, ramp, [](double) { return true; }));
}

TEST(Heightmap, AsciiGridWithNoData) {
    TempDir dir;
    std::ofstream(dir / "g.asc") << "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 10\nNODATA_value -1\n"
                                    "1 2 3 4\n5 -1 7 8\n9 10 11 12\n";
    const ToolRun run = convert({"--cols", "4", dir / "g.asc", dir / "g.map"});
    ASSERT_EQ(0, run.code) << run.err;
    HxMap map(1, 1);
    ASSERT_TRUE(loadQuiet(map, dir / "g.map"));
    EXPECT_EQ(4, map.xs());
}

struct Refusal {
    const char* name;
    std::vector<std::string> args;   // "@" stands for the folder
    int code;
    const char* says;
};

class HeightmapRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(HeightmapRefusals, ClearMessage) {
    TempDir dir;
    const Field flat = [](int x, int) { return x; };
    makeRaster(dir / "plain.png", "PNG", 40, 30, GDT_Byte, flat);
    const double noData = 7;
    makeRaster(dir / "empty.tif", "GTiff", 20, 20, GDT_Float32, [](int, int) { return 7.0; }, 0, &noData);
    makeRaster(dir / "geo.tif", "GTiff", 20, 20, GDT_Float32, flat, 30);
    std::ofstream(dir / "text.tif") << "not a raster at all\n";
    std::vector<std::string> args;
    for (std::string a : GetParam().args) {
        if (a.size() > 1 && a[0] == '@') a = dir / a.substr(1);
        args.push_back(a);
    }
    const ToolRun run = convert(args);
    EXPECT_EQ(GetParam().code, run.code);
    EXPECT_NE(std::string::npos, run.err.find(GetParam().says)) << run.err;
    EXPECT_EQ(std::vector<std::string>({"empty.tif", "geo.tif", "plain.png", "text.tif"}), dir.entries());
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeightmapRefusals,
    ::testing::Values(
        Refusal{"not_a_raster", {"@text.tif", "@o.map"}, 1, "not a raster that can be read"},
        Refusal{"all_nodata", {"@empty.tif", "@o.map"}, 1, "holds no data"},
        Refusal{"metres_without_georeference", {"--hex-m", "100", "@plain.png", "@o.map"}, 1, "georeferenced"},
        Refusal{"too_many_cells", {"--cols", "65536", "@plain.png", "@o.map"}, 1, "more than the"},
        Refusal{"hexes_larger_than_raster", {"--hex-m", "1e6", "@geo.tif", "@o.map"}, 1, "larger than the raster"},
        Refusal{"missing_file", {"@none.tif", "@o.map"}, 1, "not a raster"},
        Refusal{"both_sizes", {"--cols", "4", "--hex-m", "30", "@plain.png", "@o.map"}, 2, "give one of them"},
        Refusal{"cols_zero", {"--cols", "0", "@plain.png", "@o.map"}, 2, "from 1 to 65536"},
        Refusal{"bad_levels", {"--levels", "log", "@plain.png", "@o.map"}, 2, "linear or quantile"},
        Refusal{"bad_sea_level", {"--sea-level", "deep", "@plain.png", "@o.map"}, 2, "must be a number"},
        Refusal{"option_for_a_map", {"--cols", "4", "@a.map", "@o.tmx"}, 2, "is for heightmaps"},
        Refusal{"not_to_a_map", {"@plain.png", "@o.tmx"}, 2, "converts to a Tarven map"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
