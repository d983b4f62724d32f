// Tables for what the map view paints and keeps in sight: paint and cull
// ranges, the cells under every window pixel and scroll clamping.
#include "viewgeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>

using hexgeom::CellRange;
using hexgeom::PixelRect;
using hexgeom::Point;

namespace {

constexpr CellRange kEmpty{0, 0, -1, -1};

enum class Picture { Hex, Dot, ByZoom };

TEST(HexGeometryRanges, PaintRanges) {
    struct Row {
        const char* what;
        Picture pic;
        int zoom, x1, y1, x2, y2;
        Point vs;
        int cw, ch, mw, mh;
        CellRange expected;
    };
    const Row rows[] = {
        {"hex whole view takes the column and row before", Picture::Hex, 8, -1, -1, -1, -1, {5, 3}, 450, 300, 100, 80, {4, 2, 56, 37}},
        {"hex whole view at (0, 0) has no extra", Picture::Hex, 8, -1, -1, -1, -1, {0, 0}, 450, 300, 100, 80, {0, 0, 52, 35}},
        {"hex extra column only", Picture::Hex, 8, -1, -1, -1, -1, {5, 0}, 450, 300, 100, 80, {4, 0, 56, 35}},
        {"hex small map in a large window", Picture::Hex, 8, -1, -1, -1, -1, {0, 0}, 450, 300, 3, 2, {0, 0, 2, 1}},
        {"hex clamped at the map's far end", Picture::Hex, 8, -1, -1, -1, -1, {95, 75}, 450, 300, 100, 80, {94, 74, 99, 79}},
        {"hex x1, x2 ignored for whole view", Picture::Hex, 8, 200, -1, -5, -1, {5, 3}, 450, 300, 100, 80, {4, 2, 56, 37}},
        {"hex negative row asks for the whole view", Picture::Hex, 8, 3, -1, 3, -1, {5, 3}, 450, 300, 100, 80, {4, 2, 56, 37}},
        {"hex start from view, end given", Picture::Hex, 8, 99, -1, 10, 10, {5, 3}, 450, 300, 100, 80, {4, 2, 10, 10}},
        {"hex start given, end from client", Picture::Hex, 8, 10, 20, 0, -1, {5, 3}, 450, 300, 100, 80, {10, 20, 62, 55}},
        {"hex zero client still takes the extra cells", Picture::Hex, 8, -1, -1, -1, -1, {0, 0}, 0, 0, 100, 80, {0, 0, 2, 2}},
        {"hex single cell", Picture::Hex, 8, 6, 3, 6, 3, {5, 3}, 450, 300, 100, 80, {6, 3, 6, 3}},
        {"hex single cell off-screen is still that cell", Picture::Hex, 8, 90, 70, 90, 70, {0, 0}, 450, 300, 100, 80, {90, 70, 90, 70}},
        {"hex single cell right of the map", Picture::Hex, 8, 100, 3, 100, 3, {0, 0}, 450, 300, 100, 80, kEmpty},
        {"hex single cell left of the map", Picture::Hex, 8, -1, 3, -1, 3, {0, 0}, 450, 300, 100, 80, kEmpty},
        {"hex single cell below the map", Picture::Hex, 8, 3, 80, 3, 80, {0, 0}, 450, 300, 100, 80, kEmpty},
        {"hex empty map", Picture::Hex, 8, -1, -1, -1, -1, {0, 0}, 450, 300, 0, 0, kEmpty},
        {"dot zoom 1 in 100 x 60", Picture::Dot, 1, -1, -1, -1, -2, {0, 0}, 100, 60, 200, 150, {0, 0, 51, 31}},
        {"dot zoom 1 clamped to a small map", Picture::Dot, 1, -1, -1, -1, -2, {0, 0}, 100, 60, 40, 20, {0, 0, 39, 19}},
        {"dot takes no extra column or row", Picture::Dot, 3, -1, -1, -1, -2, {10, 5}, 100, 60, 200, 150, {10, 5, 36, 21}},
        {"dot zoom 0 covers the map", Picture::Dot, 0, -1, -1, -1, -2, {0, 0}, 450, 300, 200, 150, {0, 0, 199, 149}},
        {"dot single cell", Picture::Dot, 3, 12, 5, 12, 5, {10, 5}, 100, 60, 200, 150, {12, 5, 12, 5}},
        {"dot single cell below the map", Picture::Dot, 3, 12, 150, 12, 150, {10, 5}, 100, 60, 200, 150, kEmpty},
        {"zoom 7 picks the dot range", Picture::ByZoom, 7, -1, -1, -1, -1, {5, 3}, 100, 60, 200, 150, {5, 3, 18, 11}},
        {"zoom 8 picks the hex range", Picture::ByZoom, 8, -1, -1, -1, -1, {5, 3}, 100, 60, 200, 150, {4, 2, 17, 10}},
    };
    for (const Row& r : rows) {
        CellRange got{};
        switch (r.pic) {
            case Picture::Hex:
                got = hexgeom::hexPaintRange(r.zoom, r.x1, r.y1, r.x2, r.y2, r.vs, r.cw, r.ch, r.mw, r.mh);
                break;
            case Picture::Dot:
                got = hexgeom::dotPaintRange(r.zoom, r.x1, r.y1, r.x2, r.y2, r.vs, r.cw, r.ch, r.mw, r.mh);
                break;
            case Picture::ByZoom:
                got = hexgeom::paintRange(r.zoom, r.x1, r.y1, r.x2, r.y2, r.vs, r.cw, r.ch, r.mw, r.mh);
                break;
        }
        EXPECT_EQ(got, r.expected) << r.what;
        EXPECT_EQ(got.empty(), r.expected.empty()) << r.what;
    }
}

// Views near the largest int: paint ranges end at the map's edge and hit
// tests find the cells there or none, without int arithmetic overflowing.
TEST(HexGeometryRanges, HugeMapsAtHighZoomStayInRange) {
    const Point vs{INT_MAX - 10, INT_MAX - 10};
    for (int zoom : {0, 7, 8, 64}) {
        SCOPED_TRACE(zoom);
        EXPECT_EQ(hexgeom::wholeViewRange(zoom, vs, 1280, 1024, INT_MAX, INT_MAX),
                  (CellRange{zoom > 7 ? vs.x - 1 : vs.x, zoom > 7 ? vs.y - 1 : vs.y, INT_MAX - 1, INT_MAX - 1}));
        int dx = 0, dy = 0;
        EXPECT_FALSE(hexgeom::cellFromPixel(zoom, 1279, 1023, vs, INT_MAX, INT_MAX, dx, dy));
        EXPECT_TRUE(hexgeom::cellFromPixel(zoom, 5, 5, vs, INT_MAX, INT_MAX, dx, dy));
        EXPECT_GE(dx, vs.x - 1);
        EXPECT_GE(dy, vs.y - 1);
    }
}

TEST(HexGeometryRanges, SingleCellRepaintOutsideTheMapIsEmpty) {
    struct Row { int col, row, mw, mh; CellRange expected; };
    const Row rows[] = {{0, 0, 5, 4, {0, 0, 0, 0}}, {4, 3, 5, 4, {4, 3, 4, 3}}, {5, 0, 5, 4, kEmpty},
                        {0, 4, 5, 4, kEmpty},       {-1, 0, 5, 4, kEmpty},      {0, -1, 5, 4, kEmpty},
                        {0, 0, 0, 0, kEmpty}};
    for (const Row& r : rows)
        EXPECT_EQ(hexgeom::singleCellRange(r.col, r.row, r.mw, r.mh), r.expected) << r.col << "," << r.row;
}

TEST(HexGeometryCull, HandPickedRectangles) {
    struct Row { const char* what; int zoom, rx, ry, rw, rh; Point vs; int cw, ch, mw, mh; CellRange expected; };
    const Row rows[] = {
        {"hex one pixel touches two columns", 8, 100, 100, 1, 1, {0, 0}, 450, 300, 100, 80, {10, 10, 11, 11}},
        {"dot one pixel is one cell", 3, 8, 0, 1, 1, {10, 5}, 100, 60, 200, 150, {12, 5, 12, 5}},
        {"dot rectangle clipped to the client", 3, -50, -50, 60, 60, {10, 5}, 100, 60, 200, 150, {10, 5, 12, 7}},
        {"dot right edge runs to the whole-view end", 3, 96, 0, 4, 1, {10, 5}, 100, 60, 200, 150, {34, 5, 36, 5}},
        {"hex bottom edge runs to the whole-view end", 8, 0, 299, 1, 1, {5, 3}, 450, 300, 100, 80, {4, 35, 5, 37}},
        {"zero width", 8, 10, 10, 0, 5, {0, 0}, 450, 300, 100, 80, kEmpty},
        {"right of the client", 8, 450, 10, 20, 5, {0, 0}, 450, 300, 100, 80, kEmpty},
        {"above the client", 3, 10, -20, 5, 20, {0, 0}, 450, 300, 100, 80, kEmpty},
        {"map ends before the rectangle", 3, 200, 10, 20, 5, {0, 0}, 450, 300, 40, 80, kEmpty},
    };
    for (const Row& r : rows)
        EXPECT_EQ(hexgeom::cullRange(r.zoom, r.rx, r.ry, r.rw, r.rh, r.vs, r.cw, r.ch, r.mw, r.mh), r.expected)
            << r.what;
}

struct ViewCase { Point vs; int cw, ch, mw, mh; };
const ViewCase kViews[] = {
    {{0, 0}, 450, 300, 100, 80}, {{5, 3}, 317, 211, 100, 80}, {{1, 2}, 640, 480, 60, 50},
    {{95, 75}, 450, 300, 100, 80}, {{2, 7}, 100, 60, 3, 2},
};

TEST(HexGeometryCull, FullWindowIsTheWholeView) {
    for (int zoom = hexgeom::kMinZoom; zoom <= hexgeom::kMaxZoom; ++zoom)
        for (const ViewCase& v : kViews)
            EXPECT_EQ(hexgeom::cullRange(zoom, 0, 0, v.cw, v.ch, v.vs, v.cw, v.ch, v.mw, v.mh),
                      hexgeom::wholeViewRange(zoom, v.vs, v.cw, v.ch, v.mw, v.mh))
                << "zoom " << zoom << " scroll " << v.vs << " client " << v.cw << "x" << v.ch;
}

bool intersects(const PixelRect& a, const PixelRect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

TEST(HexGeometryCull, KeepsEveryCellTouchingTheRectangle) {
    std::mt19937 rng(12345);
    for (int zoom : {0, 1, 3, 7, 8, 9, 11, 16, 33, 64}) {
        for (const ViewCase& v : kViews) {
            const CellRange whole = hexgeom::wholeViewRange(zoom, v.vs, v.cw, v.ch, v.mw, v.mh);
            for (int n = 0; n < 40; ++n) {
                const int rx = std::uniform_int_distribution<int>(0, v.cw - 1)(rng);
                const int ry = std::uniform_int_distribution<int>(0, v.ch - 1)(rng);
                const int rw = std::uniform_int_distribution<int>(1, std::min(v.cw - rx, 120))(rng);
                const int rh = std::uniform_int_distribution<int>(1, std::min(v.ch - ry, 120))(rng);
                const PixelRect rect{rx, ry, rw, rh};
                const CellRange cull = hexgeom::cullRange(zoom, rx, ry, rw, rh, v.vs, v.cw, v.ch, v.mw, v.mh);
                if (!cull.empty()) {
                    ASSERT_TRUE(hexgeom::contains(whole, cull.x1, cull.y1) && hexgeom::contains(whole, cull.x2, cull.y2))
                        << "cull " << cull << " outside whole view " << whole;
                }
                for (int col = 0; col < v.mw; ++col)
                    for (int row = 0; row < v.mh; ++row) {
                        const PixelRect box = hexgeom::isDotMap(zoom) ? hexgeom::dotCellBox(zoom, col, row, v.vs)
                                                                      : hexgeom::hexCellBox(zoom, col, row, v.vs);
                        if (!intersects(box, rect)) continue;
                        ASSERT_TRUE(hexgeom::contains(cull, col, row))
                            << "zoom " << zoom << " scroll " << v.vs << " rect " << rx << "," << ry << " " << rw << "x"
                            << rh << " misses cell " << col << "," << row << "; cull " << cull;
                    }
            }
        }
    }
}

TEST(HexGeometryHitTest, EveryWindowPixelResolvesToAPaintedCell) {
    // The cell under any window pixel is one the whole-view paint draws, so a
    // brush never acts on a cell the user cannot see.
    const int cw = 211, ch = 157;
    for (int zoom = hexgeom::kMinZoom; zoom <= hexgeom::kMaxZoom; ++zoom)
        for (const Point vs : {Point{0, 0}, Point{5, 3}}) {
            const CellRange whole = hexgeom::wholeViewRange(zoom, vs, cw, ch, 1000, 1000);
            for (int y = 0; y < ch; ++y)
                for (int x = 0; x < cw; ++x) {
                    int dx = 0, dy = 0;
                    if (!hexgeom::cellFromPixel(zoom, x, y, vs, 1000, 1000, dx, dy)) continue;
                    ASSERT_TRUE(hexgeom::contains(whole, dx, dy))
                        << "zoom " << zoom << " scroll " << vs << " pixel " << x << "," << y;
                }
        }
}

TEST(HexGeometryScroll, ClampedPosition) {
    struct Row { const char* what; int zoom; Point vs; int cw, ch, mw, mh; Point expected; };
    const Row rows[] = {
        {"pulled back at the map's end", 8, {60, 60}, 450, 300, 100, 80, {50, 47}},
        {"exactly at the limit", 8, {50, 47}, 450, 300, 100, 80, {50, 47}},
        {"kept inside", 8, {20, 10}, 450, 300, 100, 80, {20, 10}},
        {"kept at zoom 16", 16, {20, 10}, 450, 300, 100, 80, {20, 10}},
        {"pulled back at zoom 16", 16, {90, 70}, 450, 300, 100, 80, {74, 63}},
        {"window larger than the map", 8, {5, 5}, 450, 300, 10, 10, {0, 0}},
        {"never negative", 8, {-3, -1}, 450, 300, 100, 80, {0, 0}},
        {"zero client keeps the last cell", 0, {99, 79}, 0, 0, 100, 80, {99, 79}},
        {"empty map", 8, {4, 4}, 450, 300, 0, 0, {0, 0}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(hexgeom::clampedScrollPosition(r.zoom, r.vs, r.cw, r.ch, r.mw, r.mh), r.expected) << r.what;
}

}  // namespace
