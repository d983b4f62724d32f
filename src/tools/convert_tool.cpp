#include "convert.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hexgeometry.h"
#include "hxmap.h"
#include "hxterrains.h"
#include "mapexchange.h"
#include "outputfile.h"
#include "pngrender.h"
#include "progress.h"
#include "textlabels.h"
#include "tilemap.h"
#include "toolargs.h"
#include "tools.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-convert [--zoom Z] [--encoding E] [--quiet] INPUT OUTPUT\n"
    "       tarven-convert [--cols N | --hex-m M] [--sea-level H] [--levels L]\n"
    "                      IN.tif|IN.png|IN.asc OUT.map\n"
    "Converts a Tarven map (.map) to a Tiled hexagonal map (.tmx or .tmj) and\n"
    "back; .tmx and .tmj also convert into each other. The extensions tell\n"
    "the direction. An exported map comes with two tileset images beside it,\n"
    "named after it and its tile size: OUTPUT-terrains-WxH.png and\n"
    "OUTPUT-elevations-WxH.png (a.tmx-terrains-42x32.png).\n"
    "\n"
    "  --zoom Z       Tarven zoom of the tiles (default: the input's own when\n"
    "                 it is a Tiled map, else 31: 42 x 32 tiles); one whose\n"
    "                 pitch Z+1 and hex width 4(Z+1)/3 are both even, such as\n"
    "                 11, 23, 31 or 47\n"
    "  --encoding E   layer data: csv, base64, zlib (default), gzip or zstd\n"
    "  --cols N       heightmap: N hex columns across the raster\n"
    "  --hex-m M      heightmap: hexes M metres across the flats\n"
    "  --sea-level H  heightmap: samples below H (its units) are water\n"
    "  --levels L     heightmap: elevations linear (default) or quantile\n"
    "  -q, --quiet    no progress, no notes on guessed or changed cells\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Exit status: 0 converted, 1 failed (nothing written), 2 bad arguments;\n"
    "128 + N when ended by signal N (the partly written files are removed).\n";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool isTiled(const std::string& ext) { return ext == "tmx" || ext == "tmj"; }

bool writeText(OutputFile& file, const std::string& text, const std::string& path, std::string& error) {
    if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) {
        error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool writeImage(OutputFile& file, int zoom, const std::vector<std::pair<char, int>>& tiles, const std::string& path,
                std::string& error) {
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    std::unique_ptr<PangoLabelFont> font;
    std::unique_ptr<pngrender::MadeLabels> labels;
    if (hexgeom::hasLabels(zoom)) {
        std::array<bool, 128> used{};
        for (const auto& t : tiles)
            // The label of the elevation byte the cell would hold.
            if (const int v = static_cast<signed char>(static_cast<char>(t.second)); v > 0)
                used[static_cast<std::size_t>(v)] = true;
        font = std::make_unique<PangoLabelFont>();
        labels = std::make_unique<pngrender::MadeLabels>(*font, used);
    }
    std::string why;
    if (!pngrender::Renderer(colours).writeTileset(file.stream(), zoom, tiles, exchange::kImageColumns, labels.get(), 9,
                                                   why)) {
        error = "cannot write " + quoted(path) + ": " + why;
        return false;
    }
    return true;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renames finished outputs over their targets in order, with the signals
// that end the tool held off so that none falls between two renames.
bool commitAll(OutputFile* const* files, std::size_t count, std::string& error) {
    sigset_t stop, before;
    sigemptyset(&stop);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, s);
    pthread_sigmask(SIG_BLOCK, &stop, &before);
    bool ok = true;
    for (std::size_t k = 0; k < count && ok; ++k) ok = files[k]->commit(error);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return ok;
}

std::string cellCount(std::uint64_t some, const HxMap& map) {
    return std::to_string(some) + " of " +
           std::to_string(static_cast<std::uint64_t>(map.xs()) * static_cast<std::uint64_t>(map.ys())) + " cells";
}

}  // namespace

bool parseConvertArguments(const std::vector<std::string>& args, ConvertOptions& o, std::string& reason) {
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanToolArguments(args,
                           {{"--zoom", true}, {"--encoding", true}, {"--cols", true}, {"--hex-m", true},
                            {"--sea-level", true}, {"--levels", true}},
                           true, 2,
                           "an input and an output file are needed", o, given, files, reason))
        return false;
    bool zoomGiven = false;
    for (const GivenOption& g : given) {
        if (parseHeightmapOption(g.name, g.value, o, reason)) {
            if (!reason.empty()) return false;
        } else if (g.name == "--encoding") {
            if (!exchange::parseEncoding(g.value, o.encoding)) {
                reason = "the encoding must be csv, base64, zlib, gzip or zstd, not " + quoted(g.value);
                return false;
            }
        } else if (!parseInteger("--zoom", g.value, hexgeom::kMinZoom, hexgeom::kMaxZoom, o.zoom, reason)) {
            return false;
        } else {
            zoomGiven = true;
        }
    }
    o.zoomGiven = zoomGiven;
    if (o.help || o.version) return true;
    o.input = files[0];
    o.output = files[1];
    const std::string in = extensionOf(o.input), out = extensionOf(o.output);
    if (exchange::isHeightmapExtension(in) || !o.heightmapGiven.empty()) {
        if (!exchange::isHeightmapExtension(in)) {
            reason = o.heightmapGiven[0] + " is for heightmaps (.tif, .png or .asc), not " + quoted(o.input);
            return false;
        }
        if (out != "map") {
            reason = "a heightmap converts to a Tarven map (.map), not " + quoted(o.output);
            return false;
        }
        if (o.heightmap.cols > 0 && o.heightmap.hexMetres > 0) {
            reason = "--cols and --hex-m both set the size of the hexes: give one of them";
            return false;
        }
        return true;
    }
    if (in != "map" && !isTiled(in)) {
        reason = "the input " + quoted(o.input) + " is neither a .map, a .tmx nor a .tmj file";
        return false;
    }
    if (out != "map" && !isTiled(out)) {
        reason = "the output " + quoted(o.output) + " is neither a .map, a .tmx nor a .tmj file";
        return false;
    }
    if (in == "map" && out == "map") {
        reason = "both files are Tarven maps: nothing to convert";
        return false;
    }
    if (zoomGiven && isTiled(out) && !exchange::exportZoomWorks(o.zoom)) {
        reason = "Tiled cannot draw zoom " + std::to_string(o.zoom) + " where Tarven does (its pitch " +
                 std::to_string(o.zoom + 1) + " and hex width " + std::to_string(4 * (o.zoom + 1) / 3) +
                 " must both be even, from zoom 8 on); the nearest zooms that work are ";
        const std::vector<int> near = exchange::nearestExportZooms(o.zoom);
        for (std::size_t k = 0; k < near.size(); ++k)
            reason += (k ? " and " : "") + std::to_string(near[k]);
        return false;
    }
    return true;
}

std::string tilesetImagePath(const std::string& mapPath, const char* which, int zoom) {
    const int p = hexgeom::pitch(zoom);
    return mapPath + "-" + which + "-" + std::to_string(4 * p / 3) + "x" + std::to_string(p) + ".png";
}

UnsavableCells countUnsavable(const HxMap& map) {
    // What the .map save writes in place of a byte: '?' for a terrain of NUL
    // or white space (but the blank, written as '.'), and '0' for an
    // elevation whose character (byte + 48) would be NUL or white space.
    auto stops = [](unsigned char c) { return c == 0 || c == ' ' || (c >= 9 && c <= 13); };
    bool terrainLost[256], elevationLost[256];
    for (int b = 0; b < 256; ++b) {
        terrainLost[b] = b != ' ' && stops(static_cast<unsigned char>(b));
        elevationLost[b] = stops(static_cast<unsigned char>((b + 48) & 0xff));
    }
    UnsavableCells n;
    for (int y = 0; y < map.ys(); ++y) {
        const char* t = map.terrainRow(y);
        const char* e = map.elevationRow(y);
        for (int x = 0; x < map.xs(); ++x) {
            n.terrains += terrainLost[static_cast<unsigned char>(t[x])];
            n.elevations += elevationLost[static_cast<unsigned char>(e[x])];
        }
    }
    return n;
}

namespace {

int convert(ConvertOptions o, std::ostream&, std::ostream& err) {
    const std::string inExt = extensionOf(o.input), outExt = extensionOf(o.output);
    if (exchange::isHeightmapExtension(inExt)) return runHeightmapImport(o, err);
    std::string error;
    if (!checkOutput(o.output, {o.input}, error)) {
        err << "tarven-convert: " << printable(error) << "\n";
        return kFailed;
    }

    Progress progress("Converting " + quoted(o.input), o.quiet);
    HxMap map(0, 0);
    if (inExt == "map") {
        if (!loadMapFor("tarven-convert", o.input, map, err)) return kFailed;
    } else {
        exchange::TileMap tiles;
        std::uint64_t guessed = 0;
        if (!exchange::readTileMap(o.input, exchange::Limits{}, tiles, error) ||
            !exchange::importMap(tiles, map, guessed, error)) {
            err << "tarven-convert: " << printable(quoted(o.input) + ": " + error) << "\n";
            return kFailed;
        }
        // A Tiled map converted again keeps its tile size.
        if (!o.zoomGiven && exchange::zoomOf(tiles) > 0) o.zoom = exchange::zoomOf(tiles);
        if (guessed > 0 && !o.quiet)
            err << "tarven-convert: " << quoted(o.input) << ": " << cellCount(guessed, map)
                << " carry no Tarven terrain; their terrain was guessed from the tile names or set to '?'\n";
    }
    progress.update(0.4);

    if (outExt == "map") {
        // Tarven's own save, through the same safe save as every output,
        // whose temporary file the signal clean-up removes.
        const bool saved = map.saveMap(o.output.c_str());
        if (!saved) {
            err << "tarven-convert: " << printable("cannot write " + quoted(o.output) + ": " + map.lastError()) << "\n";
            return kFailed;
        }
        progress.finish();
        // What the save changed, said once it is done.
        const UnsavableCells lost = countUnsavable(map);
        if (lost.terrains > 0 && !o.quiet)
            err << "tarven-convert: " << quoted(o.input) << ": " << cellCount(lost.terrains, map)
                << " have a terrain code (0 or 9 to 13) that a .map file cannot hold; they were written as '?'\n";
        if (lost.elevations > 0 && !o.quiet)
            err << "tarven-convert: " << quoted(o.input) << ": " << cellCount(lost.elevations, map)
                << " have an elevation (-48, -39 to -35 or -16) that a .map file cannot hold; they were written as "
                   "0\n";
        return kDone;
    }

    // The images are named after the output and their tile size, so that
    // no conversion replaces the images another map or another size names.
    const std::vector<std::string> outputs{o.output, tilesetImagePath(o.output, "terrains", o.zoom),
                                           tilesetImagePath(o.output, "elevations", o.zoom)};
    for (std::size_t k = 1; k < outputs.size(); ++k)
        if (!checkOutput(outputs[k], {o.input}, error)) {
            err << "tarven-convert: " << printable(error) << "\n";
            return kFailed;
        }
    // What could not be read back is not written.
    const std::uint64_t cells = static_cast<std::uint64_t>(map.xs()) * static_cast<std::uint64_t>(map.ys());
    if (cells > exchange::Limits{}.maxCells) {
        err << "tarven-convert: " << quoted(o.input) << ": the map of " << map.xs() << " x " << map.ys()
            << " cells is larger than the " << exchange::Limits{}.maxCells << " cells a tile map can have\n";
        return kFailed;
    }
    // The tileset images are drawn with the label font.
    if (!roomForFonts()) {
        err << "tarven-convert: out of memory: the label font cannot start within the address-space limit "
               "(ulimit -v)\n";
        return kFailed;
    }
    const exchange::ExportedMap exported =
        exchange::exportMap(map, o.zoom, baseName(outputs[1]), baseName(outputs[2]));
    std::vector<std::pair<char, int>> terrainTiles, elevationTiles;
    for (char t : exported.terrains) terrainTiles.emplace_back(t, 0);
    for (int e : exported.elevations) elevationTiles.emplace_back('^', e);
    const std::string text = outExt == "tmx" ? exchange::writeTmx(exported.tiles, o.encoding)
                                             : exchange::writeTmj(exported.tiles, o.encoding);
    progress.update(0.8);
    // Every file complete before any replaces its target, the map last: a
    // failure or a signal on the way leaves all the old files as they were.
    OutputFile files[3];
    bool ok = files[0].open(outputs[0], error) && writeText(files[0], text, outputs[0], error) &&
              files[1].open(outputs[1], error) && writeImage(files[1], o.zoom, terrainTiles, outputs[1], error) &&
              files[2].open(outputs[2], error) && writeImage(files[2], o.zoom, elevationTiles, outputs[2], error);
    ok = ok && files[1].finish(error) && files[2].finish(error) && files[0].finish(error);
    OutputFile* const order[] = {&files[1], &files[2], &files[0]};
    ok = ok && commitAll(order, 3, error);
    if (!ok) {
        err << "tarven-convert: " << printable(error) << "\n";
        return kFailed;
    }
    progress.finish();
    return kDone;
}

}  // namespace

int runConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return runTool<ConvertOptions>(Tool{"tarven-convert", kUsage}, args, out, err, parseConvertArguments, convert);
}

}  // namespace tools
