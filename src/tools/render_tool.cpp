#include "tools.h"

#include <algorithm>
#include <array>
#include <memory>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "pngbands.h"
#include "textlabels.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-render [--zoom N] [--cells X,Y,W,H] INPUT.map OUTPUT.png\n"
    "Draws a map as a PNG picture, as a map window scrolled to cell (X, Y)\n"
    "at zoom N shows it: dots up to zoom 7, hexes from zoom 8, elevation\n"
    "labels from zoom 16.\n"
    "\n"
    "  --zoom N         zoom 0..64 (default 8; values outside are clamped)\n"
    "  --cells X,Y,W,H  only columns X..X+W-1 and rows Y..Y+H-1 (default: all)\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 failed (map not loaded, picture not written),\n"
    "2 bad arguments.\n";

// A decimal integer with an optional sign, saturated to the int range.
bool parseInt(const std::string& text, int& value) {
    const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
    const bool negative = sign && text[0] == '-';
    std::size_t i = sign ? 1 : 0;
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(text[i]) - 48u;
        if (d > 9) return false;
        if (v < (1LL << 40)) v = v * 10 + d;
    }
    if (negative) v = -v;
    v = std::max<long long>(std::numeric_limits<int>::min(), std::min<long long>(std::numeric_limits<int>::max(), v));
    value = static_cast<int>(v);
    return true;
}

bool parseCells(const std::string& text, RenderOptions& o) {
    int v[4];
    std::size_t start = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t comma = k < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos || !parseInt(text.substr(start, comma - start), v[k])) return false;
        start = comma + 1;
    }
    if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1) return false;
    o.wholeMap = false;
    o.cellX = v[0];
    o.cellY = v[1];
    o.cellW = v[2];
    o.cellH = v[3];
    return true;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Follows symbolic links, so that writing replaces the file a link points
// to and keeps the link. False for a loop of links or an unreadable link.
bool resolveTarget(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat ls;
        if (::lstat(target.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode)) return true;
        std::string link(static_cast<std::size_t>(ls.st_size > 0 ? ls.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), &link[0], link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(n));
        if (link[0] != '/') {
            const std::size_t slash = target.rfind('/');
            link = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
        }
        target = link;
    }
    return false;
}

// Every colour the picture can hold: the cells' colours, the outline, the
// label ink and transparent.
std::vector<hxpic::Pixel> pictureColours(const HxMap& map, const hxpic::Colours& colours, int zoom,
                                         const hexgeom::CellRange& cells, hxpic::LabelFont& labels,
                                         bool used[128]) {
    bool seen[256][11] = {};
    bool outOfTable = false;
    for (int y = cells.y1; y <= cells.y2; ++y) {
        const char* terrain = map.terrainRow(y);
        const char* elevation = map.elevationRow(y);
        for (int x = cells.x1; x <= cells.x2; ++x) {
            const int e = static_cast<signed char>(elevation[x]);
            if (e >= 0 && e <= 10) seen[static_cast<unsigned char>(terrain[x])][e] = true;
            else outOfTable = true;
            if (e > 0) used[e] = true;
        }
    }
    std::vector<hxpic::Pixel> list{0};
    for (int t = 0; t < 256; ++t)
        for (int e = 0; e <= 10; ++e)
            if (seen[t][e]) list.push_back(colours.at(static_cast<char>(t), e));
    if (outOfTable) list.push_back(colours.at(0, -1));
    if (!hexgeom::isDotMap(zoom)) list.push_back(hxpic::kBlack);
    if (hexgeom::hasLabels(zoom)) list.push_back(labels.ink());
    return list;
}

// The labels of one picture, made before the bands are drawn, so that the
// threads that draw them only read.
class MadeLabels : public hxpic::LabelFont {
public:
    MadeLabels(hxpic::LabelFont& font, const bool used[128]) : ink_(font.ink()) {
        for (int v = 1; v < 128; ++v)
            if (used[v]) labels_[static_cast<std::size_t>(v)] = font.label(v);
    }
    const hxpic::Label& label(int value) override { return labels_[static_cast<std::size_t>(value & 127)]; }
    hxpic::Pixel ink() const override { return ink_; }

private:
    hxpic::Pixel ink_;
    std::array<hxpic::Label, 128> labels_;
};

}  // namespace

bool parseRenderArguments(const std::vector<std::string>& args, RenderOptions& o, std::string& reason) {
    std::vector<std::string> files;
    bool optionsEnd = false;
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
        } else if (name == "--help" && !hasValue) {
            o.help = true;
        } else if (name == "--version" && !hasValue) {
            o.version = true;
        } else if (name == "--zoom" || name == "--cells") {
            if (!hasValue) {
                if (i + 1 == args.size()) {
                    reason = name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            if (name == "--zoom") {
                int zoom = 0;
                if (!parseInt(value, zoom)) {
                    reason = "the zoom must be a whole number, not " + quoted(value);
                    return false;
                }
                o.zoom = hexgeom::clampZoom(zoom);
            } else if (!parseCells(value, o)) {
                reason = "--cells wants X,Y,W,H with X, Y at least 0 and W, H at least 1, not " + quoted(value);
                return false;
            }
        } else {
            reason = "unknown option " + quoted(a);
            return false;
        }
    }
    if (o.help || o.version) return true;
    if (files.size() != 2) {
        reason = files.size() < 2 ? "an input map and an output picture are needed" : "too many file names";
        return false;
    }
    o.input = files[0];
    o.output = files[1];
    return true;
}

hexgeom::CellRange renderCells(const RenderOptions& o, const HxMap& map) {
    if (o.wholeMap) return hexgeom::CellRange{0, 0, map.xs() - 1, map.ys() - 1};
    const long long x2 = static_cast<long long>(o.cellX) + o.cellW - 1;
    const long long y2 = static_cast<long long>(o.cellY) + o.cellH - 1;
    return hexgeom::CellRange{o.cellX, o.cellY, static_cast<int>(std::min<long long>(x2, map.xs() - 1)),
                              static_cast<int>(std::min<long long>(y2, map.ys() - 1))};
}

hexgeom::Point pictureSize(int zoom, const hexgeom::CellRange& cells) {
    if (cells.empty()) return {0, 0};
    const hexgeom::PixelRect box = hxpic::pictureBox(zoom, cells, hexgeom::Point{cells.x1, cells.y1});
    return hexgeom::Point{std::max(0, box.x + box.w), std::max(0, box.y + box.h)};
}

bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, std::string& error) {
    const hexgeom::Point size = pictureSize(zoom, cells);
    if (size.x < 1 || size.y < 1 || size.x > pngbands::kMaxWidth) {
        error = "the picture would be " + std::to_string(size.x) + " x " + std::to_string(size.y) +
                " pixels; it can be 1 to " + std::to_string(pngbands::kMaxWidth) + " pixels wide";
        return false;
    }
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    PangoLabelFont labels;
    bool usedLabel[128] = {};
    pngbands::Settings settings;
    settings.bandRows = bandRows;
    settings.colours = pictureColours(map, colours, zoom, cells, labels, usedLabel);

    // A band needs the cell rows whose pixels can reach it: a hexagon spans
    // 1.5 rows of cells with the even columns' offset, and a label may
    // stick out of its hexagon by some rows more.
    const hexgeom::Point viewStart{cells.x1, cells.y1};
    const int p = hexgeom::pitch(zoom);
    int reach = 2;
    if (hexgeom::hasLabels(zoom)) {
        int overhang = 0;
        for (int v = 1; v < 128; ++v) {
            if (!usedLabel[v]) continue;
            const hxpic::Label& l = labels.label(v);
            int top = 0, bottom = l.h;
            for (const hxpic::Span& s : l.ink) {
                top = std::min(top, s.y);
                bottom = std::max(bottom, s.y + 1);
            }
            overhang = std::max({overhang, l.h - top, bottom + l.h});
        }
        reach += overhang / p + 1;
    }
    MadeLabels madeLabels(labels, usedLabel);
    hxpic::Picture picture{map, colours, zoom, viewStart, cells, hexgeom::hasLabels(zoom) ? &madeLabels : nullptr};
    const auto bandOf = [&](int top, int rows) {
        hxpic::Picture band = picture;
        band.cells.y1 = std::max(cells.y1, viewStart.y + hexgeom::floorDiv(top, p) - reach);
        band.cells.y2 = std::min(cells.y2, viewStart.y + hexgeom::floorDiv(top + rows - 1, p) + reach);
        return band;
    };
    const pngbands::DrawBand draw = [&](int top, int rows, hxpic::Pixel* pixels) {
        const hxpic::Picture band = bandOf(top, rows);
        if (band.cells.empty()) return;
        hxpic::Target target{pixels, size.x, rows, size.x, hexgeom::Point{0, top}};
        hxpic::draw(band, hxpic::Clip{0, top, size.x, top + rows}, target);
    };
    // A picture of up to 256 colours is drawn as palette indices straight
    // away: every colour it can take is in the list above.
    const std::vector<hxpic::Pixel> palette = pngbands::paletteOrder(settings.colours);
    std::unique_ptr<hxpic::Indices> indices;
    if (palette.size() <= 256) {
        indices = std::make_unique<hxpic::Indices>(colours, palette, madeLabels.ink());
        settings.drawIndices = [&](int top, int rows, std::uint8_t* pixels, std::ptrdiff_t stride) {
            const hxpic::Picture band = bandOf(top, rows);
            if (band.cells.empty()) return;
            hxpic::IndexTarget target{pixels, size.x, rows, stride, hexgeom::Point{0, top}};
            hxpic::draw(band, *indices, hxpic::Clip{0, top, size.x, top + rows}, target);
        };
    }

    std::string target;
    if (!resolveTarget(path, target)) {
        error = "cannot write " + quoted(path) + ": too many levels of symbolic links";
        return false;
    }
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    // Only a regular file is replaced: renaming over a device such as
    // /dev/null, or a pipe, would put a file in its place.
    if (exists && !S_ISREG(st.st_mode)) {
        error = "cannot write " + quoted(path) + (S_ISDIR(st.st_mode) ? ": it is a folder" : ": it is not a regular file");
        return false;
    }
    const std::size_t slash = target.rfind('/');
    std::string tmp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." +
                      target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = ::mkstemp(&tmp[0]);
    if (fd < 0) {
        error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~mask);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(tmp.c_str());
        error = "cannot write " + quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    pngbands::Result result = pngbands::write(file, size.x, size.y, settings, draw, why);
    if (result == pngbands::Result::ColourMissing) {
        // A colour no table foresaw: start again as a full-colour picture.
        settings.colours.clear();
        settings.drawIndices = nullptr;
        std::rewind(file);
        if (::ftruncate(fd, 0) == 0) result = pngbands::write(file, size.x, size.y, settings, draw, why);
        else why = std::strerror(errno);
    }
    bool ok = result == pngbands::Result::Written;
    if (ok && (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)) {
        why = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(file) != 0 && ok) {
        why = std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        error = "cannot write " + quoted(path) + ": " + (why.empty() ? "unknown error" : why);
        return false;
    }
    return true;
}

int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    RenderOptions options;
    std::string reason;
    if (!parseRenderArguments(args, options, reason)) {
        err << "tarven-render: " << reason << "\n" << kUsage;
        return kMisuse;
    }
    if (options.help) {
        out << kUsage;
        return kDone;
    }
    if (options.version) {
        out << "tarven-render (Tarven) " << TARVEN_VERSION << "\n";
        return kDone;
    }
    HxMap map(0, 0);
    const bool loaded = map.loadMap(options.input.c_str());
    std::fflush(stdout);
    if (!loaded) return kFailed;
    const hexgeom::CellRange cells = renderCells(options, map);
    if (cells.empty()) {
        err << "tarven-render: the cells " << options.cellX << "," << options.cellY << "," << options.cellW << ","
            << options.cellH << " lie outside the map of " << map.xs() << " x " << map.ys() << " cells\n"
            << kUsage;
        return kMisuse;
    }
    std::string error;
    if (!writePicture(map, options.zoom, cells, options.output, 0, error)) {
        err << "tarven-render: " << error << "\n";
        return kFailed;
    }
    return kDone;
}

}  // namespace tools
