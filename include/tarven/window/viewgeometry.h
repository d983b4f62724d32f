// What the map view paints and keeps in sight: which cells a paint or an
// update rectangle covers for a scroll position and client size, and how the
// scroll position is kept inside the map. Integer arithmetic on the hex
// geometry, no toolkit, so the view only asks and draws.
#ifndef TARVEN_VIEWGEOMETRY_H
#define TARVEN_VIEWGEOMETRY_H

#include "hexgeometry.h"

namespace hexgeom {

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

// The scroll position kept when the scroll bars are set again: per axis
// max(0, min(pos, max(0, mapCells - scaleDn(clientPixels)))).
Point clampedScrollPosition(int zoom, Point viewStart, int clientW, int clientH, int mapW, int mapH);

}  // namespace hexgeom

#endif
