// Painting with the mouse: modes per button, the brush, drags and zoom tools,
// all through real pointer events.
#include <cstdlib>

#include <wx/uiaction.h>

#include "harness.h"
#include "hexgeometry.h"
#include "tarven.h"

namespace {

struct Editor {
    TarvenFrame* frame = new TarvenFrame;
    WrappedHxMapView* view;
    Editor(int cols = 30, int rows = 20) {
        frame->SetSize(800, 600);
        frame->Show();
        view = frame->hxmv;
        waitFor([&] { return view->GetClientSize().GetWidth() > 300; });
        view->resize(cols, rows, true);
        view->setZoom(8);
        pump(5);
    }
    ~Editor() {
        frame->Destroy();
        pump(3);
    }
    // The centre of cell (x, y) in client pixels, at the view's zoom.
    wxPoint centreOf(int x, int y) const {
        const hexgeom::Point vs = view->viewStart();
        if (hexgeom::isDotMap(view->zoom)) {
            const hexgeom::Point o = hexgeom::dotOrigin(view->zoom, x, y, vs);
            return wxPoint(o.x + view->zoom / 2, o.y + view->zoom / 2);
        }
        const hexgeom::HexShape s = hexgeom::hexShape(view->zoom);
        const hexgeom::Point o = hexgeom::hexOrigin(view->zoom, x, y, vs);
        return wxPoint(o.x + s.hxs / 2, o.y + s.hys / 2);
    }
    void moveTo(const wxPoint& client) {
        sim.MouseMove(view->ClientToScreen(client));
        pump(2);
    }
    void clickAt(const wxPoint& client, int button = wxMOUSE_BTN_LEFT) {
        moveTo(client);
        sim.MouseClick(button);
        pump(4);
    }
    void choose(int elevation, int terrain) {
        frame->tb->elev = elevation;
        frame->tb->terr = terrain;
    }
    int changedCells(char terrain, int elevation) const {
        int n = 0;
        for (int x = 0; x < view->xs(); ++x)
            for (int y = 0; y < view->ys(); ++y)
                if (view->t(x, y) != terrain || view->e(x, y) != elevation) ++n;
        return n;
    }
    wxUIActionSimulator sim;
};

}  // namespace

TEST(Editing, NothingChosenPaintsNothing) {
    Editor ed;
    ed.clickAt(ed.centreOf(5, 5), wxMOUSE_BTN_LEFT);
    ed.clickAt(ed.centreOf(5, 5), wxMOUSE_BTN_MIDDLE);
    EXPECT_EQ(ed.changedCells('?', 0), 0);
}

TEST(Editing, EachButtonPaintsWhatItsModeSays) {
    struct Row { int button; int mode; char terrain; int elevation; };
    const Row rows[] = {
        {wxMOUSE_BTN_LEFT, -1, '#', 0},      // default: terrain
        {wxMOUSE_BTN_MIDDLE, -1, '?', 3},    // default: elevation
        {wxMOUSE_BTN_LEFT, 2, '#', 3},
        {wxMOUSE_BTN_MIDDLE, 0, '#', 0},
        {wxMOUSE_BTN_RIGHT, 1, '?', 3},
        {wxMOUSE_BTN_RIGHT, 2, '#', 3},
    };
    for (const Row& r : rows) {
        Editor ed;
        ed.choose(3, '#');
        const int index = r.button == wxMOUSE_BTN_LEFT ? 0 : r.button == wxMOUSE_BTN_MIDDLE ? 1 : 2;
        if (r.mode >= 0) ed.view->setMouse(index, r.mode);
        ed.clickAt(ed.centreOf(6, 4), r.button);
        EXPECT_EQ(ed.view->t(6, 4), r.terrain) << "button " << r.button << " mode " << r.mode;
        EXPECT_EQ(ed.view->e(6, 4), r.elevation) << "button " << r.button << " mode " << r.mode;
        EXPECT_EQ(ed.changedCells('?', 0), 1) << "radius 1 changes one cell";
    }
}

TEST(Editing, PaintingWhatACellHasWritesNothing) {
    Editor ed;
    ed.choose(0, '?');
    ed.view->setMouse(0, 2);
    ed.view->clearXY();
    ed.clickAt(ed.centreOf(3, 3));
    int lx, ly, hx, hy;
    ed.view->usedExtent(lx, ly, hx, hy);
    EXPECT_EQ(lx, -1) << "neither st nor se was called";
    EXPECT_EQ(hy, -1);
}

TEST(Editing, RadiusTwoBrushFallsOffTowardItsRim) {
    Editor ed;
    for (int x = 0; x < 30; ++x)
        for (int y = 0; y < 20; ++y) ed.view->HxMap::se(x, y, 2);
    ed.choose(6, -1);
    ed.view->setMouse(0, 1);
    ed.view->setTool(2);
    srandom(7);
    bool sawEdge = false, sawCorner = false;
    for (int pass = 0; pass < 6; ++pass) {
        for (int x = 9; x <= 11; ++x)
            for (int y = 9; y <= 11; ++y) ed.view->HxMap::se(x, y, 2);
        ed.clickAt(ed.centreOf(10, 10));
        EXPECT_EQ(ed.view->e(10, 10), 6) << "the centre is painted at full strength";
        for (int x = 0; x < 30; ++x)
            for (int y = 0; y < 20; ++y) {
                const int d = (x - 10) * (x - 10) + (y - 10) * (y - 10);
                const int e = ed.view->e(x, y);
                if (d == 1) {
                    EXPECT_TRUE(e == 2 || e == 5) << x << "," << y << " " << e;   // f = 25: 75 * 4 / 100 + 2
                    sawEdge |= e == 5;
                } else if (d == 2) {
                    EXPECT_TRUE(e == 2 || e == 4) << x << "," << y << " " << e;   // f = 50
                    sawCorner |= e == 4;
                } else if (d > 2) {
                    EXPECT_EQ(e, 2) << x << "," << y;
                }
            }
    }
    EXPECT_TRUE(sawEdge);
    EXPECT_TRUE(sawCorner);
}

TEST(Editing, LoweringFallsOffTruncatingTowardZero) {
    Editor ed;
    for (int x = 0; x < 30; ++x)
        for (int y = 0; y < 20; ++y) ed.view->HxMap::se(x, y, 5);
    ed.choose(0, -1);
    ed.view->setMouse(0, 1);
    ed.view->setTool(2);
    srandom(11);
    for (int pass = 0; pass < 4; ++pass) ed.clickAt(ed.centreOf(10, 10));
    EXPECT_EQ(ed.view->e(10, 10), 0);
    // One pass from 5 gives 2 at f = 25 and 3 at f = 50; repeated passes go on from there.
    for (int x = 9; x <= 11; ++x)
        for (int y = 9; y <= 11; ++y) EXPECT_LE(ed.view->e(x, y), 5);
}

TEST(Editing, BrushOverTheEdgeChangesOnlyCellsInside) {
    Editor ed(10, 8);
    ed.choose(4, '~');
    ed.view->setMouse(0, 2);
    ed.view->setTool(16);
    ed.clickAt(ed.centreOf(0, 0));
    EXPECT_EQ(ed.view->xs(), 10);
    EXPECT_EQ(ed.view->t(0, 0), '~');
    EXPECT_EQ(ed.view->e(0, 0), 4);
    EXPECT_EQ(ed.view->t(-1, 0), 0);
}

TEST(Editing, DraggingPaintsAlongThePath) {
    Editor ed;
    ed.choose(-1, '#');
    const wxPoint from = ed.centreOf(2, 5), to = ed.centreOf(20, 5);
    ed.moveTo(from);
    ed.sim.MouseDown();
    pump(2);
    for (int k = 1; k <= 18; ++k) ed.moveTo(wxPoint(from.x + (to.x - from.x) * k / 18, from.y));
    ed.sim.MouseUp();
    pump(4);
    int painted = 0;
    for (int x = 2; x <= 20; ++x) painted += ed.view->t(x, 5) == '#' || ed.view->t(x, 4) == '#';
    EXPECT_GE(painted, 17);
    EXPECT_EQ(ed.view->t(20, 5), '#');
    EXPECT_EQ(ed.view->t(25, 5), '?');
}

TEST(Editing, ZoomToolsStepAndClamp) {
    Editor ed;
    ed.view->setMouse(0, 3);
    ed.view->setMouse(1, 4);
    struct Row { int start; int button; int expected; };
    const Row rows[] = {{8, wxMOUSE_BTN_LEFT, 9}, {64, wxMOUSE_BTN_LEFT, 64}, {8, wxMOUSE_BTN_MIDDLE, 7},
                        {0, wxMOUSE_BTN_MIDDLE, 0}};
    for (const Row& r : rows) {
        ed.view->setZoom(r.start);
        pump(2);
        ed.clickAt(wxPoint(700, 450), r.button);  // anywhere, also beyond the map
        EXPECT_EQ(ed.view->zoom, r.expected) << r.start;
    }
    EXPECT_EQ(ed.changedCells('?', 0), 0);
}

TEST(Editing, DotMapPaintsUnderThePointerToo) {
    Editor ed(100, 80);
    ed.view->setZoom(3);
    pump(3);
    ed.choose(-1, '^');
    ed.clickAt(ed.centreOf(40, 30));
    EXPECT_EQ(ed.view->t(40, 30), '^');
    EXPECT_EQ(ed.changedCells('?', 0), 1);
}
