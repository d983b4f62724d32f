// The map view in real windows: what it draws, where, and how it scrolls.
#include <set>
#include <tuple>

#include <cstdlib>
#include <string>

#include <gtk/gtk.h>
#include <wx/dcmemory.h>

#include "harness.h"
#include "hexgeometry.h"
#include "hxmapview.h"
#include "hxrender.h"

namespace {

const char kTerrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?'};

// A frame whose only child is a map view with the given client size.
struct ViewWindow {
    wxFrame* frame;
    HxMapView* view;

    ViewWindow(int cols, int rows, int clientW = 400, int clientH = 300) {
        frame = new wxFrame(nullptr, wxID_ANY, "view test");
        view = new HxMapView(cols, rows, frame, -1, wxDefaultPosition, wxDefaultSize);
        frame->SetClientSize(clientW + 4, clientH + 4);  // the sunken border takes two pixels a side
        frame->Show();
        waitFor([&] { return view->GetClientSize().GetWidth() > 0; });
        pump();
    }
    ~ViewWindow() {
        frame->Destroy();
        pump(2);
    }
    // Neighbouring cells get different terrains; elevations 0..10 cycle.
    void fillDistinct() {
        for (int x = 0; x < view->xs(); ++x)
            for (int y = 0; y < view->ys(); ++y) {
                view->HxMap::st(x, y, kTerrains[(x + 2 * y) % 11]);
                view->HxMap::se(x, y, static_cast<char>((x + y) % 11));
            }
    }
    const wxColour& colourOf(int x, int y) const { return *view->wts.getTerrain(view->t(x, y), view->e(x, y)); }
};

const wxColour kBackground(255, 255, 255);

// Draws the view's whole visible area into a bitmap of its client size
// over a white background, as the paint handler would.
wxImage renderOffscreen(HxMapView* view) {
    int w = 0, h = 0;
    view->GetClientSize(&w, &h);
    wxBitmap bitmap(w, h, 24);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(kBackground));
        dc.Clear();
        useExactPixels(dc);
        view->draw(dc, wxRect(0, 0, w, h));
    }
    return bitmap.ConvertToImage();
}

bool same(const wxColour& a, const wxColour& b) {
    return a.Red() == b.Red() && a.Green() == b.Green() && a.Blue() == b.Blue();
}

}  // namespace

TEST(MapViewDrawing, ThreeByTwoMapPaintsSixHexesAndNothingElse) {
    ViewWindow w(3, 2);
    w.fillDistinct();
    const wxImage img = renderOffscreen(w.view);
    const hexgeom::HexShape shape = hexgeom::hexShape(8);
    std::set<std::tuple<int, int, int>> allowed{{0, 0, 0}, {255, 255, 255}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const wxColour c = w.colourOf(x, y);
            allowed.insert({c.Red(), c.Green(), c.Blue()});
            const hexgeom::Point o = hexgeom::hexOrigin(8, x, y, {0, 0});
            EXPECT_TRUE(same(pixel(img, o.x + shape.hxs / 2, o.y + shape.hys / 2), c)) << x << "," << y;
        }
    int lastX = 0, lastY = 0;
    for (int y = 0; y < img.GetHeight(); ++y)
        for (int x = 0; x < img.GetWidth(); ++x) {
            const wxColour c = pixel(img, x, y);
            ASSERT_TRUE(allowed.count({c.Red(), c.Green(), c.Blue()})) << "blended colour at " << x << "," << y;
            if (!same(c, kBackground)) {
                lastX = std::max(lastX, x);
                lastY = std::max(lastY, y);
            }
        }
    // Three columns reach 2 * 9 + 12 pixels across; the lower even columns
    // reach 2 * 9 + 4 + 8 pixels down.
    EXPECT_EQ(lastX, 2 * 9 + 12);
    EXPECT_EQ(lastY, 9 + 4 + 8);
}

TEST(MapViewDrawing, OutlinePassesThroughEveryVertexAtEveryHexZoom) {
    ViewWindow w(1, 1, 200, 200);
    w.view->HxMap::st(0, 0, '#');
    for (int zoom : {8, 9, 12, 16, 23, 32, 47, 64}) {
        w.view->setZoom(zoom);
        const wxImage img = renderOffscreen(w.view);
        const hexgeom::HexShape shape = hexgeom::hexShape(zoom);
        const hexgeom::Point o = hexgeom::hexOrigin(zoom, 0, 0, {0, 0});
        for (const hexgeom::Point& v : shape.vertex)
            EXPECT_TRUE(same(pixel(img, o.x + v.x, o.y + v.y), *wxBLACK)) << "zoom " << zoom << " vertex " << v.x
                                                                         << "," << v.y;
        EXPECT_TRUE(same(pixel(img, o.x + shape.hxs / 2, o.y + shape.hys / 2), wxColour(192, 192, 192)));
        // Just outside the outline the background stays.
        EXPECT_TRUE(same(pixel(img, o.x + shape.hxs + 1, o.y + shape.hys / 2), kBackground));
        EXPECT_TRUE(same(pixel(img, o.x + shape.hxs / 2, o.y + shape.hys), kBackground));
    }
}

TEST(MapViewDrawing, CellColoursFollowTerrainAndElevation) {
    ViewWindow w(8, 6);
    w.fillDistinct();
    for (int zoom : {0, 3, 8, 20}) {
        w.view->setZoom(zoom);
        const wxImage img = renderOffscreen(w.view);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                hexgeom::Point c;
                if (hexgeom::isDotMap(zoom)) {
                    c = hexgeom::dotOrigin(zoom, x, y, {0, 0});
                } else {
                    const hexgeom::HexShape s = hexgeom::hexShape(zoom);
                    c = hexgeom::hexOrigin(zoom, x, y, {0, 0});
                    c.x += s.hxs / 2;
                    c.y += 2;  // below the top edge, clear of any label
                }
                EXPECT_TRUE(same(pixel(img, c.x, c.y), w.colourOf(x, y))) << "zoom " << zoom << " cell " << x << ","
                                                                          << y;
            }
    }
}

TEST(MapViewDrawing, LabelsFromZoomSixteenForPositiveElevationsOnly) {
    struct Row { int zoom; int elevation; bool label; };
    const Row rows[] = {{15, 7, false}, {16, 7, true}, {16, 0, false}, {16, -3, false}, {40, 10, true}, {64, 9, true}};
    for (const Row& r : rows) {
        ViewWindow w(1, 1, 200, 200);
        w.view->HxMap::st(0, 0, '#');
        w.view->HxMap::se(0, 0, static_cast<char>(r.elevation));
        w.view->setZoom(r.zoom);
        const wxImage img = renderOffscreen(w.view);
        const hexgeom::HexShape s = hexgeom::hexShape(r.zoom);
        const hexgeom::Point o = hexgeom::hexOrigin(r.zoom, 0, 0, {0, 0});
        // Count pixels other than the fill in the middle of the hexagon, away from the outline.
        const wxColour fill = *w.view->wts.getTerrain('#', r.elevation);
        int dark = 0, minX = 1 << 20, maxX = -1;
        for (int y = o.y + 1; y < o.y + s.hys - 1; ++y)
            for (int x = o.x + s.hxs / 4 + 1; x < o.x + (3 * s.hxs) / 4; ++x)
                if (!same(pixel(img, x, y), fill)) {
                    ++dark;
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                }
        EXPECT_EQ(dark > 0, r.label) << "zoom " << r.zoom << " elevation " << r.elevation;
        if (r.label) {
            // Centred by its own extent: as much room left as right, to a pixel.
            const int left = minX - o.x, right = o.x + s.hxs - maxX;
            EXPECT_LE(std::abs(left - right), 3) << "zoom " << r.zoom;
        }
        if (r.elevation == 10) {
            EXPECT_GT(maxX - minX, 8) << "both digits are written";
        }
    }
}

TEST(MapViewDrawing, DotMapAtZoomZeroFillsOnePixelPerCell) {
    ViewWindow w(200, 150, 400, 300);
    w.view->setZoom(0);
    const wxImage img = renderOffscreen(w.view);
    const wxColour cyan(0, 255, 255);
    for (int y = 0; y < 300; y += 1)
        for (int x = 0; x < 400; x += 1) {
            const bool inside = x < 200 && y < 150;
            ASSERT_TRUE(same(pixel(img, x, y), inside ? cyan : kBackground)) << x << "," << y;
        }
}

TEST(MapViewDrawing, DotSquaresAreExactlyPitchWideFromTheScrollPosition) {
    ViewWindow w(100, 100, 200, 150);
    w.fillDistinct();
    w.view->setZoom(3);
    w.view->Scroll(10, 5);
    pump();
    ASSERT_EQ(w.view->viewStart(), (hexgeom::Point{10, 5}));
    const wxImage img = renderOffscreen(w.view);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_TRUE(same(pixel(img, x, y), w.colourOf(10, 5)));
    EXPECT_TRUE(same(pixel(img, 4, 0), w.colourOf(11, 5)));
    EXPECT_TRUE(same(pixel(img, 8, 0), w.colourOf(12, 5)));
    EXPECT_TRUE(same(pixel(img, 11, 3), w.colourOf(12, 5)));
    EXPECT_TRUE(same(pixel(img, 0, 4), w.colourOf(10, 6)));
}

TEST(MapViewDrawing, WindowShowsWhatOffscreenDrawingGives) {
    ViewWindow w(30, 20, 300, 200);
    w.fillDistinct();
    for (int zoom : {0, 2, 8, 16}) {
        w.view->setZoom(zoom);
        w.view->Refresh();
        const wxImage screen = grabClient(w.view);
        const wxImage off = renderOffscreen(w.view);
        // Compare the map's own pixels; outside it the window shows its own background.
        int differ = 0;
        for (int y = 0; y < off.GetHeight(); ++y)
            for (int x = 0; x < off.GetWidth(); ++x) {
                const wxColour o = pixel(off, x, y);
                if (!same(o, kBackground) && !same(o, pixel(screen, x, y))) ++differ;
            }
        EXPECT_EQ(differ, 0) << "zoom " << zoom;
    }
}

TEST(MapViewDrawing, SingleCellRepaintDrawsTheNewCellAtOnce) {
    ViewWindow w(10, 10, 300, 200);
    for (int zoom : {0, 4, 8, 16}) {
        w.view->setZoom(zoom);
        w.view->Refresh();
        grabClient(w.view);
        w.view->st(3, 2, '~');
        w.view->se(3, 2, 0);
        const wxImage img = grabClient(w.view);
        hexgeom::Point c = hexgeom::isDotMap(zoom) ? hexgeom::dotOrigin(zoom, 3, 2, {0, 0})
                                                  : hexgeom::hexOrigin(zoom, 3, 2, {0, 0});
        if (!hexgeom::isDotMap(zoom)) {
            c.x += hexgeom::hexShape(zoom).hxs / 2;
            c.y += hexgeom::hexShape(zoom).hys / 2;
        }
        EXPECT_TRUE(same(pixel(img, c.x, c.y), wxColour(0, 0, 255))) << "zoom " << zoom;
        w.view->HxMap::st(3, 2, '?');
    }
}

TEST(MapViewHitTest, CentreOfEveryDrawnHexMapsBackToItsCell) {
    ViewWindow w(12, 9, 300, 200);
    w.fillDistinct();
    for (int zoom : {8, 11, 16, 33}) {
        w.view->setZoom(zoom);
        const wxImage img = renderOffscreen(w.view);
        const hexgeom::HexShape s = hexgeom::hexShape(zoom);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 12; ++x) {
                const hexgeom::Point o = hexgeom::hexOrigin(zoom, x, y, {0, 0});
                const int px = o.x + s.hxs / 2, py = o.y + 2;
                if (px >= img.GetWidth() || py >= img.GetHeight()) continue;
                int dx = -1, dy = -1;
                EXPECT_TRUE(w.view->getHexFromImage(px, py, dx, dy));
                EXPECT_EQ(dx, x);
                EXPECT_EQ(dy, y);
                EXPECT_TRUE(same(pixel(img, px, py), w.colourOf(x, y)));
            }
    }
}

TEST(MapViewScrolling, ZoomIsClamped) {
    ViewWindow w(5, 5);
    const std::pair<int, int> rows[] = {{-5, 0}, {0, 0}, {7, 7}, {64, 64}, {65, 64}, {100, 64}};
    for (auto [asked, got] : rows) {
        w.view->setZoom(asked);
        EXPECT_EQ(w.view->zoom, got) << asked;
    }
}

TEST(MapViewScrolling, ZoomKeepsTopLeftCellOrPullsBackAtTheMapsEnd) {
    // The client area is about 436 x 286 once the scroll bars take their
    // place; the expected positions follow from the size actually there.
    struct Row { int zoom; hexgeom::Point start; int newZoom; bool pulledBack; };
    const Row rows[] = {
        {8, {20, 10}, 16, false},
        {8, {40, 40}, 16, false},
        {8, {40, 40}, 4, true},     // 436/5 = 87 columns fit: 100 - 87
        {8, {40, 40}, 0, true},     // the whole map fits: 0, 0
        {16, {60, 60}, 8, true},
    };
    for (const Row& r : rows) {
        ViewWindow w(100, 80, 450, 300);
        w.view->setZoom(r.zoom);
        w.view->Scroll(r.start.x, r.start.y);
        pump();
        ASSERT_EQ(w.view->viewStart(), r.start);
        w.view->setZoom(r.newZoom);
        pump();
        const wxSize client = w.view->GetClientSize();
        const int p = r.newZoom + 1;
        const hexgeom::Point expected{std::max(0, std::min(r.start.x, 100 - client.x / p)),
                                      std::max(0, std::min(r.start.y, 80 - client.y / p))};
        EXPECT_EQ(expected != r.start, r.pulledBack) << r.zoom << " -> " << r.newZoom;
        EXPECT_EQ(w.view->viewStart(), expected) << r.zoom << " -> " << r.newZoom;
        int ppuX = 0, ppuY = 0;
        w.view->GetScrollPixelsPerUnit(&ppuX, &ppuY);
        EXPECT_EQ(ppuX, r.newZoom + 1);
        EXPECT_EQ(ppuY, r.newZoom + 1);
    }
}

TEST(MapViewScrolling, WindowLargerThanMapStaysAtOrigin) {
    ViewWindow w(10, 8, 400, 300);
    w.view->Scroll(5, 5);
    w.view->setZoom(8);
    EXPECT_EQ(w.view->viewStart(), (hexgeom::Point{0, 0}));
}

TEST(MapViewScrolling, ZoomChangeRepaintsTheWindow) {
    ViewWindow w(40, 40, 200, 200);
    int paints = 0;
    w.view->Bind(wxEVT_PAINT, [&](wxPaintEvent& e) { ++paints; e.Skip(); });
    pump(10);
    paints = 0;
    w.view->setZoom(9);
    pump(10);
    EXPECT_GE(paints, 1);
    paints = 0;
    w.view->setZoom(9);
    pump(10);
    EXPECT_EQ(paints, 0) << "an unchanged zoom repaints nothing";
}

TEST(MapViewScrolling, ResizeKeepsOldScrollBarsUntilTheNextReset) {
    ViewWindow w(100, 100, 200, 200);
    int rangeBefore = w.view->GetScrollRange(wxHORIZONTAL);
    w.view->resize(10, 10, true);
    EXPECT_EQ(w.view->xs(), 10);
    EXPECT_EQ(w.view->GetScrollRange(wxHORIZONTAL), rangeBefore);
    w.view->setZoom(w.view->zoom);
    EXPECT_LT(w.view->GetScrollRange(wxHORIZONTAL), rangeBefore);
}

TEST(MapViewScrolling, LoadResetsZoomToEightAndFailureKeepsEverything) {
    TempDir dir;
    writeFile(dir.path("good.map"), "2 3\n.0#1=2\n~0~1^9\n");
    writeFile(dir.path("bad.map"), "2 3\n.0#1=2\n");
    ViewWindow w(50, 40, 200, 200);
    w.view->setZoom(20);
    w.view->HxMap::st(4, 4, '#');
    testing::internal::CaptureStdout();
    EXPECT_FALSE(w.view->loadMap(dir.path("bad.map").c_str(), true));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(w.view->zoom, 20);
    EXPECT_EQ(w.view->xs(), 50);
    EXPECT_EQ(w.view->t(4, 4), '#');
    EXPECT_TRUE(w.view->loadMap(dir.path("good.map").c_str(), true));
    EXPECT_EQ(w.view->zoom, 8);
    EXPECT_EQ(w.view->xs(), 3);
    EXPECT_EQ(w.view->ys(), 2);
    EXPECT_EQ(w.view->t(2, 1), '^');
}

namespace {

// Sets an environment variable, or removes it (value null), for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace

// The test suite runs with GTK_OVERLAY_SCROLLING=0, which would hide the
// difference: the view is made here without it, as on a desktop, and keeps
// classic scroll bars that stay on screen and take their room from the map.
TEST(MapViewScrolling, ScrollBarsAreClassicAndShowWhenTheMapIsLarger) {
    ScopedEnv overlay("GTK_OVERLAY_SCROLLING", nullptr);
    GtkWidget* plain = gtk_scrolled_window_new(nullptr, nullptr);
    g_object_ref_sink(plain);
    const bool overlayByDefault = gtk_scrolled_window_get_overlay_scrolling(GTK_SCROLLED_WINDOW(plain));
    g_object_unref(plain);
    ASSERT_TRUE(overlayByDefault) << "this toolkit has no overlay scroll bars to turn off";

    ViewWindow w(200, 150, 400, 300);
    auto* scrolled = GTK_SCROLLED_WINDOW(w.view->GetHandle());
    ASSERT_TRUE(GTK_IS_SCROLLED_WINDOW(scrolled));
    EXPECT_FALSE(gtk_scrolled_window_get_overlay_scrolling(scrolled));
    pump(5);
    for (GtkWidget* bar : {gtk_scrolled_window_get_hscrollbar(scrolled), gtk_scrolled_window_get_vscrollbar(scrolled)}) {
        ASSERT_NE(bar, nullptr);
        EXPECT_TRUE(gtk_widget_get_mapped(bar));
        EXPECT_GT(gtk_widget_get_allocated_width(bar), 0);
        EXPECT_GT(gtk_widget_get_allocated_height(bar), 0);
    }
    // Classic bars take room beside the map: the client area is smaller.
    EXPECT_LT(w.view->GetClientSize().GetWidth(), 400);
    EXPECT_LT(w.view->GetClientSize().GetHeight(), 300);
}
