#include "tilestool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "outputfile.h"
#include "pngbands.h"
#include "progress.h"
#include "textlabels.h"
#include "toolargs.h"
#include "tools.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-tiles [--max-pitch N] [--max-tiles N] [-q] INPUT.map OUTDIR\n"
    "Writes a map as a zoomable web map: OUTDIR/index.html, a pyramid of\n"
    "256 x 256 tiles in OUTDIR/tiles/Z/X/Y.png and the viewer library. Open\n"
    "index.html in a browser, from the disk or from any web server.\n"
    "\n"
    "  --max-pitch N    pixels from cell to cell at the deepest level: 1, 2, 4,\n"
    "                   8, 16, 32 or 64 (default 32); each level above halves it\n"
    "  --max-tiles N    refuse to write more tiles than this (default 100000)\n"
    "  --leaflet DIR    where the viewer library is (default\n"
    "                   /usr/share/javascript/leaflet)\n"
    "  -q, --quiet      show no progress\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 failed, 2 bad arguments or too many tiles.\n";

const char* const kTool = "tarven-tiles";

// The widest and highest level drawn: every pixel of it, and the last
// tile's far edge, must stay an int.
constexpr long long kMaxLevelSide = 1LL << 30;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A folder that exists, made if it does not.
bool makeFolder(const std::string& path, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        error = "cannot write into " + quoted(path) + ": it is not a folder";
        return false;
    }
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    error = "cannot make the folder " + quoted(path) + ": " + std::strerror(errno);
    return false;
}

// Writes one file through a temporary file; `fill` writes its content.
// The many files of the folder are made durable together at the end, by
// syncFolder(); a sync per tile would take most of the time.
template <typename Fill>
bool writeOutput(const std::string& path, const std::vector<std::string>& inputs, Fill fill, std::string& error,
                 bool durable = false) {
    if (!checkOutput(path, inputs, error)) return false;
    OutputFile file;
    if (!durable) file.deferSync();
    if (!file.open(path, error)) return false;
    if (!fill(file.stream(), error)) {
        file.discard();
        if (error.empty()) error = "cannot write " + quoted(path);
        return false;
    }
    if (std::ferror(file.stream())) {
        file.discard();
        error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    return file.commit(error);
}

bool writeText(const std::string& path, const std::vector<std::string>& inputs, const std::string& text,
               std::string& error, bool durable = false) {
    return writeOutput(path, inputs,
                       [&](std::FILE* f, std::string&) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); },
                       error, durable);
}

// Everything written so far into the folder's file system, to the disk.
bool syncFolder(const std::string& folder, std::string& error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::syncfs(fd) == 0;
    if (!ok) error = "cannot write into " + quoted(folder) + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return ok;
}

bool copyFile(const std::string& from, const std::string& to, const std::vector<std::string>& inputs,
              std::string& error) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) {
        error = "cannot read " + quoted(from) + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = writeOutput(to, inputs,
                                [&](std::FILE* out, std::string& why) {
                                    char buffer[1 << 16];
                                    std::size_t n;
                                    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
                                        if (std::fwrite(buffer, 1, n, out) != n) return false;
                                    if (std::ferror(in)) {
                                        why = "cannot read " + quoted(from) + ": " + std::strerror(errno);
                                        return false;
                                    }
                                    return true;
                                },
                                error);
    std::fclose(in);
    return ok;
}

// The viewer library: its script, its style sheet and the images the style
// sheet names.
bool copyLeaflet(const std::string& from, const std::string& outdir, const std::vector<std::string>& inputs,
                 std::string& error) {
    struct stat st;
    if (::stat((from + "/leaflet.js").c_str(), &st) != 0) {
        error = "the viewer library is not in " + quoted(from) +
                " (Debian package libjs-leaflet; --leaflet names another folder)";
        return false;
    }
    const std::string to = outdir + "/leaflet";
    if (!makeFolder(to, error) || !makeFolder(to + "/images", error)) return false;
    if (!copyFile(from + "/leaflet.js", to + "/leaflet.js", inputs, error) ||
        !copyFile(from + "/leaflet.css", to + "/leaflet.css", inputs, error))
        return false;
    if (DIR* dir = ::opendir((from + "/images").c_str())) {
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) names.push_back(name);
        }
        ::closedir(dir);
        for (const std::string& name : names)
            if (!copyFile(from + "/images/" + name, to + "/images/" + name, inputs, error)) return false;
    }
    return true;
}

// A JavaScript string literal holding the bytes as character codes 0..255.
void appendJsString(std::string& out, const char* bytes, std::size_t n) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\' || c == '<') {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

std::string jsString(const std::string& s) {
    std::string out;
    appendJsString(out, s.data(), s.size());
    return out;
}

// What the page needs to know about the map, small whatever its size.
std::string mapData(const HxMap& map, const std::string& name, int maxPitch, const std::vector<TileLevel>& levels) {
    std::ostringstream js;
    js << "var tarvenMap = {\n  name: " << jsString(name) << ",\n  columns: " << map.xs() << ",\n  rows: " << map.ys()
       << ",\n  maxPitch: " << maxPitch << ",\n  levels: " << levels.size() << ",\n  tileSize: " << kTileSize
       << ",\n  block: " << kCellBlock << ",\n  width: " << levels.back().width
       << ",\n  height: " << levels.back().height << ",\n  terrains: {";
    const HxTerrainSet terrains;
    bool first = true;
    for (const HxTerrainInfo& t : terrains.records()) {
        if (t.name.empty()) continue;
        js << (first ? "\n    " : ",\n    ") << static_cast<int>(static_cast<unsigned char>(t.c)) << ": "
           << jsString(t.name);
        first = false;
    }
    js << "\n  }\n};\n";
    return js.str();
}

// One block of cells for the page: two character codes per cell, terrain
// and elevation byte, row after row.
std::string cellBlock(const HxMap& map, int bx, int by) {
    const int x0 = bx * kCellBlock, y0 = by * kCellBlock;
    const int w = std::min(kCellBlock, map.xs() - x0), h = std::min(kCellBlock, map.ys() - y0);
    std::string cells;
    cells.reserve(static_cast<std::size_t>(w) * h * 2);
    for (int y = y0; y < y0 + h; ++y) {
        const char* t = map.terrainRow(y) + x0;
        const char* e = map.elevationRow(y) + x0;
        for (int x = 0; x < w; ++x) {
            cells += t[x];
            cells += e[x];
        }
    }
    std::string js = "tarvenCells(" + std::to_string(bx) + ", " + std::to_string(by) + ", " + std::to_string(w) + ", ";
    appendJsString(js, cells.data(), cells.size());
    js += ");\n";
    return js;
}

// Draws tiles: one per thread, each with its own label font, so that
// several can draw at once.
class TileDrawer {
public:
    // The label font starts only for a pyramid whose deepest level has
    // labels.
    TileDrawer(const HxMap& map, const hxpic::Colours& colours, bool withLabels) : map(map), colours(colours) {
        if (!withLabels) return;
        labels = std::make_unique<PangoLabelFont>();
        // How far a label can stick out of its hexagon, for the cells a
        // tile must read around its own.
        for (int v = 1; v < 128; ++v) {
            const hxpic::Label& l = labels->label(v);
            int top = 0, bottom = l.h, left = 0, right = l.w;
            for (const hxpic::Span& s : l.ink) {
                top = std::min(top, s.y);
                bottom = std::max(bottom, s.y + 1);
                left = std::min(left, s.x0);
                right = std::max(right, s.x1 + 1);
            }
            labelReach = std::max({labelReach, l.h - top, bottom + l.h, l.w - left, right + l.w});
        }
    }

    bool write(const TileLevel& level, int tx, int ty, const std::string& path, const std::vector<std::string>& inputs,
               std::string& error) {
        const int zoom = level.pitch - 1;
        const int p = level.pitch;
        const int x0 = tx * kTileSize, y0 = ty * kTileSize;
        const int width = static_cast<int>(level.width), height = static_cast<int>(level.height);
        int reach = 2;
        if (hexgeom::hasLabels(zoom)) reach += labelReach / p + 1;
        hexgeom::CellRange cells{std::max(0, x0 / p - reach), std::max(0, y0 / p - reach),
                                 std::min(map.xs() - 1, (x0 + kTileSize) / p + reach),
                                 std::min(map.ys() - 1, (y0 + kTileSize) / p + reach)};
        pngbands::Settings settings;
        settings.bandRows = kTileSize;
        settings.colours = tileColours(zoom, cells);
        const hxpic::Picture picture{map, colours, zoom, hexgeom::Point{0, 0}, cells,
                                     hexgeom::hasLabels(zoom) ? labels.get() : nullptr};
        // The clip box is the level's whole picture, so that a tile holds
        // exactly the pixels the whole picture has there.
        const hxpic::Clip clip{0, 0, width, height};
        const pngbands::DrawBand draw = [&](int top, int rows, hxpic::Pixel* pixels) {
            if (cells.empty()) return;
            hxpic::Target target{pixels, kTileSize, rows, kTileSize, hexgeom::Point{x0, y0 + top}};
            hxpic::draw(picture, clip, target);
        };
        return writeOutput(path, inputs,
                           [&](std::FILE* f, std::string& why) {
                               pngbands::Result r = pngbands::write(f, kTileSize, kTileSize, settings, draw, why);
                               if (r == pngbands::Result::ColourMissing) {
                                   settings.colours.clear();
                                   std::rewind(f);
                                   if (::ftruncate(fileno(f), 0) != 0) return false;
                                   r = pngbands::write(f, kTileSize, kTileSize, settings, draw, why);
                               }
                               if (r != pngbands::Result::Written && !why.empty()) why = "cannot write " + quoted(path) + ": " + why;
                               return r == pngbands::Result::Written;
                           },
                           error);
    }

private:
    // Every colour the cells can give, the outline, the label ink and
    // transparent: a small palette per tile.
    std::vector<hxpic::Pixel> tileColours(int zoom, const hexgeom::CellRange& cells) {
        std::vector<hxpic::Pixel> list{0};
        if (!hexgeom::isDotMap(zoom)) list.push_back(hxpic::kBlack);
        if (hexgeom::hasLabels(zoom)) list.push_back(labels->ink());
        for (int y = cells.y1; y <= cells.y2 && !cells.empty(); ++y) {
            const char* t = map.terrainRow(y);
            const char* e = map.elevationRow(y);
            for (int x = cells.x1; x <= cells.x2; ++x) list.push_back(colours.cell(t[x], e[x]));
            // Keep the list short as it grows: only distinct colours count.
            if (list.size() > 4096) list = pngbands::paletteOrder(list);
        }
        return list;
    }

    const HxMap& map;
    const hxpic::Colours& colours;
    std::unique_ptr<PangoLabelFont> labels;
    int labelReach = 0;
};

std::string levelFolder(const std::string& outdir, std::size_t z) { return outdir + "/tiles/" + std::to_string(z); }

}  // namespace

bool parseTilesArguments(const std::vector<std::string>& args, TilesOptions& o, std::string& reason) {
    const std::vector<OptionSpec> known = {{"--help", false},     {"--version", false},  {"--quiet", false, 'q'},
                                           {"--max-pitch", true}, {"--max-tiles", true}, {"--leaflet", true}};
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanArguments(args, known, given, files, reason)) return false;
    for (const GivenOption& g : given) {
        long long n = 0;
        if (g.name == "--help") {
            o.help = true;
        } else if (g.name == "--version") {
            o.version = true;
        } else if (g.name == "--quiet") {
            o.quiet = true;
        } else if (g.name == "--leaflet") {
            o.leaflet = g.value;
        } else if (g.name == "--max-pitch") {
            if (!parseInteger(g.value, 0, 128, n) || n < 1 || n > 64 || (n & (n - 1)) != 0) {
                reason = "the pitch must be 1, 2, 4, 8, 16, 32 or 64, not " + quoted(g.value);
                return false;
            }
            o.maxPitch = static_cast<int>(n);
        } else {
            if (!parseInteger(g.value, 0, std::numeric_limits<long long>::max(), n) || n < 1) {
                reason = "--max-tiles wants a whole number of at least 1, not " + quoted(g.value);
                return false;
            }
            o.maxTiles = static_cast<std::uint64_t>(n);
        }
    }
    if (o.help || o.version) return true;
    if (files.size() != 2) {
        reason = files.size() < 2 ? "an input map and an output folder are needed" : "too many file names";
        return false;
    }
    o.input = files[0];
    o.outdir = files[1];
    while (o.outdir.size() > 1 && o.outdir.back() == '/') o.outdir.pop_back();
    return true;
}

std::vector<TileLevel> planLevels(int mapW, int mapH, int maxPitch) {
    std::vector<TileLevel> levels;
    if (mapW < 1 || mapH < 1) return levels;
    const hexgeom::CellRange all{0, 0, mapW - 1, mapH - 1};
    for (int p = maxPitch; p >= 1; p /= 2) {
        const PictureSize size = pictureSize(p - 1, all);
        levels.push_back(TileLevel{p, size.width, size.height, 0, 0});
        if ((size.width <= kTileSize && size.height <= kTileSize) || p == 1) break;
    }
    std::reverse(levels.begin(), levels.end());
    // The page places every level by the deepest one's extent, halved per
    // level; the tiles cover that as well as the level's own picture.
    const TileLevel& deepest = levels.back();
    for (std::size_t z = 0; z < levels.size(); ++z) {
        TileLevel& l = levels[z];
        const int shift = static_cast<int>(levels.size() - 1 - z);
        const long long w = std::max(l.width, ((deepest.width - 1) >> shift) + 1);
        const long long h = std::max(l.height, ((deepest.height - 1) >> shift) + 1);
        l.cols = (w + kTileSize - 1) / kTileSize;
        l.rows = (h + kTileSize - 1) / kTileSize;
    }
    return levels;
}

std::uint64_t tileCount(const std::vector<TileLevel>& levels) {
    std::uint64_t n = 0;
    for (const TileLevel& l : levels) n += static_cast<std::uint64_t>(l.cols) * static_cast<std::uint64_t>(l.rows);
    return n;
}

int runTiles(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TilesOptions options;
    std::string reason;
    if (!parseTilesArguments(args, options, reason)) {
        err << "tarven-tiles: " << reason << "\n" << kUsage;
        return kMisuse;
    }
    if (options.help || options.version) {
        if (options.help) out << kUsage;
        else out << "tarven-tiles (Tarven) " << TARVEN_VERSION << "\n";
        return flushed(kTool, out, err) ? kDone : kFailed;
    }
    HxMap map(0, 0);
    if (!loadMapFor(kTool, options.input, map, err)) return kFailed;
    const std::vector<TileLevel> levels = planLevels(map.xs(), map.ys(), options.maxPitch);
    if (levels.empty()) {
        err << "tarven-tiles: the map " << quoted(options.input) << " has no cells\n";
        return kFailed;
    }
    const std::uint64_t tiles = tileCount(levels);
    // Tiles are placed in int pixels, as every picture is.
    if (levels.back().width > kMaxLevelSide || levels.back().height > kMaxLevelSide) {
        err << "tarven-tiles: the map of " << map.xs() << " x " << map.ys() << " cells at pitch " << options.maxPitch
            << " is " << levels.back().width << " x " << levels.back().height << " pixels; a level can be at most "
            << kMaxLevelSide << " pixels wide and high; lower --max-pitch\n";
        return kMisuse;
    }
    if (tiles > options.maxTiles) {
        err << "tarven-tiles: the map of " << map.xs() << " x " << map.ys() << " cells at pitch " << options.maxPitch
            << " makes " << tiles << " tiles, more than " << options.maxTiles
            << "; lower --max-pitch or raise --max-tiles\n";
        return kMisuse;
    }

    const std::vector<std::string> inputs{options.input};
    const std::string& outdir = options.outdir;
    std::string error;
    auto fail = [&]() {
        err << "tarven-tiles: " << error << "\n";
        return kFailed;
    };
    if (!makeFolder(outdir, error) || !makeFolder(outdir + "/tiles", error) || !makeFolder(outdir + "/cells", error))
        return fail();
    if (!copyLeaflet(options.leaflet, outdir, inputs, error)) return fail();

    // The work: blocks of cell data, then the tiles level by level, a row
    // of tiles at a time, shared by two threads.
    const int blocksX = (map.xs() + kCellBlock - 1) / kCellBlock, blocksY = (map.ys() + kCellBlock - 1) / kCellBlock;
    const std::uint64_t blocks = static_cast<std::uint64_t>(blocksX) * blocksY;
    const double total = static_cast<double>(blocks + tiles);
    Progress progress("Drawing tiles", options.quiet);
    std::uint64_t done = 0;
    for (int by = 0; by < blocksY; ++by) {
        const std::string folder = outdir + "/cells/" + std::to_string(by);
        if (!makeFolder(folder, error)) return fail();
        for (int bx = 0; bx < blocksX; ++bx) {
            if (!writeText(folder + "/" + std::to_string(bx) + ".js", inputs, cellBlock(map, bx, by), error))
                return fail();
        }
        done += static_cast<std::uint64_t>(blocksX);
        progress.update(done / total);
    }

    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    const unsigned threads = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    std::vector<std::unique_ptr<TileDrawer>> drawers;
    const bool withLabels = hexgeom::hasLabels(options.maxPitch - 1);
    for (unsigned t = 0; t < threads; ++t) drawers.push_back(std::make_unique<TileDrawer>(map, colours, withLabels));

    for (std::size_t z = 0; z < levels.size(); ++z) {
        const TileLevel& level = levels[z];
        const std::string levelDir = levelFolder(outdir, z);
        if (!makeFolder(levelDir, error)) return fail();
        for (int tx = 0; tx < level.cols; ++tx)
            if (!makeFolder(levelDir + "/" + std::to_string(tx), error)) return fail();
        // Rows of tiles are the bands: each thread takes the next tile of
        // the band until the level is done or a write fails.
        std::atomic<long long> next{0};
        std::atomic<bool> failed{false};
        std::atomic<std::uint64_t> written{0};
        std::mutex mutex;
        std::condition_variable finished;
        unsigned running = threads;
        std::string firstError;
        const long long count = level.cols * level.rows;
        auto work = [&](TileDrawer& drawer) {
            std::string why;
            for (long long i; !failed && (i = next++) < count;) {
                const int ty = static_cast<int>(i / level.cols), tx = static_cast<int>(i % level.cols);
                const std::string path = levelDir + "/" + std::to_string(tx) + "/" + std::to_string(ty) + ".png";
                if (!drawer.write(level, tx, ty, path, inputs, why)) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!failed.exchange(true)) firstError = why;
                    break;
                }
                ++written;
            }
            std::lock_guard<std::mutex> lock(mutex);
            --running;
            finished.notify_all();
        };
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, std::ref(*drawers[t]));
        std::thread first(work, std::ref(*drawers[0]));
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (running > 0) {
                finished.wait_for(lock, std::chrono::milliseconds(200));
                progress.update((done + written) / total);
            }
        }
        first.join();
        for (std::thread& t : pool) t.join();
        if (failed) {
            error = firstError;
            return fail();
        }
        done += static_cast<std::uint64_t>(count);
    }
    progress.finish();
    // The page comes last, once everything it loads is there.
    const std::string name = baseName(options.input);
    if (!syncFolder(outdir, error) ||
        !writeText(outdir + "/map.js", inputs, mapData(map, name, options.maxPitch, levels), error, true) ||
        !writeText(outdir + "/index.html", inputs, webPage(map.xs(), map.ys()), error, true))
        return fail();
    return kDone;
}

}  // namespace tools
