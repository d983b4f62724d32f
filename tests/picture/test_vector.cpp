// The vector picture's geometry and the poster's arithmetic, without
// drawing: sizes, sheet counts, labels and hex numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include <cairo.h>

#include "hexnumber.h"
#include "hxmap.h"
#include "hxterrains.h"
#include "hxvector.h"
#include "poster.h"

TEST(VectorGeometry, SizeAndPlaces) {
    // Both shapes with hexes 16 units wide, columns 12 apart: the window's
    // are 12 high, regular ones 8 sqrt(3).
    const double p = 12, s = 8 * std::sqrt(3.0);
    struct Row {
        const char* name;
        hxvec::Shape shape;
        hexgeom::CellRange cells;
        double w, h;
        int col, row;      // a cell whose place is checked
        double x, y;
    };
    const Row rows[] = {
        {"one even column: no half-hex above", hxvec::Shape::Window, {0, 0, 0, 0}, 16, 12, 0, 0, 0, 0},
        {"one odd column", hxvec::Shape::Window, {1, 0, 1, 2}, 16, 36, 1, 2, 0, 24},
        {"even then odd: the even column lower", hxvec::Shape::Window, {0, 0, 1, 0}, 28, 18, 0, 0, 0, 6},
        {"odd then even", hxvec::Shape::Window, {3, 5, 4, 5}, 28, 18, 4, 5, 12, 6},
        {"a block: columns one pitch apart", hxvec::Shape::Window, {2, 1, 5, 3}, 3 * 12 + 16, 3 * 12 + 6, 5, 3, 36,
         24},
        {"regular: one even column", hxvec::Shape::Regular, {0, 0, 0, 0}, 16, s, 0, 0, 0, 0},
        {"regular: even then odd", hxvec::Shape::Regular, {0, 0, 1, 0}, 28, 1.5 * s, 0, 0, 0, s / 2},
        {"regular: a block, columns 3/4 of a width apart", hxvec::Shape::Regular, {2, 1, 5, 3}, 3 * 12 + 16,
         3.5 * s, 5, 3, 36, 2 * s},
    };
    for (const Row& row : rows) {
        const hxvec::Grid grid = hxvec::Grid::of(row.shape, row.shape == hxvec::Shape::Window ? p : s);
        EXPECT_DOUBLE_EQ(grid.wide, 16) << row.name;
        const hxvec::Size size = hxvec::pictureSize(row.cells, grid);
        EXPECT_DOUBLE_EQ(size.w, row.w) << row.name;
        EXPECT_DOUBLE_EQ(size.h, row.h) << row.name;
        const hxvec::Place place = hxvec::hexOrigin(row.cells, grid, row.col, row.row);
        EXPECT_DOUBLE_EQ(place.x, row.x) << row.name;
        EXPECT_DOUBLE_EQ(place.y, row.y) << row.name;
    }
}

TEST(VectorGeometry, CellsInARectangle) {
    const hexgeom::CellRange all{0, 0, 99, 49};
    const double p = 10;
    struct Row {
        const char* name;
        double x, y, w, h;
        bool empty;
        hexgeom::Point mustHold[2];   // cells whose hexagons reach in
    };
    const Row rows[] = {
        {"the top-left corner", 0, 0, 5, 5, false, {{0, 0}, {0, 0}}},
        {"the middle of a sheet", 300, 200, 180, 267, false, {{30, 20}, {48, 46}}},
        {"where a right slant meets the next column", 12.5, 9, 0.8, 0.9, false, {{0, 0}, {1, 0}}},
        {"the last cells", 990, 495, 10, 10, false, {{99, 49}, {99, 49}}},
        {"right of the picture", 2000, 0, 100, 100, true, {}},
        {"below the picture", 0, 900, 100, 100, true, {}},
    };
    for (const Row& row : rows) {
        const hexgeom::CellRange r =
            hxvec::cellsIn(all, hxvec::Grid::of(hxvec::Shape::Window, p), row.x, row.y, row.w, row.h);
        EXPECT_EQ(r.empty(), row.empty) << row.name << ": " << r;
        if (row.empty) continue;
        for (const hexgeom::Point& c : row.mustHold) EXPECT_TRUE(hexgeom::contains(r, c.x, c.y)) << row.name << ": " << r;
        EXPECT_GE(r.x1, all.x1) << row.name;
        EXPECT_LE(r.x2, all.x2) << row.name;
        EXPECT_GE(r.y1, all.y1) << row.name;
        EXPECT_LE(r.y2, all.y2) << row.name;
    }
}

TEST(Poster, SheetsOfAPicture) {
    struct Row {
        const char* name;
        double w, h;
        poster::Paper paper;
        double margin, overlap;
        double columns, rows, pages;
    };
    const double medium254W = 199 * 25.4 + 4 * 25.4 / 3, medium254H = 150 * 25.4 + 25.4 / 2;
    const Row rows[] = {
        {"medium at 1 inch on A4", medium254W, medium254H, {210, 297}, 10, 10, 29, 15, 436},
        {"medium at 10 mm on A4", 199 * 10 + 40 / 3.0, 1505, {210, 297}, 10, 10, 12, 6, 73},
        {"exactly the printable area", 190, 277, {210, 297}, 10, 10, 1, 1, 1},
        {"a hair more than the area", 190.01, 277, {210, 297}, 10, 10, 2, 1, 3},
        {"two sheets exactly, overlap counted once", 190 + 180, 277, {210, 297}, 10, 10, 2, 1, 3},
        {"no margins, no overlap", 421, 297, {210, 297}, 0, 0, 3, 1, 4},
    };
    for (const Row& row : rows) {
        poster::Layout l;
        std::string reason;
        ASSERT_TRUE(poster::layout(row.w, row.h, row.paper, row.margin, row.overlap, l, reason)) << row.name;
        EXPECT_EQ(l.columns, row.columns) << row.name;
        EXPECT_EQ(l.rows, row.rows) << row.name;
        EXPECT_EQ(l.pages(), row.pages) << row.name;
        // The last sheet reaches the picture's end, the one before does not.
        EXPECT_GE(l.sheetX(static_cast<int>(l.columns) - 1) + l.areaW, row.w - 1e-6) << row.name;
        EXPECT_GE(l.sheetY(static_cast<int>(l.rows) - 1) + l.areaH, row.h - 1e-6) << row.name;
        if (l.columns > 1) {
            EXPECT_LT(l.sheetX(static_cast<int>(l.columns) - 2) + l.areaW, row.w) << row.name;
        }
    }
    poster::Layout l;
    std::string reason;
    EXPECT_FALSE(poster::layout(100, 100, {210, 297}, 96, 0, l, reason));
    EXPECT_FALSE(poster::layout(100, 100, {210, 297}, 10, 95, l, reason));
}

TEST(Poster, PaperLabelsAndNumbers) {
    struct PaperRow {
        const char* text;
        bool ok;
        double w, h;
    };
    const PaperRow papers[] = {
        {"a4", true, 210, 297},          {"A3", true, 297, 420},          {"Letter", true, 215.9, 279.4},
        {"300x200mm", true, 300, 200},   {"215.9x279.4MM", true, 215.9, 279.4},
        {"a5", false, 0, 0},             {"300x200", false, 0, 0},        {"x200mm", false, 0, 0},
        {"49x100mm", false, 0, 0},       {"5001x100mm", false, 0, 0},     {"1.2.3x100mm", false, 0, 0},
        {"-300x200mm", false, 0, 0},     {"", false, 0, 0},
    };
    for (const PaperRow& row : papers) {
        poster::Paper paper;
        EXPECT_EQ(poster::parsePaper(row.text, paper), row.ok) << row.text;
        if (!row.ok) continue;
        EXPECT_DOUBLE_EQ(paper.w, row.w) << row.text;
        EXPECT_DOUBLE_EQ(paper.h, row.h) << row.text;
    }

    struct LabelRow {
        int column, row;
        const char* label;
    };
    const LabelRow labels[] = {{0, 0, "A1"}, {1, 2, "B3"}, {25, 0, "Z1"}, {26, 9, "AA10"}, {701, 0, "ZZ1"},
                               {702, 0, "AAA1"}};
    for (const LabelRow& row : labels) EXPECT_EQ(poster::sheetLabel(row.column, row.row), row.label);

    struct NumberRow {
        int col, row, mapW, mapH;
        const char* number;
    };
    const NumberRow numbers[] = {
        {0, 0, 24, 16, "0101"},          {9, 11, 24, 16, "1012"},        {98, 98, 99, 99, "9999"},
        {99, 0, 100, 150, "100001"},     {0, 149, 200, 150, "001150"},   {0, 0, 1000, 9, "000101"},
    };
    for (const NumberRow& row : numbers) EXPECT_EQ(hexnum::number(row.col, row.row, row.mapW, row.mapH), row.number);
}

// The key holds the colours the cells are drawn in: a terrain that shades
// with elevation has a swatch per colour, named by its elevations; the set
// of the key's colours is the set of the cells' colours.
TEST(Legend, TheColoursTheCellsAreDrawnIn) {
    struct Cell {
        char t;
        int e;
    };
    const Cell cells[2][5] = {{{'~', 5}, {'@', 0}, {'@', 3}, {'^', 0}, {'#', 3}},
                              {{'~', 6}, {'@', 2}, {'^', 2}, {'#', 7}, {'x', 20}}};
    HxMap map(5, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            map.st(x, y, cells[y][x].t);
            map.se(x, y, static_cast<char>(cells[y][x].e));
        }
    const HxTerrainSet set;
    const hxpic::Colours colours(set);
    struct Row {
        const char* name;
        hexgeom::CellRange cells;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"whole map", {0, 0, 4, 1},
         {"Road", "Building, elevations 0, 2\u20133", "Water, elevation 5", "Water, elevation 6",
          "Mountain, elevations 0, 2", "Elevation outside 0 to 10"}},
        {"one colour, two elevations: one swatch", {4, 0, 4, 1}, {"Road", "Elevation outside 0 to 10"}},
        {"a shaded terrain at one elevation says which", {0, 0, 0, 0}, {"Water, elevation 5"}},
        {"elevations 0 and 2 draw one colour", {1, 1, 2, 1}, {"Building, elevation 2", "Mountain, elevation 2"}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> names;
        std::set<hxpic::Pixel> keyColours, cellColours;
        for (const hxvec::LegendEntry& e : hxvec::legendEntries(map, row.cells, set, colours)) {
            names.push_back(e.name);
            keyColours.insert(e.colour);
        }
        EXPECT_EQ(names, row.names) << row.name;
        for (int y = row.cells.y1; y <= row.cells.y2; ++y)
            for (int x = row.cells.x1; x <= row.cells.x2; ++x) cellColours.insert(colours.cell(map.t(x, y), map.e(x, y)));
        EXPECT_EQ(keyColours, cellColours) << row.name;
    }
}

// The fill traces each colour's regions as boundaries: every hex must come
// out in its own colour, holes included, and nothing between the hexes
// left unpainted. Drawn on an image surface without outlines or labels.
TEST(VectorDrawing, RegionsFillEveryHexInItsColour) {
    struct Row {
        const char* name;
        int w, h;
        const char* terrain;   // row by row
        hexgeom::CellRange cells;
    };
    const Row rows[] = {
        {"one colour", 5, 4, "~~~~~~~~~~~~~~~~~~~~", {0, 0, 4, 3}},
        {"a ring around a hole with an island", 5, 5, "~~~~~~###~~#~#~~###~~~~~~", {0, 0, 4, 4}},
        {"stripes down the columns", 6, 3, "~#~#~#~#~#~#~#~#~#", {0, 0, 5, 2}},
        {"a checker of every neighbour", 4, 4, "~#@.#@.~@.~#.~#@", {0, 0, 3, 3}},
        {"a region from an odd column", 6, 4, "~~##~~~#~~#~##~~~#~~~~~~", {1, 1, 4, 2}},
    };
    const HxTerrainSet set;
    const hxpic::Colours colours(set);
    for (const Row& row : rows) {
        HxMap map(row.w, row.h);
        for (int y = 0; y < row.h; ++y)
            for (int x = 0; x < row.w; ++x) map.st(x, y, row.terrain[y * row.w + x]);
        for (hxvec::Shape shape : {hxvec::Shape::Regular, hxvec::Shape::Window}) {
            hxvec::Style style;
            style.grid = hxvec::Grid::of(shape, 40);
            style.labels = false;
            const hxvec::Size size = hxvec::pictureSize(row.cells, style.grid);
            const int width = static_cast<int>(std::ceil(size.w)), height = static_cast<int>(std::ceil(size.h));
            cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
            cairo_t* cr = cairo_create(surface);
            hxvec::Fonts fonts;
            hxvec::draw(cr, map, colours, row.cells, row.cells, style, fonts);
            cairo_destroy(cr);
            cairo_surface_flush(surface);
            const auto pixel = [&](double x, double y) {
                const unsigned char* data = cairo_image_surface_get_data(surface);
                const int stride = cairo_image_surface_get_stride(surface);
                return *reinterpret_cast<const std::uint32_t*>(data + static_cast<int>(y) * stride +
                                                                4 * static_cast<int>(x));
            };
            int wrong = 0, gaps = 0;
            for (int y = row.cells.y1; y <= row.cells.y2; ++y)
                for (int x = row.cells.x1; x <= row.cells.x2; ++x) {
                    const hxvec::Place o = hxvec::hexOrigin(row.cells, style.grid, x, y);
                    const double cx = o.x + style.grid.wide / 2, cy = o.y + 20;
                    if (pixel(cx, cy) != colours.cell(map.terrainRow(y)[x], map.elevationRow(y)[x])) ++wrong;
                    // Where three hexes meet below the right corner's
                    // edge, and along the shared flat below: no seams of
                    // background.
                    if (y < row.cells.y2 && (pixel(cx, o.y + 39.5) >> 24) != 255) ++gaps;
                }
            EXPECT_EQ(wrong, 0) << row.name << (shape == hxvec::Shape::Regular ? " (regular)" : " (window)");
            EXPECT_EQ(gaps, 0) << row.name;
            cairo_surface_destroy(surface);
        }
    }
}
