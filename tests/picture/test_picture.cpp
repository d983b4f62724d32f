// The picture core without a display: picture boxes, dot pixels, colours of
// any elevation byte, labels, and pictures drawn in bands.
#include <map>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"

namespace {

const char kTerrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?', 'x', 0};
// Elevation bytes: inside the colour table, outside it, and the extremes of
// a signed byte.
const int kElevations[] = {0, 1, 5, 10, -1, 11, 99, 127, -128, 3, 0};

void fill(HxMap& map) {
    for (int x = 0; x < map.xs(); ++x)
        for (int y = 0; y < map.ys(); ++y) {
            map.st(x, y, kTerrains[(x * 7 + y * 3) % 13]);
            map.se(x, y, static_cast<char>(kElevations[(x + 2 * y) % 11]));
        }
}

// Labels as blocks of ink 8 pixels per digit, so that three digits are
// wider than a zoom-16 hexagon and reach into its neighbours.
class BlockFont : public hxpic::LabelFont {
public:
    const hxpic::Label& label(int value) override {
        asked.insert(value);
        hxpic::Label& l = labels[value];
        if (l.w == 0) {
            l.w = 8 * (value >= 100 ? 3 : value >= 10 ? 2 : 1);
            l.h = 9;
            for (int y = 1; y < 8; ++y) l.ink.push_back({y, y % 3, l.w - 1 - y % 2});
        }
        return l;
    }
    hxpic::Pixel ink() const override { return 0xff123456u; }
    std::set<int> asked;

private:
    std::map<int, hxpic::Label> labels;
};

struct Picture {
    const HxMap& map;
    hxpic::Colours colours{HxTerrainSet()};
    BlockFont font;

    explicit Picture(const HxMap& m) : map(m) {}

    hxpic::Picture at(int zoom, hexgeom::Point viewStart, hexgeom::CellRange cells) {
        return hxpic::Picture{map, colours, zoom, viewStart, cells, &font};
    }
};

hexgeom::CellRange whole(const HxMap& map) { return {0, 0, map.xs() - 1, map.ys() - 1}; }

// Draws into a buffer `margin` pixels larger than the box on every side.
std::vector<hxpic::Pixel> drawWithMargin(const hxpic::Picture& pic, const hexgeom::PixelRect& box, int margin) {
    const int w = box.w + 2 * margin, h = box.h + 2 * margin;
    std::vector<hxpic::Pixel> pixels(static_cast<std::size_t>(w) * h, 0u);
    hxpic::Target target{pixels.data(), w, h, w, {box.x - margin, box.y - margin}};
    hxpic::draw(pic, {box.x - margin, box.y - margin, box.x - margin + w, box.y - margin + h}, target);
    return pixels;
}

}  // namespace

TEST(PictureBox, SizesFromTheGeometry) {
    struct Row {
        const char* name;
        int zoom;
        hexgeom::CellRange cells;
        hexgeom::Point viewStart;
        hexgeom::PixelRect box;
    };
    const Row rows[] = {
        {"1000 x 1000 hexes at zoom 8", 8, {0, 0, 999, 999}, {0, 0}, {0, 0, 9004, 9004}},
        {"1000 x 1000 dots at zoom 0", 0, {0, 0, 999, 999}, {0, 0}, {0, 0, 1000, 1000}},
        {"dots at zoom 3 seen from their first cell", 3, {10, 5, 12, 5}, {10, 5}, {0, 0, 12, 4}},
        {"an even column alone sits half a hex lower", 8, {4, 2, 4, 2}, {4, 2}, {0, 4, 13, 9}},
        {"an odd column alone", 8, {5, 2, 5, 2}, {5, 2}, {0, 0, 13, 9}},
        {"odd columns only end higher", 16, {3, 0, 3, 3}, {3, 0}, {0, 0, 23, 68}},
        {"zoom 64 scrolled past the cells", 64, {0, 0, 1, 0}, {2, 1}, {-130, -65, 152, 97}},
        {"no cells", 8, {3, 0, 2, 0}, {0, 0}, {0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        const hexgeom::PixelRect b = hxpic::pictureBox(r.zoom, r.cells, r.viewStart);
        EXPECT_EQ(std::vector<int>({b.x, b.y, b.w, b.h}), std::vector<int>({r.box.x, r.box.y, r.box.w, r.box.h}))
            << r.name;
    }
}

TEST(PictureBox, EveryDrawnPixelInsideAndNoEmptyMargin) {
    HxMap map(7, 5);
    fill(map);
    for (int x = 0; x < map.xs(); ++x)
        for (int y = 0; y < map.ys(); ++y) map.se(x, y, 0);   // no labels
    Picture p(map);
    for (int zoom : {0, 1, 7, 8, 9, 15, 16, 31, 64})
        for (hexgeom::CellRange cells : {whole(map), hexgeom::CellRange{2, 1, 2, 1}, hexgeom::CellRange{3, 1, 3, 3},
                                         hexgeom::CellRange{1, 0, 2, 4}}) {
            const hexgeom::PixelRect box = hxpic::pictureBox(zoom, cells, {cells.x1, cells.y1});
            const int m = 3, w = box.w + 2 * m, h = box.h + 2 * m;
            const std::vector<hxpic::Pixel> px = drawWithMargin(p.at(zoom, {cells.x1, cells.y1}, cells), box, m);
            int outside = 0;
            bool top = false, bottom = false, left = false, right = false;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    if (px[static_cast<std::size_t>(y) * w + x] == 0) continue;
                    if (x < m || y < m || x >= m + box.w || y >= m + box.h) ++outside;
                    top |= y == m, bottom |= y == m + box.h - 1, left |= x == m, right |= x == m + box.w - 1;
                }
            EXPECT_EQ(outside, 0) << "zoom " << zoom << " " << cells;
            EXPECT_TRUE(top && bottom && left && right) << "zoom " << zoom << " " << cells;
        }
}

TEST(PictureCore, DotPixelsAreTheCellColours) {
    HxMap map(24, 16);
    fill(map);
    Picture p(map);
    for (int zoom : {0, 3}) {
        const hexgeom::Point vs{2, 1};
        const hexgeom::CellRange cells{2, 1, 23, 15};
        const hexgeom::PixelRect box = hxpic::pictureBox(zoom, cells, vs);
        const std::vector<hxpic::Pixel> px = drawWithMargin(p.at(zoom, vs, cells), box, 0);
        const int pitch = zoom + 1;
        int wrong = 0;
        for (int y = 0; y < box.h; ++y)
            for (int x = 0; x < box.w; ++x) {
                const int cx = vs.x + x / pitch, cy = vs.y + y / pitch;
                const hxpic::Pixel want = p.colours.at(map.t(cx, cy), static_cast<signed char>(map.e(cx, cy)));
                wrong += px[static_cast<std::size_t>(y) * box.w + x] != want;
            }
        EXPECT_EQ(wrong, 0) << "zoom " << zoom;
    }
}

TEST(PictureCore, CellColourOfEveryElevationByteIsTheSignedLookUp) {
    const hxpic::Colours colours{HxTerrainSet()};
    for (int t = 0; t < 256; ++t)
        for (int e = 0; e < 256; ++e) {
            const char tc = static_cast<char>(t), ec = static_cast<char>(e);
            ASSERT_EQ(colours.cell(tc, ec), colours.at(tc, static_cast<signed char>(ec))) << t << " " << e;
        }
    EXPECT_EQ(colours.at('~', 200), colours.at(0, 0));
    EXPECT_NE(colours.at('~', 3), colours.at(0, 0));
}

TEST(PictureCore, LabelsOnlyForElevationsAboveZeroFromZoom16) {
    HxMap map(24, 16);
    fill(map);
    for (int zoom : {15, 16}) {
        Picture p(map);
        const hexgeom::CellRange cells = whole(map);
        drawWithMargin(p.at(zoom, {0, 0}, cells), hxpic::pictureBox(zoom, cells, {0, 0}), 0);
        EXPECT_EQ(p.font.asked, zoom == 15 ? std::set<int>{} : std::set<int>({1, 3, 5, 10, 11, 99, 127}));
    }
}

TEST(PictureCore, BandsGiveTheWholePicture) {
    HxMap map(24, 16);
    fill(map);
    Picture p(map);
    for (int zoom : {0, 2, 7, 8, 9, 16, 17, 33, 64})
        for (hexgeom::Point vs : {hexgeom::Point{0, 0}, hexgeom::Point{3, 2}}) {
            const hexgeom::CellRange cells = whole(map);
            const hxpic::Picture pic = p.at(zoom, vs, cells);
            const hexgeom::PixelRect box = hxpic::pictureBox(zoom, cells, vs);
            const hxpic::Clip clip{box.x, box.y, box.x + box.w, box.y + box.h};
            const std::vector<hxpic::Pixel> expected = drawWithMargin(pic, box, 0);
            // Bands of 7 rows, each in a buffer of its own.
            std::vector<hxpic::Pixel> banded;
            for (int y = 0; y < box.h; y += 7) {
                const int rows = std::min(7, box.h - y);
                std::vector<hxpic::Pixel> band(static_cast<std::size_t>(box.w) * rows, 0u);
                hxpic::Target target{band.data(), box.w, rows, box.w, {box.x, box.y + y}};
                hxpic::draw(pic, clip, target);
                banded.insert(banded.end(), band.begin(), band.end());
            }
            EXPECT_TRUE(banded == expected) << "zoom " << zoom << " scroll " << vs;
        }
}

// A palette index for every colour a cell, the outline and the ink take,
// whatever order the palette lists them in; the first of two equal
// entries; 0 for a colour the palette lacks.
TEST(PictureIndices, EveryColourFindsItsPlaceInAnyPalette) {
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    const hxpic::Pixel grass = colours.at('"', 0), sea = colours.at('%', 3), ink = 0xff102030u;
    struct Row {
        const char* name;
        std::vector<hxpic::Pixel> palette;
        int grass, sea, black, ink, clear;
    };
    const Row rows[] = {
        {"sorted, transparent first", {0, hxpic::kBlack, ink, grass, sea}, -1, -1, 1, 2, 0},
        {"reversed", {sea, grass, ink, hxpic::kBlack, 0}, 1, 0, 3, 2, 4},
        {"a colour listed twice", {sea, ink, sea, grass, hxpic::kBlack}, 3, 0, 4, 1, 0},
        {"ink and transparent missing", {grass, hxpic::kBlack, sea}, 0, 2, 1, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const hxpic::Indices indices(colours, r.palette, ink);
        const auto at = [&](hxpic::Pixel p) {
            for (std::size_t i = 0; i < r.palette.size(); ++i)
                if (r.palette[i] == p) return static_cast<int>(i);
            return 0;
        };
        EXPECT_EQ(indices.cell('"', 0), r.grass < 0 ? at(grass) : r.grass);
        EXPECT_EQ(indices.cell('%', 3), r.sea < 0 ? at(sea) : r.sea);
        EXPECT_EQ(indices.black(), r.black);
        EXPECT_EQ(indices.ink(), r.ink);
        EXPECT_EQ(indices.clear(), r.clear);
    }
}
