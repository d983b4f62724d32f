#include "viewgeometry.h"

#include <algorithm>
#include <climits>

namespace hexgeom {

namespace {

long long ceilDivLL(long long a, long long b) { return -floorDivLL(-a, b); }

CellRange clampToMap(int x1, int y1, int x2, int y2, int mapW, int mapH) {
    return CellRange{std::max(x1, 0), std::max(y1, 0), std::min(x2, mapW - 1), std::min(y2, mapH - 1)};
}

constexpr CellRange kNoCells{0, 0, -1, -1};

}  // namespace

namespace {

// Either picture's paint range: the hex picture also takes the column and
// row before the view, whose hexagons reach into it, and a cell more at the
// far end.
CellRange pictureRange(bool hex, int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW,
                       int clientH, int mapW, int mapH) {
    const int p = pitch(zoom);
    if (y1 < 0) {
        x1 = viewStart.x;
        y1 = viewStart.y;
        // The column to the left reaches in with its right slant, the row
        // above with the lower halves of its even columns.
        if (hex && x1 > 0) x1 = x1 - 1;
        if (hex && y1 > 0) y1 = y1 - 1;
    }
    if (y2 < 0) {
        const int beyond = hex ? 2 : 1;
        x2 = cellClamp(static_cast<long long>(clientW / p) + x1 + beyond);
        y2 = cellClamp(static_cast<long long>(clientH / p) + y1 + beyond);
    }
    return clampToMap(x1, y1, x2, y2, mapW, mapH);
}

}  // namespace

CellRange hexPaintRange(int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW, int clientH,
                        int mapW, int mapH) {
    return pictureRange(true, zoom, x1, y1, x2, y2, viewStart, clientW, clientH, mapW, mapH);
}

CellRange dotPaintRange(int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW, int clientH,
                        int mapW, int mapH) {
    return pictureRange(false, zoom, x1, y1, x2, y2, viewStart, clientW, clientH, mapW, mapH);
}

CellRange paintRange(int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW, int clientH,
                     int mapW, int mapH) {
    return isDotMap(zoom) ? dotPaintRange(zoom, x1, y1, x2, y2, viewStart, clientW, clientH, mapW, mapH)
                          : hexPaintRange(zoom, x1, y1, x2, y2, viewStart, clientW, clientH, mapW, mapH);
}

CellRange wholeViewRange(int zoom, Point viewStart, int clientW, int clientH, int mapW, int mapH) {
    return paintRange(zoom, -1, -1, -1, -1, viewStart, clientW, clientH, mapW, mapH);
}

CellRange singleCellRange(int col, int row, int mapW, int mapH) {
    if (!insideMap(col, row, mapW, mapH)) return kNoCells;
    return CellRange{col, row, col, row};
}

CellRange cullRange(int zoom, int rx, int ry, int rw, int rh, Point viewStart, int clientW, int clientH,
                    int mapW, int mapH) {
    // Only the part of the rectangle inside the client area can show anything.
    const long long left = std::max<long long>(rx, 0);
    const long long top = std::max<long long>(ry, 0);
    const long long right = std::min<long long>(static_cast<long long>(rx) + rw, clientW);  // exclusive
    const long long bottom = std::min<long long>(static_cast<long long>(ry) + rh, clientH);
    if (left >= right || top >= bottom) return kNoCells;

    const CellRange whole = wholeViewRange(zoom, viewStart, clientW, clientH, mapW, mapH);
    if (whole.empty()) return kNoCells;

    const long long p = pitch(zoom);
    long long colLo, colHi, rowLo, rowHi;
    if (isDotMap(zoom)) {
        // Square j covers pixel columns (j - vsx) * p .. + p - 1.
        colLo = viewStart.x + floorDivLL(left, p);
        rowLo = viewStart.y + floorDivLL(top, p);
    } else {
        // Hexagon j covers pixel columns ox .. ox + hxs and rows oy .. oy + hys - 1,
        // with oy lowered by hys / 2 in even columns; the row bounds take the
        // lower placement for the top and the higher one for the bottom.
        const HexShape s = hexShape(zoom);
        colLo = viewStart.x + ceilDivLL(left - s.hxs, p);
        rowLo = viewStart.y + ceilDivLL(top - (s.hys / 2 + s.hys - 1), p);
    }
    colHi = viewStart.x + floorDivLL(right - 1, p);
    rowHi = viewStart.y + floorDivLL(bottom - 1, p);
    // Reaching the window's edge means everything the whole-view paint takes
    // beyond it, so a full-window update paints exactly the whole view.
    if (right == clientW) colHi = LLONG_MAX;
    if (bottom == clientH) rowHi = LLONG_MAX;

    auto lo = [](long long v, int bound) { return static_cast<int>(std::max<long long>(v, bound)); };
    auto hi = [](long long v, int bound) { return static_cast<int>(std::min<long long>(v, bound)); };
    const CellRange r{lo(colLo, whole.x1), lo(rowLo, whole.y1), hi(colHi, whole.x2), hi(rowHi, whole.y2)};
    return r.empty() ? kNoCells : r;
}

Point clampedScrollPosition(int zoom, Point viewStart, int clientW, int clientH, int mapW, int mapH) {
    auto keep = [zoom](int pos, int cells, int pixels) {
        return std::max(0, std::min(pos, std::max(0, cells - scaleDn(zoom, pixels))));
    };
    return Point{keep(viewStart.x, mapW, clientW), keep(viewStart.y, mapH, clientH)};
}

}  // namespace hexgeom
