#include "tools.h"

#include <algorithm>
#include <array>
#include <memory>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <limits>
#include <memory>
#include <new>
#include <ostream>

#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cairo.h>
#include <nlohmann/json.hpp>

#include "hxmap.h"
#include "maprows.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "hxvector.h"
#include "outputfile.h"
#include "pngbands.h"
#include "pngrender.h"
#include "poster.h"
#include "progress.h"
#include "textlabels.h"
#include "toolargs.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-render [OPTIONS] INPUT.map OUTPUT.png|OUTPUT.pdf|OUTPUT.svg\n"
    "Draws a map as a picture; the output's extension chooses the format.\n"
    "PNG: as a map window scrolled to cell (X, Y) at zoom N shows it: dots up\n"
    "to zoom 7, hexes from zoom 8, elevation labels from zoom 16.\n"
    "PDF: the region on one page; with --hex-mm or --poster, hexes at a true\n"
    "size, a poster of sheets when they do not fit on one (its plan is told\n"
    "first). SVG: one vector picture at a true size.\n"
    "\n"
    "  --cells X,Y,W,H      only columns X..X+W-1 and rows Y..Y+H-1 (default: all)\n"
    "  --zoom N             PNG: zoom 0..64 (default 8; values outside are clamped)\n"
    "  --fit WxH            PNG: the largest zoom that fits in W x H pixels\n"
    "  --dpi N              PNG: resolution written in the file; with --hex-mm\n"
    "                       the zoom whose hexes come closest to that size\n"
    "  --max-pixels N       PNG: refuse pictures of more than N pixels\n"
    "                       (default 10000000000)\n"
    "  --hex-mm S           hex size across the flats in mm (SVG default 25.4);\n"
    "                       a PDF at that size, as a poster when needed\n"
    "  --poster             PDF: a poster of 25.4 mm hexes (--hex-mm 25.4)\n"
    "  --fit-page           PDF: the whole region on one sheet (the default)\n"
    "  --paper P            PDF: a4, letter, a3 or WxHmm (default a4)\n"
    "  --margin-mm M        PDF: margin of each sheet (default 10)\n"
    "  --overlap-mm O       PDF: picture shared by neighbouring sheets (default 10)\n"
    "  --max-pages N        PDF: largest poster written (default 100)\n"
    "  --background B       none, white or #RRGGBB (default: none for PNG,\n"
    "                       white for PDF and SVG)\n"
    "  --legend             a key of the terrains in the picture\n"
    "  --numbers            hex numbers (column, row: 0101) at the top of each hex\n"
    "An option that cannot act on the picture asked for is told on standard\n"
    "error with what would work; one that makes no sense for it is refused.\n"
    "  -q, --quiet          no progress display\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
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
    {"pdf"},
    {"svg"},
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

bool parseCells(const std::string& text, RenderOptions& o) {
    int v[4];
    std::size_t start = 0;
    std::string unused;
    for (int k = 0; k < 4; ++k) {
        const std::size_t comma = k < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos ||
            !parseInteger("--cells", text.substr(start, comma - start), k < 2 ? 0 : 1,
                          std::numeric_limits<int>::max(), v[k], unused))
            return false;
        start = comma + 1;
    }
    o.wholeMap = false;
    o.cellX = v[0];
    o.cellY = v[1];
    o.cellW = v[2];
    o.cellH = v[3];
    return true;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool parseSize(const std::string& text, int& w, int& h) {
    const std::size_t x = text.find_first_of("xX");
    std::string unused;
    return x != std::string::npos && parseInteger("--fit", text.substr(0, x), 1, int(kMaxPictureWidth), w, unused) &&
           parseInteger("--fit", text.substr(x + 1), 1, int(kMaxPictureWidth), h, unused);
}

bool parseColour(const std::string& text, hxpic::Pixel& colour) {
    if (text == "none") colour = 0;
    else if (text == "white") colour = 0xffffffffu;
    else {
        if (text.size() != 7 || text[0] != '#') return false;
        hxpic::Pixel v = 0;
        for (std::size_t i = 1; i < 7; ++i) {
            const char c = text[i];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            v = v << 4 | static_cast<hxpic::Pixel>(d);
        }
        colour = hxpic::kOpaque | v;
    }
    return true;
}

// Options that take a value, and what their value must be where the
// number readers do not say it.
struct ValueOption {
    const char* name;
    const char* wants;
};
const ValueOption kValueOptions[] = {
    {"--zoom", ""},
    {"--max-pixels", ""},
    {"--cells", "X,Y,W,H with X, Y at least 0 and W, H at least 1"},
    {"--hex-mm", ""},
    {"--paper", "a4, letter, a3 or WxHmm with sides from 50 to 5000 mm"},
    {"--margin-mm", ""},
    {"--overlap-mm", ""},
    {"--max-pages", ""},
    {"--dpi", ""},
    {"--fit", "WxH in pixels, such as 1200x800"},
    {"--background", "none, white or #RRGGBB"},
    {"--shape", "regular or window"},
    {"--grid-px", "a whole number of pixels from 8 to 4000"},
    {"--vtt", "foundry"},
    {"--max-shapes", "a whole number of at least 1"},
};

// Sets an option's value; false with the reason when it is not one.
bool setValue(const std::string& name, const std::string& value, RenderOptions& o, std::string& reason) {
    if (name == "--zoom")   // documented: values outside 0..64 are taken as the nearest end
        return parseInteger(name, value, hexgeom::kMinZoom, hexgeom::kMaxZoom, o.zoom, reason, OutOfRange::Clamp);
    if (name == "--max-pixels")
        return parseInteger(name, value, 1, std::numeric_limits<long long>::max(), o.maxPixels, reason);
    if (name == "--hex-mm") return parseDecimal(name, value, 0.5, 1000, o.hexMm, reason);
    if (name == "--margin-mm") return parseDecimal(name, value, 0, 1000, o.marginMm, reason);
    if (name == "--overlap-mm") return parseDecimal(name, value, 0, 1000, o.overlapMm, reason);
    if (name == "--dpi") return parseDecimal(name, value, 1, 100000, o.dpi, reason);
    if (name == "--max-pages") {
        long long pages = 0;
        if (!parseInteger(name, value, 1, 1000000, pages, reason)) return false;
        o.maxPages = static_cast<double>(pages);
        return true;
    }
    bool ok = false;
    if (name == "--cells") {
        ok = parseCells(value, o);
    } else if (name == "--paper") {
        poster::Paper paper;
        ok = poster::parsePaper(value, paper);
        if (ok) o.paper = value;
    } else if (name == "--fit") {
        ok = parseSize(value, o.fitW, o.fitH);
    } else if (name == "--background") {
        o.backgroundGiven = true;
        ok = parseColour(value, o.background);
    }
    if (name == "--shape") {
        ok = value == "regular" || value == "window";
        if (ok) o.shape = value == "regular" ? hxvec::Shape::Regular : hxvec::Shape::Window;
    } else if (name == "--grid-px") {
        return parseInteger(name, value, 8, 4000, o.gridPx, reason);
    } else if (name == "--vtt") {
        ok = value == "foundry";
        if (ok) o.vtt = value;
    } else if (name == "--max-shapes") {
        return parseInteger(name, value, 1, std::numeric_limits<long long>::max(), o.maxShapes, reason);
    }
    for (const ValueOption& v : kValueOptions)
        if (!ok && name == v.name) reason = name + " wants " + v.wants + ", not " + quoted(value);
    return ok;
}

}  // namespace

bool parseRenderArguments(const std::vector<std::string>& args, RenderOptions& o, std::string& reason) {
    std::vector<OptionSpec> known = {{"--fit-page", false}, {"--legend", false}, {"--numbers", false},
                                     {"--poster", false}};
    for (const ValueOption& v : kValueOptions) known.push_back(OptionSpec{v.name, true});
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanToolArguments(args, known, true, 2, "an input map and an output picture are needed", o, given,
                           files, reason))
        return false;
    for (const GivenOption& g : given) {
        const std::string& name = g.name;
        if (name == "--fit-page" || name == "--legend" || name == "--numbers" || name == "--poster") {
            if (name == "--fit-page") o.fitPage = true;
            else if (name == "--poster") o.poster = true;
            else if (name == "--legend") o.legend = true;
            else o.numbers = true;
            o.given.push_back(name);
        } else {
            if (!setValue(name, g.value, o, reason)) return false;
            o.given.push_back(name);
        }
    }
    if (o.help || o.version) return true;
    o.input = files[0];
    o.output = files[1];
    if (!knownOutputKind(o.output)) {
        reason = "cannot tell the kind of picture of " + tools::quoted(o.output) + " by its extension; supported: " +
                 supportedExtensions();
        return false;
    }
    return true;
}

hexgeom::CellRange renderCells(const RenderOptions& o, const HxMap& map) {
    return renderCells(o, map.xs(), map.ys());
}

hexgeom::CellRange renderCells(const RenderOptions& o, int cols, int rows) {
    if (o.wholeMap) return hexgeom::CellRange{0, 0, cols - 1, rows - 1};
    const long long x2 = static_cast<long long>(o.cellX) + o.cellW - 1;
    const long long y2 = static_cast<long long>(o.cellY) + o.cellH - 1;
    return hexgeom::CellRange{o.cellX, o.cellY, static_cast<int>(std::min<long long>(x2, cols - 1)),
                              static_cast<int>(std::min<long long>(y2, rows - 1))};
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

namespace {

// Labels for a picture at a label zoom whose cells have none.
class NoLabels : public hxpic::LabelFont {
public:
    const hxpic::Label& label(int) override { return empty; }
    hxpic::Pixel ink() const override { return hxpic::kBlack; }

private:
    hxpic::Label empty;
};

// Moves each label's ink down by a quarter of a hexagon, into its lower
// half, to leave the top to the hex number.
class LoweredLabels : public hxpic::LabelFont {
public:
    LoweredLabels(hxpic::LabelFont& base, int shift) : base(base), shift(shift) {}
    const hxpic::Label& label(int value) override {
        auto it = made.find(value);
        if (it == made.end()) {
            hxpic::Label l = base.label(value);
            for (hxpic::Span& s : l.ink) s.y += shift;
            it = made.emplace(value, std::move(l)).first;
        }
        return it->second;
    }
    hxpic::Pixel ink() const override { return base.ink(); }

private:
    hxpic::LabelFont& base;
    int shift;
    std::map<int, hxpic::Label> made;
};

// Legend text height in pixels: 14 at the screen's 96 dpi, more at a
// printer's resolution.
double legendTextPx(double dpi) { return std::max(10.0, std::min(60.0, 14.0 * (dpi > 0 ? dpi / 96 : 1))); }

}  // namespace

namespace {

PictureSize withLegendStrip(const std::vector<hxvec::LegendEntry>& entries, PictureSize size, double dpi,
                            hxvec::Fonts& fonts) {
    if (entries.empty() || size.width <= 0) return size;
    const double text = legendTextPx(dpi);
    size.width = std::max(size.width, static_cast<long long>(std::ceil(hxvec::legendWidth(entries, text, fonts))));
    size.height += static_cast<long long>(
        std::ceil(hxvec::legendHeight(entries, static_cast<double>(size.width), text, fonts)));
    return size;
}

}  // namespace

PictureSize withLegend(const HxMap& map, const hexgeom::CellRange& cells, const PictureSize& mapSize, double dpi) {
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    hxvec::Fonts fonts;
    return withLegendStrip(hxvec::legendEntries(map, cells, terrains, colours), mapSize, dpi, fonts);
}

bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, std::string& error, Progress* progress) {
    return writePicture(map, zoom, cells, path, bandRows, PngExtras(), error, progress);
}

namespace {

// The height of a PNG: the map's picture and, with a legend, its strip.
bool pngSize(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const PngExtras& extras,
             PictureSize& size, long long& mapHeight, std::string& error) {
    size = pictureSize(zoom, cells);
    mapHeight = size.height;
    if (extras.legend && size.width > 0) {
        if (!roomForFonts()) {
            error = "out of memory: the legend's font cannot start within the address-space limit (ulimit -v)";
            return false;
        }
        size = withLegend(map, cells, size, extras.dpi);
    }
    return checkPictureSize(size, std::numeric_limits<long long>::max(), error);
}

// The elevation labels of a PNG, made before drawing: from the zoom where
// labels start, and only when a cell has one. The text library starts
// only for labels that are drawn; with hex numbers they move down.
struct PngLabels {
    std::unique_ptr<PangoLabelFont> pango;
    std::unique_ptr<LoweredLabels> lowered;
    std::unique_ptr<pngrender::MadeLabels> made;
};

bool makeLabels(const HxMap& map, int zoom, const hexgeom::CellRange& cells, bool numbers, PngLabels& labels,
                std::string& error) {
    if (!hexgeom::hasLabels(zoom)) return true;
    const std::array<bool, 128> used = pngrender::usedLabels(map, cells);
    if (std::find(used.begin() + 1, used.end(), true) == used.end()) {
        NoLabels none;
        labels.made = std::make_unique<pngrender::MadeLabels>(none, used);
        return true;
    }
    if (!roomForFonts()) {
        error = "out of memory: the label font cannot start within the address-space limit (ulimit -v)";
        return false;
    }
    labels.pango = std::make_unique<PangoLabelFont>();
    hxpic::LabelFont* font = labels.pango.get();
    if (numbers) {
        labels.lowered = std::make_unique<LoweredLabels>(*labels.pango, hexgeom::pitch(zoom) / 4);
        font = labels.lowered.get();
    }
    labels.made = std::make_unique<pngrender::MadeLabels>(*font, used);
    return true;
}

// The hex numbers and the legend, drawn by the vector drawing over each
// band through a cairo image surface. The vector picture starts at the
// highest hexagon; the window's picture at the view's top.
class TextOverlay {
public:
    TextOverlay(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const PngExtras& extras, int width,
                int mapHeight)
        : map_(map), cells_(cells), extras_(extras), width_(width), mapH_(mapHeight), p_(hexgeom::pitch(zoom)),
          numbers_(extras.numbers && hexgeom::hasLabels(zoom)) {
        const hexgeom::Point viewStart{cells.x1, cells.y1};
        shift_ = hexgeom::hexOrigin(zoom, cells.x1, cells.y1, viewStart).y - hxvec::hexOrigin(cells, hxvec::Grid::of(hxvec::Shape::Window, p_), cells.x1, cells.y1).y;
        if (extras.legend) {
            const HxTerrainSet terrains;
            const hxpic::Colours colours(terrains);
            legend_ = hxvec::legendEntries(map, cells, terrains, colours);
        }
    }
    // Hex numbers come from the zoom where labels start: below it they
    // would be smudges of a pixel or two.
    bool wanted() const { return numbers_ || extras_.legend; }

    void draw(int top, int rows, hxpic::Pixel* pixels) const {
        cairo_surface_t* surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels),
                                                                       CAIRO_FORMAT_ARGB32, width_, rows, width_ * 4);
        cairo_t* cr = cairo_create(surface);
        cairo_translate(cr, 0, -top);
        if (numbers_ && top < mapH_) {
            // The cell rows whose numbers can reach the band.
            hexgeom::CellRange near = cells_;
            near.y1 = std::max(cells_.y1, cells_.y1 + hexgeom::floorDiv(top, p_) - 2);
            near.y2 = std::min(cells_.y2, cells_.y1 + hexgeom::floorDiv(top + rows - 1, p_) + 2);
            cairo_save(cr);
            cairo_rectangle(cr, 0, 0, width_, mapH_);
            cairo_clip(cr);
            cairo_translate(cr, 0, shift_);
            if (!near.empty())
                hxvec::drawNumbers(cr, map_, cells_, near, hxvec::Grid::of(hxvec::Shape::Window, p_), fonts_,
                                   extras_.numbering);
            cairo_restore(cr);
        }
        if (!legend_.empty() && top + rows > mapH_)
            hxvec::drawLegend(cr, legend_, 0, mapH_, width_, legendTextPx(extras_.dpi), fonts_);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        cairo_surface_destroy(surface);
    }

private:
    const HxMap& map_;
    hexgeom::CellRange cells_;
    PngExtras extras_;
    int width_, mapH_, p_;
    bool numbers_;
    double shift_ = 0;
    std::vector<hxvec::LegendEntry> legend_;
    mutable hxvec::Fonts fonts_;   // drawn on one thread
};

}  // namespace

bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, const PngExtras& extras, std::string& error, Progress* progress) {
    PictureSize size;
    long long mapHeight = 0;
    if (!pngSize(map, zoom, cells, extras, size, mapHeight, error)) return false;
    const int width = static_cast<int>(size.width), height = static_cast<int>(size.height);
    PngLabels labels;
    if (!makeLabels(map, zoom, cells, extras.numbers, labels, error)) return false;
    std::unique_ptr<TextOverlay> text;
    if ((extras.numbers && hexgeom::hasLabels(zoom)) || extras.legend) {
        if (!roomForFonts()) {
            error = "out of memory: the font cannot start within the address-space limit (ulimit -v)";
            return false;
        }
        text = std::make_unique<TextOverlay>(map, zoom, cells, extras, width, static_cast<int>(mapHeight));
    }

    pngrender::Request request;
    request.map = &map;
    request.zoom = zoom;
    request.cells = cells;
    request.viewStart = hexgeom::Point{cells.x1, cells.y1};
    request.width = width;
    request.height = height;
    request.clip = hxpic::Clip{0, 0, width, static_cast<int>(mapHeight)};
    request.background = extras.background;
    request.labels = labels.made.get();
    if (text) request.overlay = [&](int top, int rows, hxpic::Pixel* pixels) { text->draw(top, rows, pixels); };
    request.bandRows = bandRows;
    if (extras.dpi > 0) request.pixelsPerMetre = static_cast<unsigned>(std::lround(extras.dpi / 0.0254));
    // Bands are drawn on several threads; the progress is told as they
    // reach the file.
    if (progress) request.progress = [progress](double done) { progress->update(done); };

    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    OutputFile file;
    if (!file.open(path, error)) return false;
    std::string why;
    const bool written = pngrender::Renderer(colours).write(file.stream(), request, why);
    if (progress) progress->finish();
    if (!written) {
        error = "cannot write " + quoted(path) + ": " + (why.empty() ? "unknown error" : why);
        return false;
    }
    return file.commit(error);
}

// ---------------------------------------------------------------------------
// PNG pictures of regular hexes, drawn with the vector drawing

namespace {

// Outline width in pixels of a regular PNG: one pixel, more on big hexes.
double regularOutline(double across) { return std::max(1.0, across / 40); }

// Where the picture's hexes start: half a hex down for Foundry VTT's grid,
// else half an outline in from the edges so that the outline shows whole.
hxvec::Place regularShift(const hexgeom::CellRange& cells, const RegularPng& png) {
    // Foundry's columns of one parity start at its top edge, the others
    // half a hex above it: the picture's higher columns go there. A lone
    // even column is the top edge's own.
    if (png.foundry) return hxvec::Place{0, cells.x1 == cells.x2 && cells.x1 % 2 == 0 ? 0 : png.across / 2};
    const double pad = regularOutline(png.across) / 2;
    return hxvec::Place{pad, pad};
}

// cairo's pixels carry their colour multiplied by their alpha; a PNG's do not.
void unpremultiply(hxpic::Pixel* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const hxpic::Pixel p = pixels[i];
        const unsigned a = p >> 24;
        if (a == 0 || a == 255) continue;
        const auto channel = [&](int shift) {
            return static_cast<hxpic::Pixel>(std::min(255u, (((p >> shift) & 255u) * 255u + a / 2) / a)) << shift;
        };
        pixels[i] = (p & 0xff000000u) | channel(16) | channel(8) | channel(0);
    }
}

bool writeRegularTo(const HxMap& map, const hexgeom::CellRange& cells, const RegularPng& png, OutputFile& file,
                    const std::string& path, const PngExtras& extras, std::string& error, Progress* progress) {
    PictureSize size = regularPictureSize(cells, png);
    if (!roomForFonts()) {
        error = "out of memory: the label font cannot start within the address-space limit (ulimit -v)";
        return false;
    }
    const long long mapH = size.height;
    if (extras.legend && size.width > 0) size = withLegend(map, cells, size, extras.dpi);
    if (!checkPictureSize(size, std::numeric_limits<long long>::max(), error)) return false;
    const int width = static_cast<int>(size.width), height = static_cast<int>(size.height);
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    hxvec::Fonts fonts;
    hxvec::Style style;
    style.grid = hxvec::Grid::of(hxvec::Shape::Regular, png.across);
    style.outline = regularOutline(png.across);
    // Labels from the size at which the window shows them (17 pixels),
    // hex numbers likewise (renderRegular warns of numbers left out).
    style.labels = png.across >= hexgeom::pitch(16);
    style.numbers = extras.numbers && style.labels;
    style.numbering = extras.numbering;
    const hxvec::Place shift = regularShift(cells, png);
    std::vector<hxvec::LegendEntry> legend;
    if (extras.legend) legend = hxvec::legendEntries(map, cells, terrains, colours);

    pngbands::Settings settings;
    if (extras.dpi > 0) settings.pixelsPerMetre = static_cast<unsigned>(std::lround(extras.dpi / 0.0254));
    // The text library draws on one thread at a time.
    settings.threads = 1;
    if (progress) settings.progress = [progress](double done) { progress->update(done); };
    const pngbands::DrawBand draw = [&](int top, int rows, hxpic::Pixel* pixels) {
        if (extras.background != 0)
            std::fill(pixels, pixels + static_cast<std::ptrdiff_t>(width) * rows, extras.background);
        cairo_surface_t* surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels),
                                                                       CAIRO_FORMAT_ARGB32, width, rows, width * 4);
        cairo_t* cr = cairo_create(surface);
        if (top < mapH) {
            cairo_save(cr);
            cairo_rectangle(cr, 0, 0, width, static_cast<double>(mapH - top));
            cairo_clip(cr);
            cairo_translate(cr, shift.x, shift.y - top);
            const hexgeom::CellRange visible =
                hxvec::cellsIn(cells, style.grid, -shift.x, top - shift.y, width, rows);
            hxvec::draw(cr, map, colours, cells, visible, style, fonts);
            cairo_restore(cr);
        }
        if (!legend.empty() && top + rows > mapH) {
            cairo_translate(cr, 0, -top);
            hxvec::drawLegend(cr, legend, 0, static_cast<double>(mapH), width, legendTextPx(extras.dpi), fonts);
        }
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        cairo_surface_destroy(surface);
        unpremultiply(pixels, static_cast<std::size_t>(width) * static_cast<std::size_t>(rows));
    };
    std::string why;
    const pngbands::Result result = pngbands::write(file.stream(), width, height, settings, draw, why);
    if (progress) progress->finish();
    if (result != pngbands::Result::Written) {
        error = "cannot write " + quoted(path) + ": " + (why.empty() ? "unknown error" : why);
        return false;
    }
    return true;
}

}  // namespace

PictureSize regularPictureSize(const hexgeom::CellRange& cells, const RegularPng& png) {
    if (cells.empty() || !(png.across > 0)) return {};
    const hxvec::Size size = hxvec::pictureSize(cells, hxvec::Grid::of(hxvec::Shape::Regular, png.across));
    const hxvec::Place shift = regularShift(cells, png);
    const double pad = png.foundry ? 0 : 2 * shift.x;
    PictureSize s;
    s.width = static_cast<long long>(std::ceil(size.w + pad - 1e-9));
    s.height = static_cast<long long>(std::ceil(size.h + shift.y + (png.foundry ? 0 : shift.y) - 1e-9));
    return s;
}

bool writeRegularPicture(const HxMap& map, const hexgeom::CellRange& cells, const RegularPng& png,
                         const std::string& path, const PngExtras& extras, std::string& error, Progress* progress) {
    OutputFile file;
    if (!file.open(path, error)) return false;
    if (!writeRegularTo(map, cells, png, file, path, extras, error, progress)) return false;
    return file.commit(error);
}

std::string foundryScene(const std::string& name, const std::string& image, const PictureSize& size,
                         const hexgeom::CellRange& cells, int gridPx) {
    // Foundry's flat-topped columns: type 5 (HEXEVENQ) puts its second
    // column half a hex higher than its first, type 4 (HEXODDQ) its first
    // half a hex higher than its second; the picture's first column is
    // the map's, lower when the map's column is even.
    const int type = cells.x1 % 2 == 0 ? 5 : 4;
    nlohmann::json scene = {
        {"name", name},
        {"width", size.width},
        {"height", size.height},
        {"padding", 0},
        {"background", {{"src", image}}},
        {"grid", {{"type", type}, {"size", gridPx}, {"distance", 1}, {"units", "hex"}}},
    };
    return scene.dump(2) + "\n";
}

Format formatOf(const std::string& path) {
    const std::string ext = extensionOf(path);
    return ext == "png" ? Format::Png : ext == "pdf" ? Format::Pdf : ext == "svg" ? Format::Svg : Format::None;
}

bool RenderOptions::has(const std::string& option) const {
    return std::find(given.begin(), given.end(), option) != given.end();
}

int zoomForSize(double hexMm, double dpi) {
    const double pixels = hexMm * dpi / 25.4;
    return static_cast<int>(std::lround(std::max(9.0, std::min(65.0, pixels)))) - 1;
}

namespace {

// Options that do not suit the output's format, or each other.
bool checkCombination(const RenderOptions& o, Format format, std::string& reason) {
    const char* const pngOnly[] = {"--zoom", "--fit", "--dpi", "--max-pixels", "--grid-px", "--vtt"};
    const char* const pdfOnly[] = {"--fit-page", "--poster", "--paper", "--margin-mm", "--overlap-mm", "--max-pages"};
    const char* const kind = format == Format::Png ? "a PNG" : format == Format::Pdf ? "a PDF" : "an SVG";
    for (const char* name : pngOnly)
        if (format != Format::Png && o.has(name)) {
            reason = std::string(name) + " is for PNG pictures, not " + kind;
            return false;
        }
    for (const char* name : pdfOnly)
        if (format != Format::Pdf && o.has(name)) {
            reason = std::string(name) + " is for PDF pages, not " + kind;
            return false;
        }
    if (format == Format::Png && o.has("--max-shapes")) {
        reason = "--max-shapes is for PDF and SVG pictures, not a PNG (--max-pixels bounds a PNG)";
        return false;
    }
    if (format == Format::Png) {
        const bool sized = o.has("--zoom") || o.has("--fit") || o.has("--hex-mm");
        if (o.has("--vtt") && (sized || o.shape == hxvec::Shape::Window)) {
            reason = "--vtt draws regular hexes of --grid-px pixels (default 100), as Foundry VTT's grid does: "
                     "give it without --zoom, --fit, --hex-mm or --shape window";
            return false;
        }
        if (o.has("--vtt") && o.legend) {
            reason = "--vtt foundry and --legend: Foundry VTT would draw its grid over the legend; make the legend "
                     "a picture of its own";
            return false;
        }
        if (o.has("--vtt") && o.gridPx > 0 && o.gridPx < 50) {
            reason = "--vtt foundry wants --grid-px of at least 50, the smallest grid Foundry VTT draws";
            return false;
        }
        if (o.has("--grid-px") && (sized || o.shape == hxvec::Shape::Window)) {
            reason = "--grid-px sets the size of regular hexes itself: give it without --zoom, --fit, --hex-mm or "
                     "--shape window";
            return false;
        }
        if (o.has("--shape") && o.shape == hxvec::Shape::Regular && (o.has("--zoom") || o.has("--fit"))) {
            reason = "--zoom and --fit draw the window's hexes; for regular ones give --grid-px, or --hex-mm with --dpi";
            return false;
        }
        if (o.has("--fit") && (o.has("--zoom") || o.has("--hex-mm"))) {
            reason = "--fit chooses the zoom itself: give it without --zoom or --hex-mm";
            return false;
        }
        if (o.has("--hex-mm") && (o.has("--zoom") || !o.has("--dpi"))) {
            reason = "--hex-mm for a PNG needs --dpi, and no --zoom, to choose the zoom";
            return false;
        }
    }
    if (format == Format::Pdf && o.fitPage && (o.has("--hex-mm") || o.poster)) {
        reason = std::string("--fit-page chooses the hex size itself: give it without ") +
                 (o.poster ? "--poster" : "--hex-mm");
        return false;
    }
    if (format == Format::Pdf && o.poster && o.has("--hex-mm")) {
        reason = "--poster means --hex-mm 25.4: give one of them";
        return false;
    }
    return true;
}

// A PDF is one page unless a hex size is asked for.
bool onePage(const RenderOptions& o) { return o.fitPage || !(o.poster || o.has("--hex-mm")); }

// Where a part read from a file sits in the whole map, for its hex numbers.
hxvec::Numbering numberingOf(const MapPart& part) { return hxvec::Numbering{part.dx, part.dy, part.cols, part.rows}; }

poster::Document documentOf(const HxMap& map, const hexgeom::CellRange& cells, const MapPart& part,
                            const RenderOptions& o) {
    poster::Document doc(map, cells);
    doc.hexMm = o.poster ? 25.4 : o.hexMm;
    doc.fitPage = onePage(o);
    poster::parsePaper(o.paper, doc.paper);
    doc.margin = o.marginMm;
    doc.overlap = o.overlapMm;
    doc.legend = o.legend;
    doc.numbers = o.numbers;
    doc.numbering = numberingOf(part);
    doc.background = o.backgroundGiven ? o.background : 0xffffffffu;
    doc.maxPages = o.maxPages;
    doc.shape = o.shape;
    return doc;
}

bool writeVector(poster::Document doc, const std::string& path, Format format, Progress& progress,
                 std::string& error) {
    doc.progress = [&](double done) { progress.update(done); };
    OutputFile file;
    if (!file.open(path, error)) return false;
    std::string why;
    const bool written =
        format == Format::Pdf ? poster::writePdf(doc, file.stream(), why) : poster::writeSvg(doc, file.stream(), why);
    progress.finish();
    if (!written) {
        error = "cannot write " + quoted(path) + ": " + (why.empty() ? "unknown error" : why);
        return false;
    }
    return file.commit(error);
}

// What the progress line says: the output's name alone, as a line that
// wraps cannot be rewritten in place.
std::string progressLabel(const std::string& output) {
    const std::size_t slash = output.rfind('/');
    return "Drawing " + quoted(slash == std::string::npos ? output : output.substr(slash + 1));
}

// The zoom of a PNG: asked for, fitted to a size, or chosen for a hex size
// at a resolution. -1 when nothing fits.
int pngZoom(const HxMap& map, const hexgeom::CellRange& cells, const RenderOptions& o) {
    if (o.has("--fit")) {
        // The legend strip's height depends on the picture's width, and it
        // may widen the picture.
        const HxTerrainSet terrains;
        const hxpic::Colours colours(terrains);
        std::unique_ptr<hxvec::Fonts> fonts;
        std::vector<hxvec::LegendEntry> legend;
        if (o.legend) {
            fonts.reset(new hxvec::Fonts);
            legend = hxvec::legendEntries(map, cells, terrains, colours);
        }
        for (int z = hexgeom::kMaxZoom; z >= hexgeom::kMinZoom; --z) {
            PictureSize size = pictureSize(z, cells);
            if (size.width > o.fitW || size.height > o.fitH) continue;
            if (fonts) size = withLegendStrip(legend, size, o.dpi, *fonts);
            if (size.width <= o.fitW && size.height <= o.fitH) return z;
        }
        return -1;
    }
    if (o.has("--hex-mm")) return zoomForSize(o.hexMm, o.dpi);
    return o.zoom;
}

std::string count(double v) { return std::to_string(static_cast<long long>(v)); }

// The line that tells a poster's plan before it is written.
std::string planLine(const poster::Layout& l) {
    char size[64];
    std::snprintf(size, sizeof size, "%.2f x %.2f m", l.pictureW / 1000, l.pictureH / 1000);
    const bool one = l.columns * l.rows == 1;
    return count(l.pages()) + (l.pages() == 1 ? " page: " : " pages: ") + count(l.columns) + " x " + count(l.rows) +
           (one ? " sheet of " : " sheets of ") + poster::paperName(l.paper) + ", hexes " + poster::mm(l.pitch) +
           " mm, assembled " + size;
}

// For a poster over the page limit: values of --max-pages, --hex-mm and
// --cells with which it would be written, each tried with the planner.
std::string posterSuggestions(const poster::Document& doc, const poster::Layout& refused, const MapPart& part) {
    std::vector<std::string> ways;
    poster::Layout l;
    std::string why;
    // Smaller hexes: the largest size in tenths of a millimetre that fits.
    const auto fitsAt = [&](int tenths) {
        poster::Document d = doc;
        d.hexMm = tenths / 10.0;
        return poster::planPdf(d, l, why);
    };
    int lo = 5, hi = static_cast<int>(std::floor(doc.hexMm * 10)) - 1;
    if (hi >= lo && fitsAt(lo)) {
        while (lo < hi) {
            const int mid = lo + (hi - lo + 1) / 2;
            if (fitsAt(mid)) lo = mid;
            else hi = mid - 1;
        }
        ways.push_back("--hex-mm " + poster::mm(lo / 10.0));
    }
    // Fewer cells: the same corner, both sides shrunk alike.
    const int w = doc.cells.x2 - doc.cells.x1 + 1, h = doc.cells.y2 - doc.cells.y1 + 1;
    const auto region = [&](int k) {   // k / 1000 of each side
        const int cw = std::max(1, static_cast<int>(static_cast<long long>(w) * k / 1000));
        const int ch = std::max(1, static_cast<int>(static_cast<long long>(h) * k / 1000));
        return hexgeom::CellRange{doc.cells.x1, doc.cells.y1, doc.cells.x1 + cw - 1, doc.cells.y1 + ch - 1};
    };
    const auto cellsFit = [&](int k) {
        poster::Document d = doc;
        d.cells = region(k);
        return poster::planPdf(d, l, why);
    };
    if (cellsFit(1)) {
        int a = 1, b = 999;
        while (a < b) {
            const int mid = a + (b - a + 1) / 2;
            if (cellsFit(mid)) a = mid;
            else b = mid - 1;
        }
        const hexgeom::CellRange r = region(a);
        ways.push_back("--cells " + std::to_string(r.x1 + part.dx) + "," + std::to_string(r.y1 + part.dy) + "," +
                       std::to_string(r.x2 - r.x1 + 1) + "," + std::to_string(r.y2 - r.y1 + 1));
    }
    if (refused.pages() <= 1000000) ways.push_back("--max-pages " + count(refused.pages()));
    std::string text;
    for (std::size_t k = 0; k < ways.size(); ++k)
        text += (k == 0 ? "" : k + 1 == ways.size() ? " or " : ", ") + ways[k];
    return text.empty() ? text : ": " + text + " would fit";
}

// Options that cannot act on this picture: said before it is drawn, each
// with what would work.
std::vector<std::string> noOpWarnings(const RenderOptions& o, Format format, const hexgeom::CellRange& cells,
                                      const MapPart& part) {
    std::vector<std::string> said;
    if (!o.wholeMap && (static_cast<long long>(o.cellX) + o.cellW > part.cols ||
                        static_cast<long long>(o.cellY) + o.cellH > part.rows))
        said.push_back("--cells reaches past the map of " + std::to_string(part.cols) + " x " +
                       std::to_string(part.rows) + " cells: drawing " + std::to_string(cells.x2 - cells.x1 + 1) +
                       " x " + std::to_string(cells.y2 - cells.y1 + 1) + " cells from " + std::to_string(o.cellX) +
                       "," + std::to_string(o.cellY));
    if (format == Format::Pdf && onePage(o)) {
        for (const char* name : {"--overlap-mm", "--max-pages"})
            if (o.has(name))
                said.push_back(std::string(name) +
                               " acts only on posters, and this PDF is one page; --hex-mm or --poster makes a poster");
    }
    return said;
}

// --numbers on hexes too small to hold them: what would show them.
std::string pngNumbersWarning(const RenderOptions& o, int zoom, const hexgeom::CellRange& cells) {
    if (!o.numbers || hexgeom::hasLabels(zoom)) return std::string();
    const int least = 16;   // the first zoom with labels
    std::string fix;
    if (o.has("--fit")) {
        const PictureSize size = pictureSize(least, cells);
        fix = "--fit " + std::to_string(size.width) + "x" + std::to_string(size.height) + " or larger";
        if (o.legend) fix += " (more with the legend)";
    } else if (o.has("--hex-mm")) {
        double mm = std::ceil((hexgeom::pitch(least) - 0.5) * 254 / o.dpi) / 10;
        while (zoomForSize(mm, o.dpi) < least) mm += 0.1;
        fix = "--hex-mm " + poster::mm(mm) + " at " + poster::mm(o.dpi) + " dpi";
    } else {
        fix = "--zoom " + std::to_string(least);
    }
    return "--numbers: hexes at zoom " + std::to_string(zoom) + " are too small to hold numbers; they show from zoom " +
           std::to_string(least) + " (" + fix + ")";
}

std::string pdfNumbersWarning(const RenderOptions& o, const poster::Layout& l) {
    if (!o.numbers || l.pitch >= poster::kMinLabelMm) return std::string();
    return "--numbers: hexes of " + poster::mm(l.pitch) + " mm are too small to hold numbers; they show from " +
           poster::mm(poster::kMinLabelMm) + " mm (--hex-mm " + poster::mm(poster::kMinLabelMm) + ")";
}

// OUT.json beside OUT.png.
std::string scenePath(const std::string& picture) {
    const std::size_t slash = picture.rfind('/'), dot = picture.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? picture.substr(0, dot) : picture) + ".json";
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A PNG of regular hexes, and with --vtt foundry the scene beside it: both
// written to temporary files first and renamed together, or neither.
int renderRegular(const HxMap& map, const hexgeom::CellRange& cells, const RenderOptions& o, const PngExtras& extras,
                  std::ostream& err) {
    const char* const tool = "tarven-render";
    RegularPng png;
    png.foundry = o.vtt == "foundry";
    png.across = o.gridPx > 0 ? o.gridPx : png.foundry ? 100 : o.hexMm / 25.4 * o.dpi;
    std::string error;
    if (!(png.across >= 2)) {
        err << tool << ": hexes of " << o.hexMm << " mm at " << o.dpi << " dpi would be " << png.across
            << " pixels across, too small to draw; raise --dpi or --hex-mm\n";
        return kFailed;
    }
    // Labels and numbers show from the window's label size.
    const int labelPx = hexgeom::pitch(16);
    if (o.numbers && png.across < labelPx)
        err << tool << ": warning: --numbers draws nothing on hexes under " << labelPx << " pixels across; "
            << (o.gridPx > 0 ? "--grid-px " + std::to_string(labelPx) : "a larger --hex-mm or --dpi") << " shows them\n";
    const PictureSize size = regularPictureSize(cells, png);
    if (!checkPictureSize(size, o.maxPixels, error)) {
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    Progress progress(progressLabel(o.output), o.quiet);
    if (!png.foundry) {
        if (!writeRegularPicture(map, cells, png, o.output, extras, error, &progress)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        return kDone;
    }
    const std::string json = scenePath(o.output);
    if (!checkOutput(json, {o.input, o.output}, error)) {
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    std::string name = baseName(o.input);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".map") == 0) name.resize(name.size() - 4);
    const std::string scene = foundryScene(name, baseName(o.output), size, cells, static_cast<int>(png.across));
    OutputFile picture, sceneFile;
    if (!picture.open(o.output, error) || !sceneFile.open(json, error) ||
        !writeRegularTo(map, cells, png, picture, o.output, extras, error, &progress)) {
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    if (std::fwrite(scene.data(), 1, scene.size(), sceneFile.stream()) != scene.size() ||
        std::fflush(sceneFile.stream()) != 0) {
        err << tool << ": cannot write " << quoted(json) << ": " << std::strerror(errno) << "\n";
        return kFailed;
    }
    if (!picture.commit(error)) {
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    if (!sceneFile.commit(error)) {
        // Neither file, rather than a picture without its scene.
        ::unlink(o.output.c_str());
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    return kDone;
}

int render(const RenderOptions& options, std::ostream&, std::ostream& err) {
    const char* const tool = "tarven-render";
    std::string reason;
    const Format format = formatOf(options.output);
    if (!checkCombination(options, format, reason)) throw Misuse(reason);
    const auto warn = [&](const std::string& text) {
        if (!text.empty()) err << tool << ": warning: " << text << "\n";
    };
    {
        std::string error;
        if (!checkOutput(options.output, {options.input}, error)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        // Only the rows drawn are read where the file allows: the map then
        // holds those cells, shifted, which draw the same picture. Hex
        // numbers still count from the whole map's corner (`part`).
        HxMap map(0, 0);
        MapPart part;
        const auto load = [&](const LoadHooks& hooks, std::string& loadError) {
            const PartPick pick = [&](int cols, int rows) { return renderCells(options, cols, rows); };
            const bool loaded = loadMapPart(map, options.input.c_str(), pick, hooks, part);
            loadError = map.lastError();
            return loaded;
        };
        if (!loadFor(tool, options.input, err, load)) return kFailed;
        const hexgeom::CellRange cells = part.cells;
        if (cells.empty()) {
            throw Misuse("the cells " + std::to_string(options.cellX) + "," + std::to_string(options.cellY) + "," +
                         std::to_string(options.cellW) + "," + std::to_string(options.cellH) +
                         " lie outside the map of " + std::to_string(part.cols) + " x " + std::to_string(part.rows) +
                         " cells");
        }
        for (const std::string& text : noOpWarnings(options, format, cells, part)) warn(text);
        if (format != Format::Png) {
            if (!roomForFonts()) {
                err << tool << ": out of memory: the font cannot start within the address-space limit (ulimit -v)\n";
                return kFailed;
            }
            poster::Document doc = documentOf(map, cells, part, options);
            doc.warn = [&](const std::string& message) { err << tool << ": warning: " << message << "\n"; };
            // Refused before anything is written: no room, too many pages
            // (with values that would fit), or more shapes than the limit.
            double pitch = doc.hexMm, copies = 1;
            if (format == Format::Pdf) {
                poster::Layout layout;
                if (!poster::planPdf(doc, layout, error)) {
                    if (!doc.fitPage && layout.pages() > doc.maxPages) error += posterSuggestions(doc, layout, part);
                    err << tool << ": " << error << "\n";
                    return kFailed;
                }
                warn(pdfNumbersWarning(options, layout));
                if (!doc.fitPage && !options.quiet) err << tool << ": " << planLine(layout) << "\n";
                pitch = layout.pitch;
                copies = layout.index ? 2 : 1;   // the index page draws the region again
            }
            hxvec::Shapes shapes = poster::countShapes(doc, pitch);
            if (format == Format::Svg && !poster::svgText(doc)) shapes.glyphs = 0;
            const long long total = static_cast<long long>(std::min(9e18, copies * static_cast<double>(shapes.total())));
            if (total > options.maxShapes) {
                err << tool << ": the " << (format == Format::Pdf ? "PDF" : "SVG") << " would hold " << total
                    << " shapes (" << shapes.corners << " corners of colour regions, " << shapes.glyphs
                    << " glyphs, " << shapes.lines << " outline lines" << (copies > 1 ? ", twice for the index" : "")
                    << "), more than the limit of " << options.maxShapes << "; --max-shapes " << total
                    << " allows it\n";
                return kFailed;
            }
            Progress progress(progressLabel(options.output), options.quiet);
            if (!writeVector(doc, options.output, format, progress, error)) {
                err << tool << ": " << error << "\n";
                return kFailed;
            }
            return kDone;
        }
        PngExtras extras;
        extras.background = options.backgroundGiven ? options.background : 0;
        extras.dpi = options.dpi;
        extras.legend = options.legend;
        extras.numbers = options.numbers;
        extras.numbering = numberingOf(part);
        if (options.gridPx > 0 || options.has("--vtt") ||
            (options.has("--hex-mm") && options.shape == hxvec::Shape::Regular))
            return renderRegular(map, cells, options, extras, err);
        if (options.has("--hex-mm")) {
            // The window's hexes come in whole zooms only.
            const double wanted = options.hexMm / 25.4 * options.dpi;
            const int pitch = hexgeom::pitch(zoomForSize(options.hexMm, options.dpi));
            if (std::fabs(pitch - wanted) > 0.05 * wanted) {
                char text[200];
                std::snprintf(text, sizeof text, "hexes of %d pixels are %.2f mm at %g dpi, not the %g mm asked",
                              pitch, pitch * 25.4 / options.dpi, options.dpi, options.hexMm);
                err << tool << ": warning: " << text
                    << ": the window's hexes are 9 to 65 pixels high; --shape regular draws them at the size asked\n";
            }
        }
        const int zoom = pngZoom(map, cells, options);
        if (zoom < 0) {
            err << tool << ": the cells" << (options.legend ? " with the legend" : "") << " do not fit in "
                << options.fitW << " x " << options.fitH << " pixels even at zoom 0\n";
            return kFailed;
        }
        if (!checkPictureSize(pictureSize(zoom, cells), options.maxPixels, error)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        warn(pngNumbersWarning(options, zoom, cells));
        Progress progress(progressLabel(options.output), options.quiet);
        if (!writePicture(map, zoom, cells, options.output, 0, extras, error, &progress)) {
            err << tool << ": " << error << "\n";
            return kFailed;
        }
        return kDone;
    }
}

}  // namespace

int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return runTool<RenderOptions>(Tool{"tarven-render", kUsage}, args, out, err, parseRenderArguments, render);
}

}  // namespace tools
