// The hex picture as vector shapes and real text, drawn on any cairo
// surface: image, PDF or SVG. Plain C++, cairo and Pango; no toolkit.
//
// Geometry: hexagons with flat tops in columns. A hex is `across` units
// from its top flat to its bottom flat and `wide` units from its left
// corner to its right one; column j starts 3/4 of `wide` right of column
// j - 1, row i `across` below row i - 1, and the map's even columns sit
// half a hex lower. Regular hexagons are 2/sqrt(3) of `across` wide (every
// pair of opposite flats equally far apart, columns sqrt(3)/2 of `across`
// apart); the window's hexes are 4/3 of it wide (columns `across` apart).
// Units are whatever the cairo context's user space is (millimetres for
// paper, pixels for PNG).
#ifndef TARVEN_HXVECTOR_H
#define TARVEN_HXVECTOR_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hexgeometry.h"
#include "hxpicture.h"

typedef struct _cairo cairo_t;
class HxMap;
class HxTerrainSet;

namespace hxvec {

enum class Shape { Regular, Window };

struct Grid {
    double across = 1;         // between the top and the bottom flat
    double wide = 4.0 / 3;     // between the left and the right corner
    static Grid of(Shape shape, double across);
    double step() const { return 0.75 * wide; }   // from column to column
};

// Colour from an opaque 0xAARRGGBB pixel; 0 (transparent) is "none".
struct Rgb {
    double r, g, b;
};
Rgb rgb(hxpic::Pixel p);

// The size of the vector picture of `cells` (no legend): from the left
// corner of the first column to the right corner of the last, from the top
// of the highest hexagon to the bottom of the lowest.
struct Size {
    double w, h;
};
Size pictureSize(const hexgeom::CellRange& cells, const Grid& grid);

// Where the hexagon of cell (col, row) has its top-left box corner, with
// the picture's top-left corner at (0, 0).
struct Place {
    double x, y;
};
Place hexOrigin(const hexgeom::CellRange& cells, const Grid& grid, int col, int row);

// The cells whose hexagons reach into the rectangle x..x+w, y..y+h of the
// picture (clamped to `cells`; possibly empty).
hexgeom::CellRange cellsIn(const hexgeom::CellRange& cells, const Grid& grid, double x, double y, double w, double h);

// Outline width for a hex of this pitch in millimetres on paper: thin
// enough for small hexes, never thicker than 0.3 mm, and none below
// kMinOutlineMm, where outlines would print as a dark mesh (as the window
// draws dots without outlines below its smallest hexes).
constexpr double kMinOutlineMm = 2;
double outlineWidthMm(double pitchMm);

// Where the map drawn sits in the whole map, for hex numbers: cell (x, y)
// of the map drawn is cell (x + dx, y + dy) of a map of mapW x mapH cells.
// mapW 0 means the map drawn is the whole map.
struct Numbering {
    int dx = 0, dy = 0, mapW = 0, mapH = 0;
};

struct Style {
    Grid grid;
    double outline = 0;          // outline width in user units; 0: none
    bool labels = true;          // elevation labels (values above 0)
    bool numbers = false;        // hex numbers at the top; labels move lower
    Numbering numbering;
    bool glyphs = true;          // false: labels and numbers left to textRuns
};

// DejaVu Sans, found once through Pango's cairo font map, for every label
// and legend text. Text is drawn as glyphs of that face, so that PDF and SVG
// carry it as text.
class Fonts {
public:
    Fonts();
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    // Sets the face and size (user units per em) on the context.
    void use(cairo_t* cr, double size) const;
    // Writes `text` with its left end at x and its baseline at `baseline`;
    // returns its advance.
    double show(cairo_t* cr, const std::string& text, double x, double baseline, double size) const;
    // The advance of `text` at that size, without hinting.
    double width(const std::string& text, double size) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// Draws the hexagons of `visible` (within `cells`) with the picture's
// top-left corner at the user origin: each colour's regions as one filled
// path of their boundaries, then the black outlines as long dashed lines
// (every hex edge lies on a straight line through the grid), then the
// labels as text. Pass visible = cells for the
// whole picture; a page of a poster passes the cells it shows.
void draw(cairo_t* cr, const HxMap& map, const hxpic::Colours& colours, const hexgeom::CellRange& cells,
          const hexgeom::CellRange& visible, const Style& style, Fonts& fonts);

// Only the hex numbers of `visible` (see hexnumber.h): "0101" for the
// first column and row of the whole map.
void drawNumbers(cairo_t* cr, const HxMap& map, const hexgeom::CellRange& cells, const hexgeom::CellRange& visible,
                 const Grid& grid, Fonts& fonts, const Numbering& numbering = Numbering());

// The elevation labels (or, with `numbers`, the hex numbers) that draw()
// writes, one by one: their text, size, the middle of their width and
// their baseline. For files that carry text as text.
struct TextItem {
    double size = 0, middle = 0, baseline = 0;
    std::string text;
};
void textItems(const HxMap& map, const hexgeom::CellRange& cells, const hexgeom::CellRange& visible,
               const Style& style, bool numbers, Fonts& fonts, const std::function<void(const TextItem&)>& out);

// What drawing `visible` puts into a vector file, counted without drawing:
// the corners of the colour regions' boundaries, the outline lines and the
// glyphs of the labels and numbers. A file's size and the memory a reader
// (and cairo's SVG writer) needs grow with it.
struct Shapes {
    long long corners = 0, lines = 0, glyphs = 0;
    long long total() const { return corners + lines + glyphs; }
};
Shapes countShapes(const HxMap& map, const hxpic::Colours& colours, const hexgeom::CellRange& visible,
                   const Style& style);

// The key of the colours the cells are drawn in, in the catalogue's order:
// a terrain whose colour holds at every elevation has one entry; a terrain
// whose colour shades with elevation one entry per colour its cells take,
// named with the elevations that give it ("Water, elevation 3",
// "Mountain, elevations 0–3"); cells of an elevation outside 0..10 one
// entry of their own. Every colour of the cells is in the key, and no other.
struct LegendEntry {
    char code;
    std::string name;
    hxpic::Pixel colour;
};
std::vector<LegendEntry> legendEntries(const HxMap& map, const hexgeom::CellRange& cells,
                                       const HxTerrainSet& terrains, const hxpic::Colours& colours);

// The legend laid out in columns across `width` units (as many as fit, at
// least one; the entries go down each column in turn), text `size` units
// high. legendWidth: the narrowest width that holds one column, which a
// picture must have for nothing to be cut off. legendHeight: the height at
// that width. legendFits: how many entries fit in width x height.
double legendWidth(const std::vector<LegendEntry>& entries, double size, Fonts& fonts);
double legendHeight(const std::vector<LegendEntry>& entries, double width, double size, Fonts& fonts);
std::size_t legendFits(const std::vector<LegendEntry>& entries, double width, double height, double size,
                       Fonts& fonts);
// Draws it with its top-left corner at (x, y).
void drawLegend(cairo_t* cr, const std::vector<LegendEntry>& entries, double x, double y, double width,
                double size, Fonts& fonts);

}  // namespace hxvec

#endif
