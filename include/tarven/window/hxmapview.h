#ifndef TARVEN_HXMAPVIEW_H
#define TARVEN_HXMAPVIEW_H

#include <vector>

#include <wx/scrolwin.h>

#include "viewgeometry.h"
#include "hxmap.h"
#include "hxpicture.h"
#include "hxrender.h"
#include "wxterrains.h"

// A window that shows one map and is that map: zoom 0..7 draws the dot
// picture (one p x p square per cell), zoom 8..64 outlined hexagons, with
// elevation labels from zoom 16. The scroll position is counted in cells, one
// scroll unit being one cell step of p = zoom + 1 pixels.
class HxMapView : public HxMap, public wxScrolledWindow {
public:
    HxMapView(int xs, int ys, wxWindow* parent, int i, const wxPoint& pos, const wxSize& size);
    HxMapView(const char* filename, wxWindow* parent, int i, const wxPoint& pos, const wxSize& size);
    // For the toolkit's class factory: a 1 x 1 map whose window is not
    // created yet (call Create with a parent before showing it).
    HxMapView();
    ~HxMapView() override;

    virtual void onPaint(wxPaintEvent& event);
    virtual void onSize(wxSizeEvent& event);
    virtual void onMouseMove(wxMouseEvent& event);
    virtual void onMouseLeftDown(wxMouseEvent& event);
    virtual void onMouseRightDown(wxMouseEvent& event);

    void setZoom(int i);
    int scaleDn(int x) const { return hexgeom::scaleDn(zoom, x); }
    void resetScroll();

    void resize(int x, int y, bool redraw);
    // Reads a map file into the view. On success the zoom becomes 8; on
    // failure the map, zoom and scroll position stay as they were and
    // lastError() holds the message. The hooks follow the load and may stop
    // it; a stopped load is a failed one. The map format's warnings and
    // failure are printed on standard output, as is a failed save's.
    bool loadMap(const char* file, bool redraw, const LoadHooks& hooks = LoadHooks());
    bool saveMap(const char* file) const;
    void updateHexPic(int x, int y, bool redraw);
    void st(int x, int y, int t);
    void se(int x, int y, int e);
    bool getHexFromImage(int x, int y, int& dx, int& dy);

    void paintHexMap(wxDC& dc, int x1, int y1, int x2, int y2);
    void paintDotMap(wxDC& dc, int x1, int y1, int x2, int y2);

    // Draws the cells a whole-view paint would draw, limited to the cells
    // that can touch the given client rectangle. One routine for the window
    // and for offscreen pictures.
    void draw(wxDC& dc, const wxRect& area);

    hexgeom::Point viewStart() const;

    // Single-cell repaints between these two calls are collected and drawn
    // together, in order, on one device context when the batch ends.
    void beginRepaintBatch();
    void endRepaintBatch();

    int zoom = 8;
    wxTerrainSet wts;

    // Draw cell by cell with the device context's primitives instead of in
    // memory; both give the same pixels (used to check that, and to compare
    // their speed).
    bool referenceDrawing = false;

private:
    // wts's colours as pixels, for the picture core.
    hxpic::Colours cellColours{wts};
    // Draws every paint into a buffer kept between paints.
    ScreenPainter painter;

    void useClassicScrollBars();
    void paintRange(wxDC& dc, const hexgeom::CellRange& cells, const wxRect& area);
    wxRect clientRect() const;

    int batchDepth = 0;
    std::vector<hexgeom::Point> pendingCells;

    wxDECLARE_DYNAMIC_CLASS(HxMapView);
    wxDECLARE_EVENT_TABLE();
};

#endif
