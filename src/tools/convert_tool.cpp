#include "convert.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hexgeometry.h"
#include "hxmap.h"
#include "hxterrains.h"
#include "mapexchange.h"
#include "pngbands.h"
#include "textlabels.h"
#include "tilemap.h"
#include "tools.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-convert [--zoom Z] [--encoding E] [--quiet] INPUT OUTPUT\n"
    "Converts a Tarven map (.map) to a Tiled hexagonal map (.tmx or .tmj) and\n"
    "back; .tmx and .tmj also convert into each other. The extensions tell\n"
    "the direction. An exported map comes with two tileset images beside it,\n"
    "OUTPUT-terrains.png and OUTPUT-elevations.png.\n"
    "\n"
    "  --zoom Z       Tarven zoom of the tiles (default 31: 42 x 32 tiles);\n"
    "                 one whose pitch Z+1 and hex width 4(Z+1)/3 are both even,\n"
    "                 such as 11, 23, 31 or 47\n"
    "  --encoding E   layer data: csv, base64, zlib (default), gzip or zstd\n"
    "  --quiet        no progress, no notes on guessed cells\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Exit status: 0 converted, 1 failed (nothing written), 2 bad arguments.\n";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool parseInt(const std::string& text, int& value) {
    const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
    std::size_t i = sign ? 1 : 0;
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(text[i]) - 48u;
        if (d > 9) return false;
        if (v < (1LL << 40)) v = v * 10 + d;
    }
    if (sign && text[0] == '-') v = -v;
    v = std::max<long long>(std::numeric_limits<int>::min(), std::min<long long>(std::numeric_limits<int>::max(), v));
    value = static_cast<int>(v);
    return true;
}

std::string extensionOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

bool isTiled(const std::string& ext) { return ext == "tmx" || ext == "tmj"; }

// Follows symbolic links, so that the file a link points to is replaced
// and the link kept. False for a loop of links or an unreadable link.
bool resolveTarget(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat ls;
        if (::lstat(target.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode)) return true;
        std::vector<char> link(static_cast<std::size_t>(ls.st_size > 0 ? ls.st_size : 255) + 1);
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
        std::string next(link.data(), static_cast<std::size_t>(n));
        if (next[0] != '/') {
            const std::size_t slash = target.rfind('/');
            next = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + next;
        }
        target = next;
    }
    return false;
}

// Refuses, before any work, an output that is the input (links followed),
// one that exists and is not a regular file, and one the user may not write.
bool checkOutput(const std::string& output, const std::string& input, std::string& error) {
    struct stat os, is;
    if (::stat(output.c_str(), &os) != 0) return true;
    if (::stat(input.c_str(), &is) == 0 && os.st_dev == is.st_dev && os.st_ino == is.st_ino) {
        error = quoted(output) + " is the input; it is never replaced";
        return false;
    }
    if (!S_ISREG(os.st_mode)) {
        error = "cannot write " + quoted(output) + (S_ISDIR(os.st_mode) ? ": it is a folder" : ": it is not a regular file");
        return false;
    }
    if (::access(output.c_str(), W_OK) != 0) {
        error = "cannot write " + quoted(output) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// One output written through a temporary file beside its target and
// renamed over it by commit(); removed unless committed.
class Staged {
public:
    Staged() = default;
    Staged(const Staged&) = delete;
    Staged& operator=(const Staged&) = delete;
    ~Staged() { discard(); }

    bool open(const std::string& path, std::string& error) {
        path_ = path;
        if (!resolveTarget(path, target_)) {
            error = "cannot write " + quoted(path) + ": too many levels of symbolic links";
            return false;
        }
        struct stat st;
        exists_ = ::stat(target_.c_str(), &st) == 0;
        mode_ = exists_ ? (st.st_mode & 07777) : 0;
        if (!exists_) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode_ = 0666 & ~mask;
        }
        const std::size_t slash = target_.rfind('/');
        const std::string dir = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        tmp_ = dir + "." + base.substr(0, std::min<std::size_t>(base.size(), 255 - 8)) + ".XXXXXX";
        const int fd = ::mkstemp(&tmp_[0]);
        if (fd < 0) {
            error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
            tmp_.clear();
            return false;
        }
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            discard();
            error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    std::FILE* stream() { return file_; }

    bool commit(std::string& error) {
        bool ok = std::fflush(file_) == 0 && ::fchmod(::fileno(file_), mode_) == 0 && ::fsync(::fileno(file_)) == 0;
        int why = errno;
        if (std::fclose(file_) != 0 && ok) {
            ok = false;
            why = errno;
        }
        file_ = nullptr;
        if (ok && ::rename(tmp_.c_str(), target_.c_str()) != 0) {
            ok = false;
            why = errno;
        }
        if (!ok) {
            discard();
            error = "cannot write " + quoted(path_) + ": " + std::strerror(why);
            return false;
        }
        tmp_.clear();
        return true;
    }
    void discard() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
        if (!tmp_.empty()) ::unlink(tmp_.c_str());
        tmp_.clear();
    }

private:
    std::string path_, target_, tmp_;
    bool exists_ = false;
    mode_t mode_ = 0;
    std::FILE* file_ = nullptr;
};

bool writeText(Staged& file, const std::string& text, const std::string& path, std::string& error) {
    if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) {
        error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool writeImage(Staged& file, int zoom, const std::vector<std::pair<char, int>>& tiles, const std::string& path,
                std::string& error) {
    int width = 0, height = 0;
    const std::vector<hxpic::Pixel> pixels = tilesetPixels(zoom, tiles, width, height);
    pngbands::Settings settings;
    settings.zlibLevel = 9;
    std::string why;
    const pngbands::Result r = pngbands::write(
        file.stream(), width, height, settings,
        [&](int top, int rows, hxpic::Pixel* out) {
            std::memcpy(out, pixels.data() + static_cast<std::size_t>(top) * width,
                        static_cast<std::size_t>(rows) * width * sizeof(hxpic::Pixel));
        },
        why);
    if (r != pngbands::Result::Written) {
        error = "cannot write " + quoted(path) + ": " + why;
        return false;
    }
    return true;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool parseConvertArguments(const std::vector<std::string>& args, ConvertOptions& o, std::string& reason) {
    std::vector<std::string> files;
    bool optionsEnd = false;
    bool zoomGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnd || a.size() < 2 || a[0] != '-') {
            files.push_back(a);
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        const std::size_t eq = a.find('=');
        if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        if (name == "--") {
            optionsEnd = true;
        } else if ((name == "--help" || name == "--version" || name == "--quiet") && !hasValue) {
            (name == "--help" ? o.help : name == "--version" ? o.version : o.quiet) = true;
        } else if (name == "--zoom" || name == "--encoding") {
            if (!hasValue) {
                if (i + 1 == args.size()) {
                    reason = name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            if (name == "--encoding") {
                if (!exchange::parseEncoding(value, o.encoding)) {
                    reason = "the encoding must be csv, base64, zlib, gzip or zstd, not " + quoted(value);
                    return false;
                }
            } else if (!parseInt(value, o.zoom)) {
                reason = "the zoom must be a whole number, not " + quoted(value);
                return false;
            } else {
                zoomGiven = true;
            }
        } else {
            reason = "unknown option " + quoted(a);
            return false;
        }
    }
    if (o.help || o.version) return true;
    if (files.size() != 2) {
        reason = files.size() < 2 ? "an input and an output file are needed" : "too many file names";
        return false;
    }
    o.input = files[0];
    o.output = files[1];
    const std::string in = extensionOf(o.input), out = extensionOf(o.output);
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

std::string tilesetImagePath(const std::string& mapPath, const char* which) {
    const std::size_t slash = mapPath.rfind('/');
    const std::size_t dot = mapPath.rfind('.');
    const std::string stem =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? mapPath : mapPath.substr(0, dot);
    return stem + "-" + which + ".png";
}

std::vector<hxpic::Pixel> tilesetPixels(int zoom, const std::vector<std::pair<char, int>>& tiles, int& width,
                                        int& height) {
    const int p = hexgeom::pitch(zoom);
    const int w = 4 * p / 3;
    const int count = std::max<int>(1, static_cast<int>(tiles.size()));
    const int columns = std::min(count, exchange::kImageColumns);
    const int rows = (count + exchange::kImageColumns - 1) / exchange::kImageColumns;
    width = columns * w;
    height = rows * p;
    std::vector<hxpic::Pixel> pixels(static_cast<std::size_t>(width) * height, 0);
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    PangoLabelFont labels;
    // Each tile is cell (1, 0) of a two-cell map seen from column 1: an odd
    // column, so its hexagon starts at the top-left corner of its box.
    HxMap cell(2, 1);
    for (std::size_t k = 0; k < tiles.size(); ++k) {
        cell.st(1, 0, tiles[k].first);
        cell.se(1, 0, static_cast<char>(tiles[k].second));
        const int tx = static_cast<int>(k % exchange::kImageColumns) * w;
        const int ty = static_cast<int>(k / exchange::kImageColumns) * p;
        hxpic::Target target{pixels.data() + static_cast<std::size_t>(ty) * width + tx, w, p, width,
                             hexgeom::Point{0, 0}};
        const hxpic::Picture picture{cell, colours, zoom, hexgeom::Point{1, 0}, hexgeom::CellRange{1, 0, 1, 0},
                                     hexgeom::hasLabels(zoom) ? &labels : nullptr};
        hxpic::draw(picture, hxpic::Clip{0, 0, w, p}, target);
    }
    return pixels;
}

int runConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ConvertOptions o;
    std::string reason;
    if (!parseConvertArguments(args, o, reason)) {
        err << "tarven-convert: " << reason << "\n" << kUsage;
        return kMisuse;
    }
    if (o.help) {
        out << kUsage;
        return kDone;
    }
    if (o.version) {
        out << "tarven-convert (Tarven) " << TARVEN_VERSION << "\n";
        return kDone;
    }
    const std::string inExt = extensionOf(o.input), outExt = extensionOf(o.output);
    std::vector<std::string> outputs{o.output};
    if (isTiled(outExt)) {
        outputs.push_back(tilesetImagePath(o.output, "terrains"));
        outputs.push_back(tilesetImagePath(o.output, "elevations"));
    }
    std::string error;
    for (const std::string& path : outputs)
        if (!checkOutput(path, o.input, error)) {
            err << "tarven-convert: " << error << "\n";
            return kFailed;
        }

    HxMap map(0, 0);
    if (inExt == "map") {
        LoadHooks hooks;
        hooks.warning = [&](const std::string& line) { err << "tarven-convert: " << quoted(o.input) << ": " << line << "\n"; };
        const bool loaded = map.loadMap(o.input.c_str(), hooks);
        std::fflush(stdout);
        if (!loaded) return kFailed;
    } else {
        exchange::TileMap tiles;
        std::uint64_t guessed = 0;
        if (!exchange::readTileMap(o.input, exchange::Limits{}, tiles, error) ||
            !exchange::importMap(tiles, map, guessed, error)) {
            err << "tarven-convert: " << quoted(o.input) << ": " << error << "\n";
            return kFailed;
        }
        if (guessed > 0 && !o.quiet)
            err << "tarven-convert: " << quoted(o.input) << ": " << guessed << " of "
                << static_cast<std::uint64_t>(map.xs()) * static_cast<std::uint64_t>(map.ys())
                << " cells carry no Tarven terrain; their terrain was guessed from the tile names or set to '?'\n";
    }

    if (outExt == "map") {
        if (!map.saveMap(o.output.c_str())) {
            std::fflush(stdout);
            err << "tarven-convert: cannot write " << quoted(o.output) << "\n";
            return kFailed;
        }
        return kDone;
    }

    const exchange::ExportedMap exported =
        exchange::exportMap(map, o.zoom, baseName(outputs[1]), baseName(outputs[2]));
    std::vector<std::pair<char, int>> terrainTiles, elevationTiles;
    for (char t : exported.terrains) terrainTiles.emplace_back(t, 0);
    for (int e : exported.elevations) elevationTiles.emplace_back('^', e);
    const std::string text = outExt == "tmx" ? exchange::writeTmx(exported.tiles, o.encoding)
                                             : exchange::writeTmj(exported.tiles, o.encoding);
    Staged files[3];
    bool ok = files[0].open(outputs[0], error) && writeText(files[0], text, outputs[0], error) &&
              files[1].open(outputs[1], error) && writeImage(files[1], o.zoom, terrainTiles, outputs[1], error) &&
              files[2].open(outputs[2], error) && writeImage(files[2], o.zoom, elevationTiles, outputs[2], error);
    // The images first: a map whose images are missing does not open.
    ok = ok && files[1].commit(error) && files[2].commit(error) && files[0].commit(error);
    if (!ok) {
        err << "tarven-convert: " << error << "\n";
        return kFailed;
    }
    return kDone;
}

}  // namespace tools
