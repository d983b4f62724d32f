#include "hxvector.h"

#include <algorithm>
#include <cmath>
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

namespace {

bool hasEvenColumn(const hexgeom::CellRange& c) { return c.x1 % 2 == 0 || c.x1 < c.x2; }
bool hasOddColumn(const hexgeom::CellRange& c) { return c.x1 % 2 != 0 || c.x1 < c.x2; }

// How far the highest hexagon lies below the even columns' offset: the
// picture starts at the top of an odd column when there is one.
double topOffset(const hexgeom::CellRange& c, double pitch) { return hasOddColumn(c) ? 0 : pitch / 2; }

}  // namespace

Size pictureSize(const hexgeom::CellRange& cells, double pitch) {
    if (cells.empty()) return Size{0, 0};
    const double columns = cells.x2 - cells.x1 + 1.0, rows = cells.y2 - cells.y1 + 1.0;
    const double bottom = rows * pitch + (hasEvenColumn(cells) ? pitch / 2 : 0);
    return Size{(columns - 1) * pitch + 4 * pitch / 3, bottom - topOffset(cells, pitch)};
}

Place hexOrigin(const hexgeom::CellRange& cells, double pitch, int col, int row) {
    return Place{(col - cells.x1) * pitch,
                 (row - cells.y1) * pitch + (col % 2 == 0 ? pitch / 2 : 0) - topOffset(cells, pitch)};
}

hexgeom::CellRange cellsIn(const hexgeom::CellRange& cells, double pitch, double x, double y, double w, double h) {
    if (cells.empty() || !(pitch > 0)) return hexgeom::CellRange{0, 0, -1, -1};
    const double top = topOffset(cells, pitch);
    // Generous by one cell on each side: the caller clips.
    const double c1 = std::floor((x - 4 * pitch / 3) / pitch), c2 = std::floor((x + w) / pitch);
    const double r1 = std::floor((y + top - pitch) / pitch) - 1, r2 = std::floor((y + h + top) / pitch);
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

double outlineWidthMm(double pitchMm) { return std::min(0.3, pitchMm / 25); }

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

void addHexagon(cairo_t* cr, double x, double y, double p) {
    cairo_move_to(cr, x, y + p / 2);
    cairo_line_to(cr, x + p / 3, y);
    cairo_line_to(cr, x + p, y);
    cairo_line_to(cr, x + 4 * p / 3, y + p / 2);
    cairo_line_to(cr, x + p, y + p);
    cairo_line_to(cr, x + p / 3, y + p);
    cairo_close_path(cr);
}

// A run of `count` hexagons of one column, one below the other, as one
// outline: across the top, down the right side's zigzag, across the bottom
// and up the left side's zigzag.
void addColumnRun(cairo_t* cr, double x, double y, int count, double p) {
    cairo_move_to(cr, x + p / 3, y);
    cairo_line_to(cr, x + p, y);
    for (int k = 0; k < count; ++k) {
        cairo_line_to(cr, x + 4 * p / 3, y + k * p + p / 2);
        cairo_line_to(cr, x + p, y + (k + 1) * p);
    }
    cairo_line_to(cr, x + p / 3, y + count * p);
    for (int k = count - 1; k >= 0; --k) {
        cairo_line_to(cr, x, y + k * p + p / 2);
        if (k > 0) cairo_line_to(cr, x + p / 3, y + k * p);
    }
    cairo_close_path(cr);
}

// Every edge once: per column the zigzag of its left side and the top edge
// of each hexagon, the bottom edge of its last one, and the parts of its
// right side that the next column's left side does not cover. Stroked a
// few columns at a time: a reader turns each stroke into shapes, and one
// stroke of a million hexagons costs it gigabytes.
void strokeOutlines(cairo_t* cr, const hexgeom::CellRange& cells, const hexgeom::CellRange& v, double p) {
    for (int col = v.x1; col <= v.x2; ++col) {
        if ((col - v.x1) % 8 == 0) cairo_stroke(cr);
        const Place first = hexOrigin(cells, p, col, v.y1);
        const double x = first.x, rows = v.y2 - v.y1 + 1.0;
        const double bottom = first.y + rows * p;
        cairo_move_to(cr, x + p / 3, first.y);
        for (int row = v.y1; row <= v.y2; ++row) {
            const double y = first.y + (row - v.y1) * p;
            cairo_line_to(cr, x, y + p / 2);
            cairo_line_to(cr, x + p / 3, y + p);
        }
        for (int row = v.y1; row <= v.y2; ++row) {
            const double y = first.y + (row - v.y1) * p;
            cairo_move_to(cr, x + p / 3, y);
            cairo_line_to(cr, x + p, y);
        }
        cairo_move_to(cr, x + p / 3, bottom);
        cairo_line_to(cr, x + p, bottom);
        if (col == v.x2) {
            cairo_move_to(cr, x + p, first.y);
            for (int row = v.y1; row <= v.y2; ++row) {
                const double y = first.y + (row - v.y1) * p;
                cairo_line_to(cr, x + 4 * p / 3, y + p / 2);
                cairo_line_to(cr, x + p, y + p);
            }
        } else if (col % 2 == 0) {
            // The next column sits half a hexagon higher: the last half
            // edge at the bottom is this column's alone.
            cairo_move_to(cr, x + 4 * p / 3, bottom - p / 2);
            cairo_line_to(cr, x + p, bottom);
        } else {
            cairo_move_to(cr, x + p, first.y);
            cairo_line_to(cr, x + 4 * p / 3, first.y + p / 2);
        }
    }
    cairo_stroke(cr);
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
};

void showGlyphs(cairo_t* cr, std::vector<cairo_glyph_t>& glyphs) {
    if (!glyphs.empty()) cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
    glyphs.clear();
}

std::string labelText(int e) { return e < 0 ? std::string() : std::to_string(e); }

}  // namespace

void draw(cairo_t* cr, const HxMap& map, const hxpic::Colours& colours, const hexgeom::CellRange& cells,
          const hexgeom::CellRange& visible, const Style& style, Fonts& fonts) {
    if (visible.empty()) return;
    const double p = style.pitch;

    // Runs of one colour down a column, grouped by colour in the order the
    // colours first turn up: one path per colour, one outline per run.
    struct Run {
        int col, row, count;
    };
    std::unordered_map<hxpic::Pixel, std::size_t> slot;
    std::vector<hxpic::Pixel> order;
    std::vector<std::vector<Run>> groups;
    for (int col = visible.x1; col <= visible.x2; ++col) {
        hxpic::Pixel last = 0;
        std::size_t lastSlot = 0;
        for (int row = visible.y1; row <= visible.y2; ++row) {
            const hxpic::Pixel colour = colours.cell(map.terrainRow(row)[col], map.elevationRow(row)[col]);
            if (row > visible.y1 && colour == last) {
                ++groups[lastSlot].back().count;
                continue;
            }
            auto found = slot.find(colour);
            if (found == slot.end()) {
                found = slot.emplace(colour, groups.size()).first;
                order.push_back(colour);
                groups.emplace_back();
            }
            last = colour;
            lastSlot = found->second;
            groups[lastSlot].push_back(Run{col, row, 1});
        }
    }

    cairo_save(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    for (std::size_t k = 0; k < groups.size(); ++k) {
        cairo_new_path(cr);
        for (const Run& run : groups[k]) {
            const Place o = hexOrigin(cells, p, run.col, run.row);
            if (run.count == 1) addHexagon(cr, o.x, o.y, p);
            else addColumnRun(cr, o.x, o.y, run.count, p);
        }
        const Rgb c = rgb(order[k]);
        cairo_set_source_rgb(cr, c.r, c.g, c.b);
        cairo_fill(cr);
    }
    groups.clear();

    if (style.outline > 0) {
        cairo_new_path(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, style.outline);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
        strokeOutlines(cr, cells, visible, p);
    }

    if (style.labels) {
        // Sized so that "10" takes about half the hexagon's width; with hex
        // numbers the label moves into the lower half and shrinks a little.
        const double size = style.numbers ? 0.34 * p : 0.42 * p;
        const double middle = style.numbers ? 0.68 * p : 0.5 * p;
        fonts.use(cr, size);
        cairo_set_source_rgb(cr, 0, 0, 0);
        const Digits digits(cr);
        std::vector<cairo_glyph_t> glyphs;
        for (int row = visible.y1; row <= visible.y2; ++row) {
            const char* elevation = map.elevationRow(row);
            for (int col = visible.x1; col <= visible.x2; ++col) {
                const int e = static_cast<signed char>(elevation[col]);
                if (e <= 0) continue;
                const Place o = hexOrigin(cells, p, col, row);
                digits.add(glyphs, labelText(e), o.x + 2 * p / 3, o.y + middle);
            }
            if (glyphs.size() > 4096) showGlyphs(cr, glyphs);
        }
        showGlyphs(cr, glyphs);
    }
    cairo_restore(cr);
    if (style.numbers) drawNumbers(cr, map, cells, visible, p, fonts, style.numbering);
}

void drawNumbers(cairo_t* cr, const HxMap& map, const hexgeom::CellRange& cells, const hexgeom::CellRange& visible,
                 double pitch, Fonts& fonts, const Numbering& numbering) {
    if (visible.empty()) return;
    const int mapW = numbering.mapW > 0 ? numbering.mapW : map.xs();
    const int mapH = numbering.mapW > 0 ? numbering.mapH : map.ys();
    cairo_save(cr);
    // Within the hexagon's width a tenth of the way down (0.73 of the
    // height), a digit being 0.64 em wide.
    const std::size_t digitsWide = static_cast<std::size_t>(hexnum::digits(mapW) + hexnum::digits(mapH));
    const double size = std::min(0.2 * pitch, 0.62 * pitch / (0.64 * static_cast<double>(digitsWide)));
    fonts.use(cr, size);
    cairo_set_source_rgb(cr, 0, 0, 0);
    const Digits digits(cr);
    std::vector<cairo_glyph_t> glyphs;
    for (int row = visible.y1; row <= visible.y2; ++row) {
        for (int col = visible.x1; col <= visible.x2; ++col) {
            const Place o = hexOrigin(cells, pitch, col, row);
            digits.add(glyphs, hexnum::number(col + numbering.dx, row + numbering.dy, mapW, mapH), o.x + 2 * pitch / 3,
                       o.y + 0.1 * pitch + digits.height / 2);
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
