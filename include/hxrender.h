#ifndef TARVEN_HXRENDER_H
#define TARVEN_HXRENDER_H

#include <vector>

#include "hexgeometry.h"

class wxDC;
class wxRect;
class HxMap;
class wxTerrainSet;

// What to draw: a range of cells of a map, as seen at a zoom and scroll
// position. Renderers draw in client coordinates and keep no view state.
struct RenderJob {
    const HxMap& map;
    const wxTerrainSet& colours;
    int zoom;
    hexgeom::Point viewStart;
    hexgeom::CellRange cells;   // already clamped to the map
};

// Cell-by-cell drawing with the device context's own primitives: one pen and
// brush per cell, DrawPolygon for hexes, DrawRectangle / DrawPoint for dots.
// It defines what the pictures look like.
void drawHexCellsReference(wxDC& dc, const RenderJob& job);
void drawDotCellsReference(wxDC& dc, const RenderJob& job);

// The same pixels, produced in memory and put on the device context in one
// bitmap. Only the part of the picture inside `area` (client pixels) is
// produced; nothing outside the cells' own pixels is touched.
void drawHexCells(wxDC& dc, const RenderJob& job, const wxRect& area);
void drawDotCells(wxDC& dc, const RenderJob& job, const wxRect& area);

// Repaints the listed cells, in list order, each over what the device
// context already shows: what single-cell repaints one after another would
// give, in one bitmap.
void drawCellsInOrder(wxDC& dc, const HxMap& map, const wxTerrainSet& colours, int zoom,
                      hexgeom::Point viewStart, const std::vector<hexgeom::Point>& cells);

// Turns off anti-aliasing so that outlines, fills and text land on whole
// pixels in exactly the colours asked for.
void useExactPixels(wxDC& dc);

#endif
