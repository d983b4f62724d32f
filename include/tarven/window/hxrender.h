#ifndef TARVEN_HXRENDER_H
#define TARVEN_HXRENDER_H

#include <array>
#include <memory>
#include <vector>

#include <wx/colour.h>
#include <wx/font.h>

#include "hexgeometry.h"
#include "hxpicture.h"

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

// Elevation labels in a device context's font and text colour, as DrawText
// puts them there: each value's pixels are learned once from the toolkit and
// kept for the process's life.
class ToolkitLabelFont : public hxpic::LabelFont {
public:
    explicit ToolkitLabelFont(wxDC& dc);
    const hxpic::Label& label(int value) override;
    hxpic::Pixel ink() const override { return ink_; }

private:
    wxDC& dc_;
    wxFont font_;
    wxColour colour_;
    hxpic::Pixel ink_;
    std::array<const hxpic::Label*, 128> labels_{};
};

// Puts a block of pixels on the device context with its top-left corner at
// (x, y). Transparent pixels leave what the device context shows; `opaque`
// says that there are none.
void showPixels(wxDC& dc, const hxpic::Pixel* pixels, int width, int height, std::ptrdiff_t stride, int x, int y,
                bool opaque);

// Draws the map's pictures through the picture core into a pixel buffer that
// it keeps from one paint to the next, and hands the pixels to a device
// context.
class ScreenPainter {
public:
    // The cells' picture, limited to `area` (client pixels): what the
    // reference drawing gives on a device context clipped to `area`.
    void paint(wxDC& dc, const HxMap& map, const hxpic::Colours& colours, int zoom, hexgeom::Point viewStart,
               const hexgeom::CellRange& cells, const wxRect& area);
    // The listed cells one after another, each over what the device context
    // shows, clipped to `area`: single-cell repaints in that order.
    void paintCells(wxDC& dc, const HxMap& map, const hxpic::Colours& colours, int zoom, hexgeom::Point viewStart,
                    const std::vector<hexgeom::Point>& cells, const wxRect& area);

private:
    hxpic::Pixel* buffer(std::size_t pixels);
    std::vector<hxpic::Pixel> buffer_;
};

// Repaints the listed cells, in list order, each over what the device
// context already shows: what single-cell repaints one after another would
// give, in one bitmap.
void drawCellsInOrder(wxDC& dc, const HxMap& map, const wxTerrainSet& colours, int zoom,
                      hexgeom::Point viewStart, const std::vector<hexgeom::Point>& cells);

// Turns off anti-aliasing so that outlines, fills and text land on whole
// pixels in exactly the colours asked for.
void useExactPixels(wxDC& dc);

#endif
