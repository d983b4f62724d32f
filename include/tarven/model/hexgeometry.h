// Pixel and cell arithmetic of the map view: zoom and pitch, the hexagon's
// shape, where a cell is drawn for a scroll position, which cells a paint
// covers, which cell a window pixel belongs to, and how the scroll position is
// kept inside the map. Plain integer arithmetic, no toolkit, so the window
// class only asks and draws.
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

// The cells a paint covers. y1 < 0 asks for the whole-view start (x1, y1 from
// the scroll position; the hex picture also takes the column and row before
// it, when they exist, because their hexagons reach into the window), y2 < 0
// for the whole-view end (client size / p past the start, plus 2 for hexes or
// 1 for dots); x1 and x2 are not examined for either. The result is clamped
// to the map and may be empty.
CellRange hexPaintRange(int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW, int clientH,
                        int mapW, int mapH);
CellRange dotPaintRange(int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW, int clientH,
                        int mapW, int mapH);
CellRange paintRange(int zoom, int x1, int y1, int x2, int y2, Point viewStart, int clientW, int clientH,
                     int mapW, int mapH);

// The whole visible area of the picture the zoom shows (paintRange with
// negative corners).
CellRange wholeViewRange(int zoom, Point viewStart, int clientW, int clientH, int mapW, int mapH);

// A single-cell repaint: the cell itself, or nothing when it lies outside the
// map (nothing can have changed there).
CellRange singleCellRange(int col, int row, int mapW, int mapH);

// The cells to paint for the update rectangle (rx, ry, rw, rh): every cell
// whose drawn pixels can touch the part of the rectangle inside the client
// area, intersected with the whole-view range. On an axis where the rectangle
// reaches the client area's edge the range runs to the whole-view end there,
// so the full client rectangle gives exactly the whole-view range.
CellRange cullRange(int zoom, int rx, int ry, int rw, int rh, Point viewStart, int clientW, int clientH,
                    int mapW, int mapH);

// Window pixel to cell. dx and dy are always written; the result says
// whether the cell lies inside the map. Defined for any pixel: left of or
// above the window the strips and rows continue by floor division.
bool dotFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy);
bool hexFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy);
bool cellFromPixel(int zoom, int x, int y, Point viewStart, int mapW, int mapH, int& dx, int& dy);

// The scroll position kept when the scroll bars are set again: per axis
// max(0, min(pos, max(0, mapCells - scaleDn(clientPixels)))).
Point clampedScrollPosition(int zoom, Point viewStart, int clientW, int clientH, int mapW, int mapH);

}  // namespace hexgeom

#endif
