#include "hxvector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include <cairo.h>
#include <pango/pangocairo.h>

#include "hexnumber.h"
#include "hxmap.h"
#include "hxterrains.h"

namespace hxvec {

Rgb rgb(hxpic::Pixel p) {
    return Rgb{((p >> 16) & 255) / 255.0, ((p >> 8) & 255) / 255.0, (p & 255) / 255.0};
}

Grid Grid::of(Shape shape, double across) {
    Grid g;
    g.across = across;
    g.wide = shape == Shape::Regular ? 2 * across / std::sqrt(3.0) : 4 * across / 3;
    return g;
}

namespace {

bool hasEvenColumn(const hexgeom::CellRange& c) { return c.x1 % 2 == 0 || c.x1 < c.x2; }
bool hasOddColumn(const hexgeom::CellRange& c) { return c.x1 % 2 != 0 || c.x1 < c.x2; }

// Half-hexes (of `across` / 2) between the top of the even columns' offset
// and the highest hexagon: the picture starts at the top of an odd column
// when there is one.
int topHalves(const hexgeom::CellRange& c) { return hasOddColumn(c) ? 0 : 1; }

}  // namespace

Size pictureSize(const hexgeom::CellRange& cells, const Grid& g) {
    if (cells.empty()) return Size{0, 0};
    const double columns = cells.x2 - cells.x1 + 1.0, rows = cells.y2 - cells.y1 + 1.0;
    const double bottom = rows * g.across + (hasEvenColumn(cells) ? g.across / 2 : 0);
    return Size{(columns - 1) * g.step() + g.wide, bottom - topHalves(cells) * g.across / 2};
}

Place hexOrigin(const hexgeom::CellRange& cells, const Grid& g, int col, int row) {
    return Place{(col - cells.x1) * g.step(),
                 (row - cells.y1) * g.across + ((col % 2 == 0 ? 1 : 0) - topHalves(cells)) * g.across / 2};
}

hexgeom::CellRange cellsIn(const hexgeom::CellRange& cells, const Grid& g, double x, double y, double w, double h) {
    if (cells.empty() || !(g.across > 0) || !(g.wide > 0)) return hexgeom::CellRange{0, 0, -1, -1};
    const double p = g.across, top = topHalves(cells) * p / 2;
    // Generous by one cell on each side: the caller clips.
    const double c1 = std::floor((x - g.wide) / g.step()), c2 = std::floor((x + w) / g.step());
    const double r1 = std::floor((y + top - p) / p) - 1, r2 = std::floor((y + h + top) / p);
    auto clampTo = [](double v, int lo, int hi) {
        return static_cast<int>(std::max<double>(lo - 1, std::min<double>(hi + 1, v)));
    };
    hexgeom::CellRange r{clampTo(cells.x1 + c1, cells.x1, cells.x2), clampTo(cells.y1 + r1, cells.y1, cells.y2),
                         clampTo(cells.x1 + c2, cells.x1, cells.x2), clampTo(cells.y1 + r2, cells.y1, cells.y2)};
    r.x1 = std::max(r.x1, cells.x1);
    r.y1 = std::max(r.y1, cells.y1);
    r.x2 = std::min(r.x2, cells.x2);
    r.y2 = std::min(r.y2, cells.y2);
    return r;
}

double outlineWidthMm(double pitchMm) { return pitchMm < kMinOutlineMm ? 0 : std::min(0.3, pitchMm / 25); }

// ---------------------------------------------------------------------------
// Fonts

struct Fonts::Impl {
    PangoFontMap* fontMap = nullptr;
    PangoContext* context = nullptr;
    PangoFont* font = nullptr;
    cairo_font_face_t* face = nullptr;
    cairo_surface_t* scratchSurface = nullptr;
    cairo_t* scratch = nullptr;
};

Fonts::Fonts() : impl(new Impl) {
    impl->fontMap = pango_cairo_font_map_new();
    impl->context = pango_font_map_create_context(impl->fontMap);
    PangoFontDescription* description = pango_font_description_from_string("DejaVu Sans 10");
    impl->font = pango_font_map_load_font(impl->fontMap, impl->context, description);
    pango_font_description_free(description);
    if (impl->font && PANGO_IS_CAIRO_FONT(impl->font)) {
        cairo_scaled_font_t* scaled = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(impl->font));
        if (scaled) impl->face = cairo_font_face_reference(cairo_scaled_font_get_font_face(scaled));
    }
    if (!impl->face) impl->face = cairo_toy_font_face_create("DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                                                             CAIRO_FONT_WEIGHT_NORMAL);
    impl->scratchSurface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    impl->scratch = cairo_create(impl->scratchSurface);
}

Fonts::~Fonts() {
    cairo_destroy(impl->scratch);
    cairo_surface_destroy(impl->scratchSurface);
    cairo_font_face_destroy(impl->face);
    if (impl->font) g_object_unref(impl->font);
    g_object_unref(impl->context);
    g_object_unref(impl->fontMap);
}

void Fonts::use(cairo_t* cr, double size) const {
    cairo_set_font_face(cr, impl->face);
    cairo_set_font_size(cr, size);
    cairo_font_options_t* options = cairo_font_options_create();
    // Outlines at their true shape and advance, whatever the output's
    // resolution, so that text lands where the layout put it.
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

double Fonts::show(cairo_t* cr, const std::string& text, double x, double baseline, double size) const {
    use(cr, size);
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, text.c_str());
    cairo_new_path(cr);
    return width(text, size);
}

double Fonts::width(const std::string& text, double size) const {
    use(impl->scratch, size);
    cairo_text_extents_t extents;
    cairo_text_extents(impl->scratch, text.c_str(), &extents);
    return extents.x_advance;
}

// ---------------------------------------------------------------------------
// Hexagons

namespace {

// The legend's swatch: a hexagon of the window's proportions, p high.
void addHexagon(cairo_t* cr, double x, double y, double p) {
    cairo_move_to(cr, x, y + p / 2);
    cairo_line_to(cr, x + p / 3, y);
    cairo_line_to(cr, x + p, y);
    cairo_line_to(cr, x + 4 * p / 3, y + p / 2);
    cairo_line_to(cr, x + p, y + p);
    cairo_line_to(cr, x + p / 3, y + p);
    cairo_close_path(cr);
}

// The hexes' corners on a lattice of quarter widths across and half hexes
// down: the hex of (col, row) has its box's top-left corner at (X, Y), with
// X = 3 (col - x1) and Y = 2 (row - y1), one more in the even columns, less
// the picture's top; its corners, clockwise from the left one, are
// (X, Y+1) (X+1, Y) (X+3, Y) (X+4, Y+1) (X+3, Y+2) (X+1, Y+2), and its edge
// k runs from corner k to corner k + 1.
class Lattice {
public:
    Lattice(const hexgeom::CellRange& cells, const Grid& grid, const hexgeom::CellRange& visible)
        : cells_(cells), visible_(visible), q_(grid.wide / 4), h_(grid.across / 2), top_(topHalves(cells)) {}

    long long x(int col) const { return 3LL * (col - cells_.x1); }
    long long y(int col, int row) const { return 2LL * (row - cells_.y1) + (col % 2 == 0 ? 1 : 0) - top_; }
    double ux(long long x) const { return static_cast<double>(x) * q_; }
    double uy(long long y) const { return static_cast<double>(y) * h_; }
    double quarter() const { return q_; }
    double half() const { return h_; }

    // The cell across edge k of (col, row); false when it is not visible.
    bool neighbour(int col, int row, int k, int& ncol, int& nrow) const {
        static const int kDx[6] = {-1, 0, 1, 1, 0, -1};
        // Rows of the neighbours across edges 0..5, for even and odd columns.
        static const int kEvenDy[6] = {0, -1, 0, 1, 1, 1}, kOddDy[6] = {-1, -1, -1, 0, 1, 0};
        ncol = col + kDx[k];
        nrow = row + (col % 2 == 0 ? kEvenDy[k] : kOddDy[k]);
        return hexgeom::contains(visible_, ncol, nrow);
    }

    // A corner as one number, for sorting and finding.
    static std::uint64_t key(long long x, long long y) {
        return static_cast<std::uint64_t>(x) << 32 | static_cast<std::uint32_t>(y + 4);
    }
    static long long keyX(std::uint64_t k) { return static_cast<long long>(k >> 32); }
    static long long keyY(std::uint64_t k) { return static_cast<long long>(k & 0xffffffffu) - 4; }
    static std::uint64_t cornerKey(long long X, long long Y, int k) {
        static const int kCx[6] = {0, 1, 3, 4, 3, 1}, kCy[6] = {1, 0, 0, 1, 2, 2};
        return key(X + kCx[k % 6], Y + kCy[k % 6]);
    }

private:
    hexgeom::CellRange cells_, visible_;
    double q_, h_;
    int top_;
};

// The colour of every visible cell as a small number, the colours in the
// order they first turn up.
struct Slots {
    std::vector<std::uint16_t> of;       // row by row across `visible`
    std::vector<hxpic::Pixel> colour;
    int width = 0;

    Slots(const HxMap& map, const hxpic::Colours& colours, const hexgeom::CellRange& v) {
        width = v.x2 - v.x1 + 1;
        of.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(v.y2 - v.y1 + 1));
        std::unordered_map<hxpic::Pixel, std::uint16_t> slot;
        std::size_t at = 0;
        for (int row = v.y1; row <= v.y2; ++row) {
            const char* t = map.terrainRow(row);
            const char* e = map.elevationRow(row);
            for (int col = v.x1; col <= v.x2; ++col) {
                const hxpic::Pixel c = colours.cell(t[col], e[col]);
                auto found = slot.find(c);
                if (found == slot.end()) {
                    found = slot.emplace(c, static_cast<std::uint16_t>(colour.size())).first;
                    colour.push_back(c);
                }
                of[at++] = found->second;
            }
        }
    }
};

// Each colour's cells as one path: the boundaries of its regions, traced
// edge to edge. A region lies to the right of its boundary (clockwise
// outside, anticlockwise around holes), so the non-zero rule fills it. At
// any corner one boundary edge of a colour starts, so the trace is plain.
void fillRegions(cairo_t* cr, const HxMap& map, const hxpic::Colours& colours, const Lattice& lattice,
                 const hexgeom::CellRange& v) {
    const Slots slots(map, colours, v);
    const std::size_t count = slots.colour.size();
    // The cells of each colour, by counting.
    std::vector<std::size_t> first(count + 1, 0);
    for (std::uint16_t s : slots.of) ++first[s + 1];
    for (std::size_t k = 0; k < count; ++k) first[k + 1] += first[k];
    std::vector<std::size_t> cellsOf(slots.of.size());
    {
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        for (std::size_t i = 0; i < slots.of.size(); ++i) cellsOf[next[slots.of[i]]++] = i;
    }
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> edges;
    std::vector<char> used;
    const auto point = [&](std::uint64_t k) {
        return std::make_pair(lattice.ux(Lattice::keyX(k)), lattice.uy(Lattice::keyY(k)));
    };
    for (std::size_t s = 0; s < count; ++s) {
        edges.clear();
        for (std::size_t n = first[s]; n < first[s + 1]; ++n) {
            const std::size_t i = cellsOf[n];
            const int col = v.x1 + static_cast<int>(i % slots.width), row = v.y1 + static_cast<int>(i / slots.width);
            const long long X = lattice.x(col), Y = lattice.y(col, row);
            for (int k = 0; k < 6; ++k) {
                int nc = 0, nr = 0;
                if (lattice.neighbour(col, row, k, nc, nr) &&
                    slots.of[static_cast<std::size_t>(nr - v.y1) * slots.width + (nc - v.x1)] == s)
                    continue;
                edges.emplace_back(Lattice::cornerKey(X, Y, k), Lattice::cornerKey(X, Y, k + 1));
            }
        }
        std::sort(edges.begin(), edges.end());
        used.assign(edges.size(), 0);
        cairo_new_path(cr);
        for (std::size_t e = 0; e < edges.size(); ++e) {
            if (used[e]) continue;
            used[e] = 1;
            const std::uint64_t start = edges[e].first;
            auto p = point(start);
            cairo_move_to(cr, p.first, p.second);
            for (std::uint64_t at = edges[e].second; at != start;) {
                const auto found = std::lower_bound(edges.begin(), edges.end(), std::make_pair(at, std::uint64_t(0)));
                if (found == edges.end() || found->first != at) break;   // cannot happen: boundaries close
                const std::size_t f = static_cast<std::size_t>(found - edges.begin());
                if (used[f]) break;
                used[f] = 1;
                p = point(at);
                cairo_line_to(cr, p.first, p.second);
                at = found->second;
            }
            cairo_close_path(cr);
        }
        const Rgb c = rgb(slots.colour[s]);
        cairo_set_source_rgb(cr, c.r, c.g, c.b);
        cairo_fill(cr);
    }
}

// Every hex edge lies on one of three families of straight lines: across
// (the flats), rising and falling (the slants). Along a line of the grid
// edges alternate with gaps of twice their length (a flat is followed by
// a hexagon's width, a slant by a hexagon's long diagonal), so a run of
// edges on one line is one dashed line. An edge is on line `line` (its
// family and the line's place) and starts at lattice column `start`.
struct GridEdge {
    long long line, start;
    bool operator<(const GridEdge& o) const { return line != o.line ? line < o.line : start < o.start; }
};

enum Family { kAcross = 0, kRising = 1, kFalling = 2 };

// The edges of the outline: per hex its top and its left slants, and the
// other three where no visible hex shares them.
void outlineEdges(const Lattice& lattice, const hexgeom::CellRange& v, std::vector<GridEdge>& across,
                  std::vector<GridEdge>& slants) {
    const auto add = [&](Family f, long long invariant, long long start) {
        (f == kAcross ? across : slants).push_back(GridEdge{invariant * 3 + f, start});
    };
    for (int row = v.y1; row <= v.y2; ++row)
        for (int col = v.x1; col <= v.x2; ++col) {
            const long long X = lattice.x(col), Y = lattice.y(col, row);
            int nc = 0, nr = 0;
            add(kRising, X + Y + 1, X);   // edge 0, upper left
            add(kAcross, Y, X + 1);       // edge 1, top
            add(kFalling, X - Y - 1, X);  // edge 5, lower left
            if (!lattice.neighbour(col, row, 2, nc, nr)) add(kFalling, X - Y + 3, X + 3);
            if (!lattice.neighbour(col, row, 3, nc, nr)) add(kRising, X + Y + 5, X + 3);
            if (!lattice.neighbour(col, row, 4, nc, nr)) add(kAcross, Y + 2, X + 1);
        }
}

// Runs of edges one period apart on one line: calls run(line, first, last).
template <typename Run>
long long forRuns(std::vector<GridEdge>& edges, long long period, Run run) {
    std::sort(edges.begin(), edges.end());
    long long runs = 0;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i + 1;
        while (j < edges.size() && edges[j].line == edges[i].line && edges[j].start == edges[j - 1].start + period) ++j;
        run(edges[i].line, edges[i].start, edges[j - 1].start);
        ++runs;
        i = j;
    }
    return runs;
}

long long floorDiv3(long long a) { return a >= 0 ? a / 3 : -((-a + 2) / 3); }

void strokeOutlines(cairo_t* cr, const Lattice& lattice, const hexgeom::CellRange& v) {
    std::vector<GridEdge> across, slants;
    outlineEdges(lattice, v, across, slants);
    const double q = lattice.quarter(), h = lattice.half();
    // Stroked some hundred lines at a time: a reader turns each stroke into
    // shapes, and one stroke of a whole map's dashes costs it much memory.
    long long pending = 0;
    const auto flush = [&] {
        if (++pending % 256 == 0) cairo_stroke(cr);
    };
    const double acrossDash[] = {2 * q, 4 * q};
    cairo_set_dash(cr, acrossDash, 2, 0);
    forRuns(across, 6, [&](long long line, long long first, long long last) {
        const double y = lattice.uy(floorDiv3(line));
        cairo_move_to(cr, lattice.ux(first), y);
        cairo_line_to(cr, lattice.ux(last + 2), y);
        flush();
    });
    cairo_stroke(cr);
    const double side = std::hypot(q, h);
    const double slantDash[] = {side, 2 * side};
    cairo_set_dash(cr, slantDash, 2, 0);
    forRuns(slants, 3, [&](long long line, long long first, long long last) {
        const long long invariant = floorDiv3(line);
        const bool rising = line - 3 * invariant == kRising;
        // Rising lines keep x + y, falling ones x - y.
        const auto yAt = [&](long long x) { return rising ? invariant - x : x - invariant; };
        cairo_move_to(cr, lattice.ux(first), lattice.uy(yAt(first)));
        cairo_line_to(cr, lattice.ux(last + 1), lattice.uy(yAt(last + 1)));
        flush();
    });
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

// Glyphs of the ten digits in the context's current font.
struct Digits {
    unsigned long index[10];
    double advance;
    double height;   // ink height of the digits, for centring

    explicit Digits(cairo_t* cr) : index{}, advance(0), height(0) {
        cairo_scaled_font_t* font = cairo_get_scaled_font(cr);
        for (int d = 0; d < 10; ++d) {
            const char text[2] = {static_cast<char>('0' + d), 0};
            cairo_glyph_t* glyphs = nullptr;
            int count = 0;
            if (cairo_scaled_font_text_to_glyphs(font, 0, 0, text, 1, &glyphs, &count, nullptr, nullptr, nullptr) ==
                    CAIRO_STATUS_SUCCESS &&
                count == 1)
                index[d] = glyphs[0].index;
            cairo_glyph_free(glyphs);
        }
        cairo_text_extents_t extents;
        cairo_text_extents(cr, "0", &extents);
        advance = extents.x_advance;
        height = extents.height;
    }

    // Appends `text` (digits only) centred on cx with its digits' middle on cy.
    void add(std::vector<cairo_glyph_t>& out, const std::string& text, double cx, double cy) const {
        double x = cx - advance * text.size() / 2;
        const double baseline = cy + height / 2;
        for (char c : text) {
            if (c < '0' || c > '9') continue;
            out.push_back(cairo_glyph_t{index[c - '0'], x, baseline});
            x += advance;
        }
    }

    // The same as text: the digits, their middle and their baseline.
    void add(TextItem& item, const std::string& text, double cx, double cy) const {
        item.text = text;
        item.middle = cx;
        item.baseline = cy + height / 2;
    }
};

void showGlyphs(cairo_t* cr, std::vector<cairo_glyph_t>& glyphs) {
    if (!glyphs.empty()) cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
    glyphs.clear();
}

std::string labelText(int e) { return e < 0 ? std::string() : std::to_string(e); }

}  // namespace

namespace {

// Label text height: "10" takes about half the hexagon's width; with hex
// numbers the label moves into the lower half and shrinks a little.
double labelSize(const Style& style) {
    const double room = std::min(style.grid.across, style.grid.step());
    return style.numbers ? 0.34 * room : 0.42 * room;
}

// Hex numbers within the hexagon's top flat, a digit being 0.64 em wide.
// The whole map's size for hex numbers, their digits and one number.
int numberedW(const HxMap& map, const Numbering& n) { return n.mapW > 0 ? n.mapW : map.xs(); }
int numberedH(const HxMap& map, const Numbering& n) { return n.mapW > 0 ? n.mapH : map.ys(); }
int numberDigits(const HxMap& map, const Numbering& n) {
    return hexnum::digits(numberedW(map, n)) + hexnum::digits(numberedH(map, n));
}
std::string numberOf(const HxMap& map, const Numbering& n, int col, int row) {
    return hexnum::number(col + n.dx, row + n.dy, numberedW(map, n), numberedH(map, n));
}

double numberSize(const HxMap& map, const Grid& g, const Numbering& numbering) {
    const double digitsWide = numberDigits(map, numbering);
    return std::min(0.2 * g.across, 0.93 * (g.wide / 2) / (0.64 * static_cast<double>(digitsWide)));
}

}  // namespace

void draw(cairo_t* cr, const HxMap& map, const hxpic::Colours& colours, const hexgeom::CellRange& cells,
          const hexgeom::CellRange& visible, const Style& style, Fonts& fonts) {
    if (visible.empty()) return;
    const Grid& g = style.grid;
    const Lattice lattice(cells, g, visible);
    cairo_save(cr);
    // In stripes of rows of some forty thousand cells: a path's text in an
    // SVG must stay below the 10 MB that XML readers take in one
    // attribute. Each stripe reaches one row into the next, which paints
    // that row again: the anti-aliased edge where they meet lies under
    // solid paint of its own colour, and no seam shows.
    const int across = visible.x2 - visible.x1 + 1;
    const int stripe = std::max(2, 40000 / across);
    for (int top = visible.y1; top <= visible.y2; top += stripe) {
        const hexgeom::CellRange part{visible.x1, top, visible.x2, std::min(visible.y2, top + stripe)};
        fillRegions(cr, map, colours, Lattice(cells, g, part), part);
    }

    if (style.outline > 0) {
        cairo_new_path(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, style.outline);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
        strokeOutlines(cr, lattice, visible);
    }

    if (style.labels && style.glyphs) {
        const double size = labelSize(style);
        const double middle = style.numbers ? 0.68 * g.across : 0.5 * g.across;
        fonts.use(cr, size);
        cairo_set_source_rgb(cr, 0, 0, 0);
        const Digits digits(cr);
        std::vector<cairo_glyph_t> glyphs;
        for (int row = visible.y1; row <= visible.y2; ++row) {
            const char* elevation = map.elevationRow(row);
            for (int col = visible.x1; col <= visible.x2; ++col) {
                const int e = static_cast<signed char>(elevation[col]);
                if (e <= 0) continue;
                const Place o = hexOrigin(cells, g, col, row);
                digits.add(glyphs, labelText(e), o.x + g.wide / 2, o.y + middle);
            }
            if (glyphs.size() > 4096) showGlyphs(cr, glyphs);
        }
        showGlyphs(cr, glyphs);
    }
    cairo_restore(cr);
    if (style.numbers && style.glyphs) drawNumbers(cr, map, cells, visible, g, fonts, style.numbering);
}

void textItems(const HxMap& map, const hexgeom::CellRange& cells, const hexgeom::CellRange& visible,
               const Style& style, bool numbers, Fonts& fonts, const std::function<void(const TextItem&)>& out) {
    if (visible.empty() || !style.labels || (numbers && !style.numbers)) return;
    const Grid& g = style.grid;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    TextItem item;
    item.size = numbers ? numberSize(map, g, style.numbering) : labelSize(style);
    fonts.use(cr, item.size);
    const Digits digits(cr);
    const double middle = style.numbers ? 0.68 * g.across : 0.5 * g.across;
    for (int row = visible.y1; row <= visible.y2; ++row) {
        const char* elevation = map.elevationRow(row);
        for (int col = visible.x1; col <= visible.x2; ++col) {
            const Place o = hexOrigin(cells, g, col, row);
            if (numbers) {
                digits.add(item, numberOf(map, style.numbering, col, row), o.x + g.wide / 2,
                           o.y + 0.1 * g.across + digits.height / 2);
            } else {
                const int e = static_cast<signed char>(elevation[col]);
                if (e <= 0) continue;
                digits.add(item, labelText(e), o.x + g.wide / 2, o.y + middle);
            }
            out(item);
        }
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

Shapes countShapes(const HxMap& map, const hxpic::Colours& colours, const hexgeom::CellRange& v,
                   const Style& style) {
    Shapes s;
    if (v.empty()) return s;
    const long long cols = v.x2 - v.x1 + 1LL, rows = v.y2 - v.y1 + 1LL;
    const long long digits = numberDigits(map, style.numbering);
    // Each edge between two colours is a corner in both colours' paths;
    // the picture's rim is one in the colour inside.
    s.corners = 2 * (2 * rows + cols) + 4;
    for (int row = v.y1; row <= v.y2; ++row) {
        const char* t = map.terrainRow(row);
        const char* e = map.elevationRow(row);
        const char* tBelow = row < v.y2 ? map.terrainRow(row + 1) : nullptr;
        const char* eBelow = row < v.y2 ? map.elevationRow(row + 1) : nullptr;
        const char* tAbove = row > v.y1 ? map.terrainRow(row - 1) : nullptr;
        const char* eAbove = row > v.y1 ? map.elevationRow(row - 1) : nullptr;
        for (int col = v.x1; col <= v.x2; ++col) {
            const hxpic::Pixel c = colours.cell(t[col], e[col]);
            // Below, and the right neighbours: each edge once.
            if (tBelow && colours.cell(tBelow[col], eBelow[col]) != c) s.corners += 2;
            if (col < v.x2) {
                const bool even = col % 2 == 0;
                if (colours.cell(t[col + 1], e[col + 1]) != c) s.corners += 2;
                const char* t2 = even ? tBelow : tAbove;
                const char* e2 = even ? eBelow : eAbove;
                if (t2 && colours.cell(t2[col + 1], e2[col + 1]) != c) s.corners += 2;
            }
            if (style.labels) {
                const int el = static_cast<signed char>(e[col]);
                if (el > 0) s.glyphs += el >= 100 ? 3 : el >= 10 ? 2 : 1;
            }
        }
    }
    if (style.numbers) s.glyphs += cols * rows * digits;
    // Lines across: two per row; slanted: about one per row and column of
    // each family.
    if (style.outline > 0) s.lines = 2 * rows + 2 + 2 * (2 * rows + cols + 2);
    return s;
}

void drawNumbers(cairo_t* cr, const HxMap& map, const hexgeom::CellRange& cells, const hexgeom::CellRange& visible,
                 const Grid& g, Fonts& fonts, const Numbering& numbering) {
    if (visible.empty()) return;
    cairo_save(cr);
    // A tenth of the way down, within the top flat's width.
    fonts.use(cr, numberSize(map, g, numbering));
    cairo_set_source_rgb(cr, 0, 0, 0);
    const Digits digits(cr);
    std::vector<cairo_glyph_t> glyphs;
    for (int row = visible.y1; row <= visible.y2; ++row) {
        for (int col = visible.x1; col <= visible.x2; ++col) {
            const Place o = hexOrigin(cells, g, col, row);
            digits.add(glyphs, numberOf(map, numbering, col, row), o.x + g.wide / 2,
                       o.y + 0.1 * g.across + digits.height / 2);
        }
        if (glyphs.size() > 4096) showGlyphs(cr, glyphs);
    }
    showGlyphs(cr, glyphs);
    cairo_restore(cr);
}

// ---------------------------------------------------------------------------
// Legend

namespace {

// "elevation 3", "elevations 0–3", "elevations 1, 4–6": the elevations
// (bits 0..10 of `mask`), runs written as ranges.
std::string elevationText(unsigned mask) {
    std::string list;
    int count = 0;
    for (int e = 0; e <= 10; ++e) {
        if (!(mask >> e & 1u)) continue;
        int last = e;
        while (last < 10 && (mask >> (last + 1) & 1u)) ++last;
        list += (list.empty() ? "" : ", ") + std::to_string(e);
        if (last > e) list += "\u2013" + std::to_string(last);
        count += last - e + 1;
        e = last;
    }
    return (count == 1 ? "elevation " : "elevations ") + list;
}

// The entries of one terrain: one swatch when its colour holds at every
// elevation, else one per colour its cells take, named by the elevations
// that give that colour.
void addTerrain(std::vector<LegendEntry>& entries, char code, const std::string& name, unsigned mask,
                const hxpic::Colours& colours) {
    bool shades = false;
    for (int e = 1; e <= 10; ++e) shades = shades || colours.at(code, e) != colours.at(code, 0);
    if (!shades) {
        entries.push_back(LegendEntry{code, name, colours.at(code, 0)});
        return;
    }
    unsigned left = mask;
    for (int e = 0; e <= 10; ++e) {
        if (!(left >> e & 1u)) continue;
        const hxpic::Pixel colour = colours.at(code, e);
        unsigned same = 0;
        for (int k = e; k <= 10; ++k)
            if ((left >> k & 1u) && colours.at(code, k) == colour) same |= 1u << k;
        left &= ~same;
        entries.push_back(LegendEntry{code, name + ", " + elevationText(same), colour});
    }
}

}  // namespace

std::vector<LegendEntry> legendEntries(const HxMap& map, const hexgeom::CellRange& cells,
                                       const HxTerrainSet& terrains, const hxpic::Colours& colours) {
    // The elevations 0..10 that each terrain code takes in the cells; any
    // other elevation draws the one colour of its own.
    unsigned seen[256] = {};
    bool outsideTable = false;
    for (int row = cells.y1; row <= cells.y2 && !cells.empty(); ++row) {
        const char* terrain = map.terrainRow(row);
        const char* elevation = map.elevationRow(row);
        for (int col = cells.x1; col <= cells.x2; ++col) {
            const int e = static_cast<signed char>(elevation[col]);
            if (e >= 0 && e <= 10) seen[static_cast<unsigned char>(terrain[col])] |= 1u << e;
            else outsideTable = true;
        }
    }
    std::vector<LegendEntry> entries;
    for (const HxTerrainInfo& info : terrains.records()) {
        const unsigned char code = static_cast<unsigned char>(info.c);
        if (!seen[code]) continue;
        std::string name = info.name;
        if (name.empty()) name = info.c == '?' ? "Unpainted" : "Outside the map";
        addTerrain(entries, info.c, name, seen[code], colours);
        seen[code] = 0;   // the first record of a run only
    }
    for (int code = 0; code < 256; ++code)
        if (seen[code]) {
            const char c = static_cast<char>(code);
            std::string name = "Unknown terrain ";
            if (code > 32 && code < 127) name += std::string("'") + c + "'";
            else name += "code " + std::to_string(code);
            addTerrain(entries, c, name, seen[code], colours);
        }
    if (outsideTable) entries.push_back(LegendEntry{0, "Elevation outside 0 to 10", colours.at(0, -1)});
    return entries;
}

namespace {

// Entries go down the first column, then the next: as many columns as the
// width holds (at least one), rows balanced among them.
struct LegendGrid {
    double entryW, lineH, swatchH;
    int columns, rows;
};

LegendGrid legendGrid(const std::vector<LegendEntry>& entries, double width, double size, Fonts& fonts) {
    double widest = 0;
    for (const LegendEntry& e : entries) widest = std::max(widest, fonts.width(e.name, size));
    LegendGrid g;
    g.swatchH = 1.4 * size;
    g.lineH = 2.0 * size;
    g.entryW = 4 * g.swatchH / 3 + 0.6 * size + widest + 1.5 * size;
    const int n = static_cast<int>(entries.size());
    g.columns = std::max(1, std::min(n, static_cast<int>((width - size) / g.entryW)));
    g.rows = n == 0 ? 0 : (n + g.columns - 1) / g.columns;
    if (g.rows > 0) g.columns = (n + g.rows - 1) / g.rows;
    return g;
}

}  // namespace

double legendWidth(const std::vector<LegendEntry>& entries, double size, Fonts& fonts) {
    if (entries.empty()) return 0;
    return legendGrid(entries, 0, size, fonts).entryW + size;
}

double legendHeight(const std::vector<LegendEntry>& entries, double width, double size, Fonts& fonts) {
    if (entries.empty()) return 0;
    const LegendGrid g = legendGrid(entries, width, size, fonts);
    return g.rows * g.lineH + size;
}

std::size_t legendFits(const std::vector<LegendEntry>& entries, double width, double height, double size,
                       Fonts& fonts) {
    if (entries.empty()) return 0;
    const LegendGrid g = legendGrid(entries, width, size, fonts);
    const double rows = std::floor((height - size) / g.lineH);
    if (!(rows >= 1)) return 0;
    const int columns = std::max(1, static_cast<int>((width - size) / g.entryW));
    return static_cast<std::size_t>(std::min<double>(rows * columns, static_cast<double>(entries.size())));
}

void drawLegend(cairo_t* cr, const std::vector<LegendEntry>& entries, double x, double y, double width,
                double size, Fonts& fonts) {
    if (entries.empty()) return;
    const LegendGrid g = legendGrid(entries, width, size, fonts);
    cairo_save(cr);
    cairo_set_line_width(cr, std::max(0.05 * size, 0.01));
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const int column = static_cast<int>(k) / g.rows, row = static_cast<int>(k) % g.rows;
        const double ex = x + size / 2 + column * g.entryW;
        const double ey = y + size / 2 + row * g.lineH + (g.lineH - g.swatchH) / 2;
        cairo_new_path(cr);
        addHexagon(cr, ex, ey, g.swatchH);
        const Rgb c = rgb(entries[k].colour);
        cairo_set_source_rgb(cr, c.r, c.g, c.b);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_stroke(cr);
        fonts.show(cr, entries[k].name, ex + 4 * g.swatchH / 3 + 0.6 * size, ey + g.swatchH / 2 + 0.36 * size, size);
    }
    cairo_restore(cr);
}

}  // namespace hxvec
