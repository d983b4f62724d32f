#include "hexgeometry.h"

#include <algorithm>
#include <climits>
#include <ostream>

namespace hexgeom {

std::ostream& operator<<(std::ostream& os, Point p) { return os << '(' << p.x << ", " << p.y << ')'; }

bool operator==(const CellRange& a, const CellRange& b) {
    if (a.empty() || b.empty()) return a.empty() && b.empty();
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

std::ostream& operator<<(std::ostream& os, const CellRange& r) {
    os << "columns " << r.x1 << ".." << r.x2 << ", rows " << r.y1 << ".." << r.y2;
    if (r.empty()) os << " (empty)";
    return os;
}

int clampZoom(int zoom) { return std::clamp(zoom, kMinZoom, kMaxZoom); }

int floorDiv(int a, int b) {
    int q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

int floorMod(int a, int b) {
    const int r = a % b;
    return r < 0 ? r + b : r;
}

namespace {

bool isEven(int col) { return col % 2 == 0; }  // also right for negative columns

// Pixel positions are worked out in 64 bits: a column of a map with tens of
// millions of columns at zoom 64 lies beyond the reach of int. Positions
// are then kept within +-2^29, far outside any window, so that a caller's
// further additions (a cell's width, a label's offset) cannot overflow.
constexpr long long kFarPixel = 1LL << 29;
int farClamp(long long v) { return static_cast<int>(std::clamp(v, -kFarPixel, kFarPixel)); }

}  // namespace

long long floorDivLL(long long a, long long b) {
    long long q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

int cellClamp(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

HexShape hexShape(int zoom) {
    HexShape s{};
    s.hys = pitch(zoom);
    s.hxs = (4 * s.hys) / 3;
    const int hys = s.hys, hxs = s.hxs;
    s.vertex[0] = {0, hys / 2};
    s.vertex[1] = {hxs / 4, 0};
    s.vertex[2] = {(3 * hxs) / 4, 0};
    s.vertex[3] = {hxs, hys / 2};
    s.vertex[4] = {(3 * hxs) / 4, hys - 1};
    s.vertex[5] = {hxs / 4, hys - 1};
    return s;
}

int cornerThreshold(int zoom) {
    const int hys = pitch(zoom);
    return ((hys / 2) * hys) / 2;
}

Point hexOrigin(int zoom, int col, int row, Point viewStart) {
    const long long p = pitch(zoom);
    return Point{farClamp((static_cast<long long>(col) - viewStart.x) * p),
                 farClamp((static_cast<long long>(row) - viewStart.y) * p + (isEven(col) ? p / 2 : 0))};
}

Point dotOrigin(int zoom, int col, int row, Point viewStart) {
    const long long p = pitch(zoom);
    return Point{farClamp((static_cast<long long>(col) - viewStart.x) * p),
                 farClamp((static_cast<long long>(row) - viewStart.y) * p)};
}

PixelRect hexCellBox(int zoom, int col, int row, Point viewStart) {
    const Point o = hexOrigin(zoom, col, row, viewStart);
    const HexShape s = hexShape(zoom);
    return PixelRect{o.x, o.y, s.hxs + 1, s.hys};
}

PixelRect dotCellBox(int zoom, int col, int row, Point viewStart) {
    const Point o = dotOrigin(zoom, col, row, viewStart);
    return PixelRect{o.x, o.y, pitch(zoom), pitch(zoom)};
}

Point labelOrigin(int zoom, Point hexOrigin, int textW, int textH) {
    const HexShape s = hexShape(zoom);
    return Point{hexOrigin.x + (s.hxs - textW) / 2, hexOrigin.y + (s.hys - textH) / 2};
}

bool dotFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy) {
    const int p = pitch(zoom);
    dx = cellClamp(static_cast<long long>(viewStart.x) + floorDiv(x, p));
    dy = cellClamp(static_cast<long long>(viewStart.y) + floorDiv(y, p));
    return insideMap(dx, dy, mapW, mapH);
}

bool hexFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy) {
    const int hys = pitch(zoom);
    const int hxs = (4 * hys) / 3;

    // The vertical strip of width p that starts at column dx's left edge. For
    // x >= 0 floor division is the plain one; left of the window the strips
    // go on with the same width.
    const int strip = floorDiv(x, hys);
    long long col = static_cast<long long>(viewStart.x) + strip;
    const int ox = x - strip * hys;  // x % hys, also for negative x

    // Even map columns sit half a row lower.
    long long sy = y;
    if (col % 2 == 0) sy -= hys / 2;
    const long long rowStep = floorDivLL(sy, hys);
    long long row = viewStart.y + rowStep;
    const int oy = static_cast<int>(sy - rowStep * hys);  // 0 <= oy < hys

    // Where the left slant interlocks with the previous column's right slant,
    // quarter discs around the box's left corners go to the left neighbours.
    if (ox < hxs / 4) {
        const int t = cornerThreshold(zoom);
        if (oy > hys / 2) {
            if (ox * ox + (hys - oy) * (hys - oy) < t) {
                --col;
                ++row;
                if (col % 2 == 0) --row;
            }
        } else if (ox * ox + oy * oy < t) {
            --col;
            if (col % 2 == 0) --row;
        }
    }
    dx = cellClamp(col);
    dy = cellClamp(row);
    return insideMap(dx, dy, mapW, mapH);
}

bool cellFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy) {
    return isDotMap(zoom) ? dotFromPixel(zoom, x, y, viewStart, mapW, mapH, dx, dy)
                          : hexFromPixel(zoom, x, y, viewStart, mapW, mapH, dx, dy);
}

}  // namespace hexgeom
