#include "hxmapview.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include <wx/dcclient.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif


wxIMPLEMENT_DYNAMIC_CLASS(HxMapView, wxScrolledWindow);

namespace {

// The map format's messages go to standard output as the window has always
// printed them: each warning on its own line, then the failure.
void printMessage(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

wxBEGIN_EVENT_TABLE(HxMapView, wxScrolledWindow)
    EVT_SIZE(HxMapView::onSize)
    EVT_PAINT(HxMapView::onPaint)
    EVT_MOTION(HxMapView::onMouseMove)
    EVT_LEFT_DOWN(HxMapView::onMouseLeftDown)
wxEND_EVENT_TABLE()

HxMapView::HxMapView() : HxMap(1, 1) {}

HxMapView::HxMapView(int xs, int ys, wxWindow* parent, int i, const wxPoint& pos, const wxSize& size)
    : HxMap(xs, ys), wxScrolledWindow(parent, i, pos, size, wxSUNKEN_BORDER, wxASCII_STR(wxPanelNameStr)) {
    useClassicScrollBars();
    setZoom(8);
}

HxMapView::HxMapView(const char* filename, wxWindow* parent, int i, const wxPoint& pos,
                     const wxSize& size)
    : HxMap(1, 1), wxScrolledWindow(parent, i, pos, size, wxSUNKEN_BORDER, wxASCII_STR(wxPanelNameStr)) {
    useClassicScrollBars();
    loadMap(filename, false);
    setZoom(8);
}

void HxMapView::useClassicScrollBars() {
#ifdef __WXGTK__
    // Overlay scroll bars show only when the pointer reaches an edge, so
    // nothing would tell that most of a large map lies off screen. Classic
    // ones stay while the map is larger than the window, whatever the theme
    // or the environment says.
    auto* widget = static_cast<GtkWidget*>(GetHandle());
    if (widget && GTK_IS_SCROLLED_WINDOW(widget))
        gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(widget), FALSE);
#endif
}

HxMapView::~HxMapView() = default;

hexgeom::Point HxMapView::viewStart() const {
    int vsx = 0, vsy = 0;
    GetViewStart(&vsx, &vsy);
    return {vsx, vsy};
}

void HxMapView::setZoom(int i) {
    zoom = hexgeom::clampZoom(i);
    resetScroll();
}

void HxMapView::resetScroll() {
    const int p = hexgeom::pitch(zoom);
    int ppuX = 0, ppuY = 0;
    GetScrollPixelsPerUnit(&ppuX, &ppuY);
    int cw = 0, ch = 0;
    GetClientSize(&cw, &ch);
    const hexgeom::Point old = viewStart();
    const hexgeom::Point pos = hexgeom::clampedScrollPosition(zoom, old, cw, ch, xs(), ys());
    // The toolkit counts the scrolled area in int pixels: a map wider or
    // taller than that can show is scrolled over as much of it as fits.
    const int unitsX = std::min(xs(), INT_MAX / p), unitsY = std::min(ys(), INT_MAX / p);
    SetScrollbars(p, p, unitsX, unitsY, std::min(pos.x, unitsX), std::min(pos.y, unitsY), false);
    // The toolkit repaints by itself when the position changes, but not when
    // only the pixels per unit do: a zoom change must show at once.
    if (ppuX != p || ppuY != p) Refresh(true, nullptr);
}

void HxMapView::onSize(wxSizeEvent&) { resetScroll(); }

void HxMapView::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    useExactPixels(dc);
    draw(dc, GetUpdateRegion().GetBox());
}

wxRect HxMapView::clientRect() const {
    int cw = 0, ch = 0;
    GetClientSize(&cw, &ch);
    return wxRect(0, 0, cw, ch);
}

void HxMapView::draw(wxDC& dc, const wxRect& area) {
    const wxRect client = clientRect();
    const wxRect visible = area.Intersect(client);
    if (visible.IsEmpty()) return;
    paintRange(dc,
               hexgeom::cullRange(zoom, visible.x, visible.y, visible.width, visible.height, viewStart(),
                                  client.width, client.height, xs(), ys()),
               visible);
}

void HxMapView::paintRange(wxDC& dc, const hexgeom::CellRange& cells, const wxRect& area) {
    const bool dots = hexgeom::isDotMap(zoom);
    if (referenceDrawing) {
        const RenderJob job{*this, wts, zoom, viewStart(), cells};
        dots ? drawDotCellsReference(dc, job) : drawHexCellsReference(dc, job);
    } else {
        painter.paint(dc, *this, cellColours, zoom, viewStart(), cells, area);
    }
}

void HxMapView::onMouseMove(wxMouseEvent&) {}
void HxMapView::onMouseLeftDown(wxMouseEvent&) {}
void HxMapView::onMouseRightDown(wxMouseEvent&) {}

bool HxMapView::saveMap(const char* file) const {
    if (HxMap::saveMap(file)) return true;
    printMessage(lastMessage());
    return false;
}

void HxMapView::resize(int x, int y, bool redraw) {
    resizeGrid(x, y);
    if (redraw) Refresh(true, nullptr);
}

bool HxMapView::loadMap(const char* file, bool redraw, const LoadHooks& hooks) {
    LoadHooks printing = hooks;
    if (!printing.warning) printing.warning = [](const std::string& warning) { printMessage(warning + "\n"); };
    if (!HxMap::loadMap(file, printing)) {
        printMessage(lastMessage());
        return false;
    }
    setZoom(8);
    if (redraw) Refresh(true, nullptr);
    return true;
}

void HxMapView::updateHexPic(int x, int y, bool redraw) {
    // Nothing changed outside the map, so nothing is repainted there.
    if (valid(x, y)) {
        if (batchDepth > 0 && !referenceDrawing) {
            pendingCells.push_back({x, y});
        } else {
            wxClientDC dc(this);
            useExactPixels(dc);
            if (hexgeom::isDotMap(zoom))
                paintDotMap(dc, x, y, x, y);
            else
                paintHexMap(dc, x, y, x, y);
        }
    }
    if (redraw) Refresh(true, nullptr);
}

void HxMapView::beginRepaintBatch() { ++batchDepth; }

void HxMapView::endRepaintBatch() {
    if (batchDepth == 0 || --batchDepth > 0 || pendingCells.empty()) return;
    wxClientDC dc(this);
    useExactPixels(dc);
    painter.paintCells(dc, *this, cellColours, zoom, viewStart(), pendingCells, clientRect());
    pendingCells.clear();
}

void HxMapView::st(int x, int y, int t) {
    HxMap::st(x, y, static_cast<char>(t));
    updateHexPic(x, y, false);
}

void HxMapView::se(int x, int y, int e) {
    HxMap::se(x, y, static_cast<char>(e));
    updateHexPic(x, y, false);
}

bool HxMapView::getHexFromImage(int x, int y, int& dx, int& dy) {
    return hexgeom::cellFromPixel(zoom, x, y, viewStart(), xs(), ys(), dx, dy);
}

void HxMapView::paintHexMap(wxDC& dc, int x1, int y1, int x2, int y2) {
    const wxRect client = clientRect();
    paintRange(dc, hexgeom::hexPaintRange(zoom, x1, y1, x2, y2, viewStart(), client.width, client.height, xs(), ys()),
               client);
}

void HxMapView::paintDotMap(wxDC& dc, int x1, int y1, int x2, int y2) {
    const wxRect client = clientRect();
    paintRange(dc, hexgeom::dotPaintRange(zoom, x1, y1, x2, y2, viewStart(), client.width, client.height, xs(), ys()),
               client);
}
