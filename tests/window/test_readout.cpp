// The status bar's readout of the cell under the pointer, with the pointer
// moved by the toolkit's UI simulator.
#include <wx/uiaction.h>

#include "harness.h"
#include "hexgeometry.h"
#include "mapwindow.h"
#include "tarven.h"

namespace {

std::string statusText(const MapWindow& w) { return w.frame->GetStatusBar()->GetStatusText(0).ToStdString(); }

// Screen point at the middle of a cell as the view draws it.
wxPoint cellCentre(const MapWindow& w, int x, int y) {
    const WrappedHxMapView* v = w.frame->hxmv;
    const hexgeom::HexShape s = hexgeom::hexShape(v->zoom);
    const hexgeom::Point o = hexgeom::hexOrigin(v->zoom, x, y, v->viewStart());
    return v->ClientToScreen(wxPoint(o.x + s.hxs / 2, o.y + s.hys / 2));
}

void moveTo(wxUIActionSimulator& sim, const wxPoint& at) {
    sim.MouseMove(at);
    pump(3);
}

}  // namespace

// The readout names the cell a brush would paint there (the view's own pixel
// to cell function) and follows what painting does to it.
TEST(Readout, NamesTheCellUnderThePointerAndTheBannerReturns) {
    MapWindow w;
    w.frame->Move(0, 0);
    WrappedHxMapView* v = w.frame->hxmv;
    v->resize(30, 20, true);
    v->HxMap::st(12, 7, '~');
    v->HxMap::se(12, 7, 3);
    v->HxMap::st(3, 4, '?');
    v->HxMap::se(3, 4, -2);
    v->setZoom(16);
    pump(5);
    const std::string banner = kTarvenBanner;
    wxUIActionSimulator sim;

    struct Step {
        const char* name;
        wxPoint at;
        std::string status;
    };
    const Step steps[] = {
        {"a named terrain", cellCentre(w, 12, 7), "Hex 1308 (column 12, row 7): Water, elevation 3"},
        {"a terrain without a name", cellCentre(w, 3, 4), "Hex 0405 (column 3, row 4): ?, elevation -2"},
        {"past the map's last column", v->ClientToScreen(wxPoint(v->GetClientSize().x - 3, 40)), banner},
        {"back on a cell", cellCentre(w, 0, 0), "Hex 0101 (column 0, row 0): ?, elevation 0"},
        {"out of the view, over the toolbar", w.frame->tb->ClientToScreen(wxPoint(5, 5)), banner},
    };
    for (const Step& s : steps) {
        moveTo(sim, s.at);
        EXPECT_TRUE(waitFor([&] { return statusText(w) == s.status; }, 1000))
            << s.name << ": " << statusText(w);
    }

    // A highlighted menu item's help stays while its menu is open, pointer
    // or not; when the menu closes the banner returns, and with the next
    // motion the readout.
    moveTo(sim, cellCentre(w, 12, 7));
    wxMenuEvent open(wxEVT_MENU_OPEN, 0, w.frame->mb->GetMenu(0));
    w.frame->ProcessWindowEvent(open);
    wxMenuEvent highlight(wxEVT_MENU_HIGHLIGHT, ID_LOAD_MAP, w.frame->mb->GetMenu(0));
    w.frame->ProcessWindowEvent(highlight);
    moveTo(sim, cellCentre(w, 3, 4));
    EXPECT_EQ(statusText(w), " \tLets you select a new map to load in this window");
    wxMenuEvent close(wxEVT_MENU_CLOSE, 0, w.frame->mb->GetMenu(0));
    w.frame->ProcessWindowEvent(close);
    pump(3);
    EXPECT_EQ(statusText(w), banner);
    moveTo(sim, cellCentre(w, 3, 4) + wxPoint(1, 1));
    EXPECT_TRUE(waitFor([&] { return statusText(w) == "Hex 0405 (column 3, row 4): ?, elevation -2"; }, 1000))
        << statusText(w);

    // Painting the cell under the pointer changes its readout at once.
    w.frame->tb->elev = 5;
    w.frame->tb->terr = '^';
    v->setMouse(0, MODE_ELEVATION_TERRAIN);
    sim.MouseClick(wxMOUSE_BTN_LEFT);
    pump(5);
    EXPECT_EQ(statusText(w), "Hex 0405 (column 3, row 4): Mountain, elevation 5");
}

