// Pixel and cell arithmetic of the hex pictures: zoom and pitch, the
// hexagon's shape, where a cell is drawn for a scroll position and which cell
// a pixel belongs to. Plain integer arithmetic, no toolkit: the window and
// every picture ask it.
//
// Conventions: a cell is (column, row); window pixels are client coordinates
// with (0, 0) at the top-left corner of the client area; the scroll position
// (viewStart) is counted in cells. Divisions truncate toward zero unless a
// function says floor.
#ifndef TARVEN_HEXGEOMETRY_H
#define TARVEN_HEXGEOMETRY_H

#include <iosfwd>

namespace hexgeom {

constexpr int kMinZoom = 0, kMaxZoom = 64;

struct Point {
    int x;
    int y;
};

inline bool operator==(Point a, Point b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(Point a, Point b) { return !(a == b); }
std::ostream& operator<<(std::ostream& os, Point p);

// Columns x1..x2 and rows y1..y2, both ends included.
struct CellRange {
    int x1, y1, x2, y2;
    bool empty() const { return x1 > x2 || y1 > y2; }
};

// All empty ranges are equal to each other; non-empty ones compare by bounds.
bool operator==(const CellRange& a, const CellRange& b);
inline bool operator!=(const CellRange& a, const CellRange& b) { return !(a == b); }
std::ostream& operator<<(std::ostream& os, const CellRange& r);
inline bool contains(const CellRange& r, int col, int row) {
    return col >= r.x1 && col <= r.x2 && row >= r.y1 && row <= r.y2;
}

// A rectangle of pixels: x..x+w-1 by y..y+h-1.
struct PixelRect {
    int x, y, w, h;
};

int clampZoom(int zoom);  // 0..64
inline int pitch(int zoom) { return zoom + 1; }
inline bool isDotMap(int zoom) { return zoom <= 7; }
inline bool hasLabels(int zoom) { return zoom > 15; }
inline int scaleDn(int zoom, int pixels) { return pixels / pitch(zoom); }

// Floor division and the matching non-negative remainder; b > 0.
int floorDiv(int a, int b);
int floorMod(int a, int b);
long long floorDivLL(long long a, long long b);

// Cell indices worked out in 64 bits, back in int: out-of-range ones stay
// out of every map.
int cellClamp(long long v);

inline bool insideMap(int col, int row, int mapW, int mapH) {
    return col >= 0 && row >= 0 && col < mapW && row < mapH;
}

// hys = p (height and pitch), hxs = 4*hys/3 (width); the six vertices relative
// to the origin: left, top-left, top-right, right, bottom-right, bottom-left.
struct HexShape {
    int hys;
    int hxs;
    Point vertex[6];
};
HexShape hexShape(int zoom);

// Squared radius of the corner discs of the hit test: ((hys/2)*hys)/2.
int cornerThreshold(int zoom);

// Top-left corner of a cell's hexagon box (even map columns sit hys/2 lower)
// and of its dot-map square, in window pixels.
Point hexOrigin(int zoom, int col, int row, Point viewStart);
Point dotOrigin(int zoom, int col, int row, Point viewStart);

// The pixels a cell's drawing can touch: the hexagon with its outline spans
// hxs+1 columns and hys rows from its origin, a square p x p.
PixelRect hexCellBox(int zoom, int col, int row, Point viewStart);
PixelRect dotCellBox(int zoom, int col, int row, Point viewStart);

// Where a label of the given text extent goes so that it is centred in the
// hexagon's hxs x hys box.
Point labelOrigin(int zoom, Point hexOrigin, int textW, int textH);

// Window pixel to cell. dx and dy are always written; the result says
// whether the cell lies inside the map. Defined for any pixel: left of or
// above the window the strips and rows continue by floor division.
bool dotFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy);
bool hexFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy);
bool cellFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy);

}  // namespace hexgeom

#endif
