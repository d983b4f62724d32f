#include "tools.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <ostream>

#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "outputfile.h"
#include "pngbands.h"
#include "progress.h"
#include "textlabels.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-render [OPTIONS] INPUT.map OUTPUT.png\n"
    "Draws a map as a PNG picture, as a map window scrolled to cell (X, Y)\n"
    "at zoom N shows it: dots up to zoom 7, hexes from zoom 8, elevation\n"
    "labels from zoom 16.\n"
    "\n"
    "  --zoom N          zoom 0..64 (default 8; values outside are clamped)\n"
    "  --cells X,Y,W,H   only columns X..X+W-1 and rows Y..Y+H-1 (default: all)\n"
    "  --max-pixels N    refuse pictures of more than N pixels\n"
    "                    (default 10000000000)\n"
    "  -q, --quiet       no progress display\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 failed (map not loaded, picture refused or not\n"
    "written), 2 bad arguments; 128 + N when ended by signal N (the partly\n"
    "written picture is removed).\n";

// The kinds of picture the output's extension chooses from.
struct OutputKind {
    const char* extension;   // lower case, without the dot
};
const OutputKind kOutputKinds[] = {
    {"png"},
};

std::string supportedExtensions() {
    std::string list;
    for (const OutputKind& kind : kOutputKinds) list += std::string(list.empty() ? "" : ", ") + "." + kind.extension;
    return list;
}

bool knownOutputKind(const std::string& path) {
    const std::string extension = extensionOf(path);
    for (const OutputKind& kind : kOutputKinds)
        if (extension == kind.extension) return true;
    return false;
}

// A decimal integer with an optional sign, saturated to the long long range
// given.
bool parseInteger(const std::string& text, long long low, long long high, long long& value) {
    const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
    const bool negative = sign && text[0] == '-';
    std::size_t i = sign ? 1 : 0;
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(text[i]) - 48u;
        if (d > 9) return false;
        if (v < (1LL << 58)) v = v * 10 + d;
    }
    if (negative) v = -v;
    value = std::max(low, std::min(high, v));
    return true;
}

bool parseInt(const std::string& text, int& value) {
    long long v = 0;
    if (!parseInteger(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), v)) return false;
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

// Every colour the picture can hold: the cells' colours, the outline, the
// label ink and transparent. `used` gets the label values drawn.
std::vector<hxpic::Pixel> pictureColours(const HxMap& map, const hxpic::Colours& colours, int zoom,
                                         const hexgeom::CellRange& cells, bool used[128]) {
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
    if (hexgeom::hasLabels(zoom)) list.push_back(hxpic::kBlack);   // the labels' ink
    return list;
}

// Labels for a picture at a label zoom whose cells have none.
class NoLabels : public hxpic::LabelFont {
public:
    const hxpic::Label& label(int) override { return empty; }
    hxpic::Pixel ink() const override { return hxpic::kBlack; }

private:
    hxpic::Label empty;
};

// Pango and fontconfig end the process, instead of failing, when memory
// runs out while they start (a thread they cannot create, an allocation
// refused), or draw wrong labels. Under an address-space limit they start
// only with room to spare: measured, they need about 8 MB of address space
// and three threads' stacks; the room is twice that and more.
bool roomForFonts() {
    rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    std::size_t stackSize = std::size_t(8) << 20;
    pthread_attr_t attributes;
    if (::pthread_getattr_default_np(&attributes) == 0) {
        std::size_t size = 0;
        if (::pthread_attr_getstacksize(&attributes, &size) == 0 && size > 0) stackSize = size;
        ::pthread_attr_destroy(&attributes);
    }
    const std::size_t room = (std::size_t(20) << 20) + 3 * std::min<std::size_t>(stackSize, std::size_t(1) << 30);
    void* probe = ::mmap(nullptr, room, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (probe == MAP_FAILED) return false;
    ::munmap(probe, room);
    return true;
}

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
        } else if ((name == "--quiet" || name == "-q") && !hasValue) {
            o.quiet = true;
        } else if (name == "--zoom" || name == "--cells" || name == "--max-pixels") {
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
            } else if (name == "--max-pixels") {
                long long limit = 0;
                if (!parseInteger(value, 0, std::numeric_limits<long long>::max(), limit) || limit < 1 ||
                    value[0] == '-') {
                    reason = "--max-pixels wants a whole number of at least 1, not " + quoted(value);
                    return false;
                }
                o.maxPixels = limit;
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
    if (!knownOutputKind(o.output)) {
        reason = "cannot tell the kind of picture of " + quoted(o.output) + " by its extension; supported: " +
                 supportedExtensions();
        return false;
    }
    return true;
}

hexgeom::CellRange renderCells(const RenderOptions& o, const HxMap& map) {
    if (o.wholeMap) return hexgeom::CellRange{0, 0, map.xs() - 1, map.ys() - 1};
    const long long x2 = static_cast<long long>(o.cellX) + o.cellW - 1;
    const long long y2 = static_cast<long long>(o.cellY) + o.cellH - 1;
    return hexgeom::CellRange{o.cellX, o.cellY, static_cast<int>(std::min<long long>(x2, map.xs() - 1)),
                              static_cast<int>(std::min<long long>(y2, map.ys() - 1))};
}

PictureSize pictureSize(int zoom, const hexgeom::CellRange& cells) {
    if (cells.empty()) return {};
    // The picture grows by one pitch per column and per row beyond the
    // first two; the picture core measures the first two, whose shape
    // (which columns sit lower, how far a hexagon reaches) decides the
    // rest, in sizes that cannot overflow.
    const int x2 = cells.x1 + std::min(cells.x2 - cells.x1, 1);
    const int y2 = cells.y1 + std::min(cells.y2 - cells.y1, 1);
    const hexgeom::PixelRect box =
        hxpic::pictureBox(zoom, hexgeom::CellRange{cells.x1, cells.y1, x2, y2}, hexgeom::Point{cells.x1, cells.y1});
    const long long p = hexgeom::pitch(hexgeom::clampZoom(zoom));
    PictureSize size;
    size.width = std::max(0LL, static_cast<long long>(box.x) + box.w + (static_cast<long long>(cells.x2) - x2) * p);
    size.height = std::max(0LL, static_cast<long long>(box.y) + box.h + (static_cast<long long>(cells.y2) - y2) * p);
    return size;
}

bool checkPictureSize(const PictureSize& size, long long maxPixels, std::string& reason) {
    const std::string both = std::to_string(size.width) + " x " + std::to_string(size.height);
    if (size.width < 1 || size.height < 1) {
        reason = "the picture would be " + both + " pixels: empty";
        return false;
    }
    if (size.width > kMaxPictureWidth) {
        reason = "the picture would be " + std::to_string(size.width) + " pixels wide; it can be at most " +
                 std::to_string(kMaxPictureWidth);
        return false;
    }
    if (size.height > kMaxPictureHeight) {
        reason = "the picture would be " + std::to_string(size.height) + " pixels high; a PNG file holds at most " +
                 std::to_string(kMaxPictureHeight);
        return false;
    }
    // Both sides are below 2^31 here, so their product fits.
    const long long pixels = size.width * size.height;
    if (pixels > maxPixels) {
        reason = "the picture would be " + both + " = " + std::to_string(pixels) + " pixels, more than the limit of " +
                 std::to_string(maxPixels) + "; --max-pixels " + std::to_string(pixels) + " allows it";
        return false;
    }
    return true;
}

bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, std::string& error, Progress* progress) {
    const PictureSize size = pictureSize(zoom, cells);
    if (!checkPictureSize(size, std::numeric_limits<long long>::max(), error)) return false;
    const int width = static_cast<int>(size.width), height = static_cast<int>(size.height);
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    bool usedLabel[128] = {};
    pngbands::Settings settings;
    settings.bandRows = bandRows;
    settings.colours = pictureColours(map, colours, zoom, cells, usedLabel);

    // The text library starts only for labels that are drawn.
    NoLabels noLabels;
    std::unique_ptr<PangoLabelFont> pango;
    hxpic::LabelFont* labels = nullptr;
    if (hexgeom::hasLabels(zoom)) {
        labels = &noLabels;
        if (std::find(usedLabel + 1, usedLabel + 128, true) != usedLabel + 128) {
            if (!roomForFonts()) {
                error = "out of memory: the label font cannot start within the address-space limit (ulimit -v)";
                return false;
            }
            pango.reset(new PangoLabelFont);
            labels = pango.get();
        }
    }

    // A band needs the cell rows whose pixels can reach it: a hexagon spans
    // 1.5 rows of cells with the even columns' offset, and a label may
    // stick out of its hexagon by some rows more. Making the labels here
    // also keeps the text library out of the drawing.
    const hexgeom::Point viewStart{cells.x1, cells.y1};
    const int p = hexgeom::pitch(zoom);
    int reach = 2;
    if (pango) {
        int overhang = 0;
        for (int v = 1; v < 128; ++v) {
            if (!usedLabel[v]) continue;
            const hxpic::Label& l = pango->label(v);
            int top = 0, bottom = l.h;
            for (const hxpic::Span& s : l.ink) {
                top = std::min(top, s.y);
                bottom = std::max(bottom, s.y + 1);
            }
            overhang = std::max({overhang, l.h - top, bottom + l.h});
        }
        reach += overhang / p + 1;
    }
    hxpic::Picture picture{map, colours, zoom, viewStart, cells, labels};
    const pngbands::DrawBand draw = [&](int top, int rows, hxpic::Pixel* pixels) {
        if (progress) progress->update(static_cast<double>(top) / height);
        hxpic::Picture band = picture;
        band.cells.y1 = std::max(cells.y1, viewStart.y + hexgeom::floorDiv(top, p) - reach);
        band.cells.y2 = std::min(cells.y2, viewStart.y + hexgeom::floorDiv(top + rows - 1, p) + reach);
        if (band.cells.empty()) return;
        hxpic::Target target{pixels, width, rows, width, hexgeom::Point{0, top}};
        hxpic::draw(band, hxpic::Clip{0, top, width, top + rows}, target);
    };

    OutputFile file;
    if (!file.open(path, error)) return false;
    std::string why;
    pngbands::Result result = pngbands::write(file.stream(), width, height, settings, draw, why);
    if (result == pngbands::Result::ColourMissing) {
        // A colour no table foresaw: start again as a full-colour picture.
        settings.colours.clear();
        std::rewind(file.stream());
        if (::ftruncate(file.fd(), 0) == 0) result = pngbands::write(file.stream(), width, height, settings, draw, why);
        else why = std::strerror(errno);
    }
    if (progress) progress->finish();
    if (result != pngbands::Result::Written) {
        error = "cannot write " + quoted(path) + ": " + (why.empty() ? "unknown error" : why);
        return false;
    }
    return file.commit(error);
}

int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const char* const tool = "tarven-render";
    RenderOptions options;
    std::string reason;
    if (!parseRenderArguments(args, options, reason)) {
        err << tool << ": " << reason << "\n" << kUsage;
        return kMisuse;
    }
    if (options.help || options.version) {
        if (options.help) out << kUsage;
        else out << tool << " (Tarven) " << TARVEN_VERSION << "\n";
        return flushed(tool, out, err) ? kDone : kFailed;
    }
    try {
        std::string error;
        if (!checkOutput(options.output, {options.input}, error)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        HxMap map(0, 0);
        if (!loadMapFor(tool, options.input, map, err)) return kFailed;
        const hexgeom::CellRange cells = renderCells(options, map);
        if (cells.empty()) {
            err << tool << ": the cells " << options.cellX << "," << options.cellY << "," << options.cellW << ","
                << options.cellH << " lie outside the map of " << map.xs() << " x " << map.ys() << " cells\n"
                << kUsage;
            return kMisuse;
        }
        if (!checkPictureSize(pictureSize(options.zoom, cells), options.maxPixels, error)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        // The name alone: a line that wraps cannot be rewritten in place.
        const std::size_t slash = options.output.rfind('/');
        Progress progress("Drawing " + quoted(slash == std::string::npos ? options.output : options.output.substr(slash + 1)),
                          options.quiet);
        if (!writePicture(map, options.zoom, cells, options.output, 0, error, &progress)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        return kDone;
    } catch (const std::bad_alloc&) {
        err << tool << ": out of memory\n";
        return kFailed;
    }
}

}  // namespace tools
