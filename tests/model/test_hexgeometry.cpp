// Tables for the hex pictures' geometry: shapes, origins and hit testing,
// plus exhaustive checks that the hit test gives back the cell drawn under a
// pixel.
#include "hexgeometry.h"

#include <gtest/gtest.h>

#include <climits>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using hexgeom::HexShape;
using hexgeom::PixelRect;
using hexgeom::Point;

namespace {

TEST(HexGeometryBasics, ClampZoomAndFloorDivision) {
    struct Row { int zoom, expected; };
    for (const Row& r : {Row{-5, 0}, Row{0, 0}, Row{7, 7}, Row{8, 8}, Row{64, 64}, Row{65, 64}, Row{100, 64}})
        EXPECT_EQ(hexgeom::clampZoom(r.zoom), r.expected) << r.zoom;

    struct Div { int a, b, q, m; };
    const Div divs[] = {{0, 9, 0, 0},   {8, 9, 0, 8},   {9, 9, 1, 0},   {-1, 9, -1, 8},
                        {-9, 9, -1, 0}, {-10, 9, -2, 8}, {-4, 9, -1, 5}, {17, 1, 17, 0}};
    for (const Div& d : divs) {
        EXPECT_EQ(hexgeom::floorDiv(d.a, d.b), d.q) << d.a << " / " << d.b;
        EXPECT_EQ(hexgeom::floorMod(d.a, d.b), d.m) << d.a << " % " << d.b;
    }
}

TEST(HexGeometryShape, VerticesAndCornerConstants) {
    struct Row {
        int zoom, hys, hxs;
        Point v[6];
        int cornerStrip, halfHeight, threshold;
    };
    const Row rows[] = {
        {8, 9, 12, {{0, 4}, {3, 0}, {9, 0}, {12, 4}, {9, 8}, {3, 8}}, 3, 4, 18},
        {9, 10, 13, {{0, 5}, {3, 0}, {9, 0}, {13, 5}, {9, 9}, {3, 9}}, 3, 5, 25},
        {16, 17, 22, {{0, 8}, {5, 0}, {16, 0}, {22, 8}, {16, 16}, {5, 16}}, 5, 8, 68},
        {32, 33, 44, {{0, 16}, {11, 0}, {33, 0}, {44, 16}, {33, 32}, {11, 32}}, 11, 16, 264},
        {64, 65, 86, {{0, 32}, {21, 0}, {64, 0}, {86, 32}, {64, 64}, {21, 64}}, 21, 32, 1040},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("zoom " + std::to_string(r.zoom));
        const HexShape s = hexgeom::hexShape(r.zoom);
        EXPECT_EQ(s.hys, r.hys);
        EXPECT_EQ(s.hxs, r.hxs);
        for (int k = 0; k < 6; ++k) EXPECT_EQ(s.vertex[k], r.v[k]) << "vertex " << k + 1;
        EXPECT_EQ(s.hxs / 4, r.cornerStrip);
        EXPECT_EQ(s.hys / 2, r.halfHeight);
        EXPECT_EQ(hexgeom::cornerThreshold(r.zoom), r.threshold);
    }
}

TEST(HexGeometryShape, OriginsAndLabels) {
    struct Row { const char* what; bool hex; int zoom, col, row; Point vs, expected; };
    const Row rows[] = {
        {"even column lowered", true, 8, 0, 0, {0, 0}, {0, 4}},
        {"odd column", true, 8, 1, 0, {0, 0}, {9, 0}},
        {"next row", true, 8, 0, 1, {0, 0}, {0, 13}},
        {"extra column and row", true, 8, 4, 2, {5, 3}, {-9, -5}},
        {"first cell in view (odd)", true, 8, 5, 3, {5, 3}, {0, 0}},
        {"even column in view", true, 8, 6, 3, {5, 3}, {9, 4}},
        {"negative odd column", true, 8, -1, 0, {0, 0}, {-9, 0}},
        {"negative even column", true, 8, -2, 0, {0, 0}, {-18, 4}},
        {"parity is the map's, not the window's", true, 16, 3, 0, {3, 0}, {0, 0}},
        {"dot square at the scroll position", false, 3, 10, 5, {10, 5}, {0, 0}},
        {"dot squares have no column offset", false, 3, 12, 5, {10, 5}, {8, 0}},
        {"dot map at zoom 0", false, 0, 7, 3, {2, 1}, {5, 2}},
        {"last column of a huge map, far right", true, 64, INT_MAX - 1, 0, {0, 0}, {1 << 29, 32}},
        {"first column seen from far right", true, 64, 0, INT_MAX - 1, {INT_MAX - 1, 0}, {-(1 << 29), 1 << 29}},
        {"huge dot map, far down", false, 7, 0, INT_MAX, {0, INT_MIN}, {0, 1 << 29}},
        {"next to a view near the limit", true, 64, INT_MAX, 5, {INT_MAX - 2, 5}, {130, 0}},
    };
    for (const Row& r : rows) {
        const Point got = r.hex ? hexgeom::hexOrigin(r.zoom, r.col, r.row, r.vs)
                                : hexgeom::dotOrigin(r.zoom, r.col, r.row, r.vs);
        EXPECT_EQ(got, r.expected) << r.what;
    }

    // Labels are centred in the hxs x hys box, divisions truncating.
    struct Label { int zoom; Point origin; int w, h; Point expected; };
    const Label labels[] = {{16, {0, 0}, 7, 13, {7, 2}}, {16, {34, 8}, 14, 13, {38, 10}}, {8, {0, 0}, 20, 13, {-4, -2}}};
    for (const Label& l : labels)
        EXPECT_EQ(hexgeom::labelOrigin(l.zoom, l.origin, l.w, l.h), l.expected) << l.zoom << " " << l.w;
}

TEST(HexGeometryHitTest, Examples) {
    struct Row { const char* what; int zoom; Point vs; int mw, mh; Point px; Point cell; bool inside; };
    const Row rows[] = {
        {"odd strip, no corner", 8, {0, 0}, 100, 100, {13, 4}, {1, 0}, true},
        {"right slant of (0,0), lower corner", 8, {0, 0}, 100, 100, {10, 8}, {0, 0}, true},
        {"upper corner to an even column", 8, {0, 0}, 100, 100, {10, 1}, {0, -1}, false},
        {"above the lowered even column", 8, {0, 0}, 100, 100, {4, 2}, {0, -1}, false},
        {"inside (0,0)", 8, {0, 0}, 100, 100, {4, 6}, {0, 0}, true},
        {"scrolled, lower corner from an even strip", 8, {2, 3}, 100, 100, {0, 0}, {1, 3}, true},
        {"past the map's right edge", 8, {0, 0}, 5, 5, {100, 10}, {10, 0}, false},
        {"dot map zoom 3", 3, {10, 5}, 100, 100, {9, 2}, {12, 5}, true},
        {"dot map zoom 0", 0, {7, 0}, 100, 100, {3, 3}, {10, 3}, true},
        // Tie-breaks.
        {"strip boundary belongs to the right strip", 8, {0, 0}, 100, 100, {9, 0}, {0, -1}, false},
        {"last pixel of strip 0", 8, {0, 0}, 100, 100, {8, 6}, {0, 0}, true},
        {"y = hys/2 counts as the upper half", 8, {0, 0}, 100, 100, {10, 4}, {0, -1}, false},
        {"just below hys/2 is the lower half", 8, {0, 0}, 100, 100, {10, 5}, {0, 0}, true},
        {"squared distance equal to T is not a corner", 9, {0, 0}, 100, 100, {10, 5}, {1, 0}, true},
        {"one below T is a corner", 9, {0, 0}, 100, 100, {10, 4}, {0, -1}, false},
        {"x = hxs/4 is outside the corner strip", 9, {0, 0}, 100, 100, {13, 0}, {1, 0}, true},
        {"lower corner from zoom 9's odd strip", 9, {0, 0}, 100, 100, {10, 6}, {0, 0}, true},
        {"upper corner from an even strip keeps the row", 8, {0, 0}, 100, 100, {18, 4}, {1, 0}, true},
        {"lower corner from an even strip goes one row down", 8, {0, 0}, 100, 100, {18, 12}, {1, 1}, true},
        {"row boundary after the shift belongs below", 8, {0, 0}, 100, 100, {4, 13}, {0, 1}, true},
        // Left of and above the window.
        {"left of the window, extra column", 8, {5, 3}, 100, 100, {-1, 0}, {4, 2}, true},
        {"left of the window, middle of the strip", 8, {5, 3}, 100, 100, {-5, 2}, {4, 2}, true},
        {"left of the window, corner of the strip", 8, {0, 0}, 100, 100, {-9, 0}, {-2, -1}, false},
        {"above the window", 8, {5, 3}, 100, 100, {4, -1}, {5, 2}, true},
        {"dot map floors negative pixels", 3, {10, 5}, 100, 100, {-1, -4}, {9, 4}, true},
        {"dot map one square further", 3, {10, 5}, 100, 100, {-5, -5}, {8, 3}, true},
    };
    for (const Row& r : rows) {
        int dx = -999, dy = -999;
        const bool inside = hexgeom::cellFromPixel(r.zoom, r.px.x, r.px.y, r.vs, r.mw, r.mh, dx, dy);
        EXPECT_EQ(Point({dx, dy}), r.cell) << r.what;
        EXPECT_EQ(inside, r.inside) << r.what;
    }
}

TEST(HexGeometryHitTest, NegativePixelsContinueTheGrid) {
    // Moving the pixel by whole cells and the scroll position back by as many
    // gives the same cell: the strips and rows left of and above the window
    // are the ones the scrolled view would show there.
    struct Row { int zoom; Point px; Point vs; };
    const Row rows[] = {{8, {-1, -1}, {5, 3}},   {8, {-9, -5}, {0, 0}},   {8, {-10, 3}, {1, 1}},
                        {16, {-3, -40}, {2, 7}}, {64, {-66, -1}, {3, 3}}, {9, {-100, -100}, {0, 0}},
                        {3, {-1, -1}, {4, 4}},   {0, {-7, -3}, {0, 0}},
                        {8, {-5, 2}, {5, 3}},    {16, {-9, 5}, {2, 2}},   {33, {-20, -30}, {1, 4}}};
    for (const Row& r : rows) {
        const int p = hexgeom::pitch(r.zoom);
        const int k = (-r.px.x + p - 1) / p + 1, m = (-r.px.y + p - 1) / p + 1;  // enough to reach x, y >= 0
        int dx = 0, dy = 0, ex = 0, ey = 0;
        hexgeom::cellFromPixel(r.zoom, r.px.x, r.px.y, r.vs, 1000, 1000, dx, dy);
        hexgeom::cellFromPixel(r.zoom, r.px.x + k * p, r.px.y + m * p, {r.vs.x - k, r.vs.y - m}, 1000, 1000, ex, ey);
        EXPECT_EQ(Point({dx, dy}), Point({ex, ey})) << "zoom " << r.zoom << " pixel " << r.px;
    }
}

// True when (px, py), relative to the hexagon's origin, lies inside the
// polygon through the six vertices by at least `margin` pixels from every
// edge line. The vertices run clockwise on screen, so the inside is on the
// positive side of each edge's cross product.
bool insideFill(const HexShape& s, int px, int py, double margin) {
    for (int k = 0; k < 6; ++k) {
        const Point a = s.vertex[k], b = s.vertex[(k + 1) % 6];
        const double cross = double(b.x - a.x) * (py - a.y) - double(b.y - a.y) * (px - a.x);
        if (cross / std::hypot(b.x - a.x, b.y - a.y) < margin) return false;
    }
    return true;
}

// The corner quarter discs of the cell's own box, which the hit test hands to
// the left neighbours although the polygon covers part of them.
bool inCornerDisc(int zoom, const HexShape& s, int px, int py) {
    const int t = hexgeom::cornerThreshold(zoom);
    return px < s.hxs / 4 && (px * px + py * py < t || px * px + (s.hys - py) * (s.hys - py) < t);
}

TEST(HexGeometryHitTest, EveryPixelInsideAHexagonsFillMapsBackToIt) {
    const Point scrolls[] = {{0, 0}, {5, 3}, {2, 7}};
    for (int zoom = 8; zoom <= hexgeom::kMaxZoom; ++zoom) {
        const HexShape s = hexgeom::hexShape(zoom);
        long checked = 0;
        for (const Point vs : scrolls) {
            for (int col = vs.x; col < vs.x + 3; ++col)
                for (int row = vs.y; row < vs.y + 2; ++row) {
                    const Point o = hexgeom::hexOrigin(zoom, col, row, vs);
                    for (int py = 0; py < s.hys; ++py)
                        for (int px = 0; px <= s.hxs; ++px) {
                            if (!insideFill(s, px, py, 1.5) || inCornerDisc(zoom, s, px, py)) continue;
                            ++checked;
                            // No neighbouring hexagon claims the pixel as well.
                            for (int nc = col - 1; nc <= col + 1; ++nc)
                                for (int nr = row - 1; nr <= row + 1; ++nr) {
                                    if (nc == col && nr == row) continue;
                                    const Point no = hexgeom::hexOrigin(zoom, nc, nr, vs);
                                    ASSERT_FALSE(insideFill(s, o.x + px - no.x, o.y + py - no.y, 1.5))
                                        << "zoom " << zoom << " cells " << col << "," << row << " and " << nc << ","
                                        << nr << " overlap";
                                }
                            int dx = 0, dy = 0;
                            ASSERT_TRUE(hexgeom::hexFromPixel(zoom, o.x + px, o.y + py, vs, 1000, 1000, dx, dy));
                            ASSERT_EQ(Point({dx, dy}), Point({col, row}))
                                << "zoom " << zoom << " scroll " << vs << " offset " << px << "," << py;
                        }
                }
        }
        EXPECT_GT(checked, 0) << "zoom " << zoom;
    }
}

TEST(HexGeometryHitTest, EveryPixelOfASquareMapsToItsCell) {
    const Point scrolls[] = {{0, 0}, {3, 2}, {10, 5}};
    for (int zoom = 0; zoom <= 7; ++zoom) {
        const int p = hexgeom::pitch(zoom);
        for (const Point vs : scrolls)
            for (int col = vs.x - 2; col < vs.x + 4; ++col)  // includes squares left of and above the window
                for (int row = vs.y - 2; row < vs.y + 4; ++row) {
                    const Point o = hexgeom::dotOrigin(zoom, col, row, vs);
                    for (int y = o.y; y < o.y + p; ++y)
                        for (int x = o.x; x < o.x + p; ++x) {
                            int dx = 0, dy = 0;
                            hexgeom::cellFromPixel(zoom, x, y, vs, 100, 100, dx, dy);
                            ASSERT_EQ(Point({dx, dy}), Point({col, row}))
                                << "zoom " << zoom << " scroll " << vs << " pixel " << x << "," << y;
                        }
                }
    }
}
}  // namespace
