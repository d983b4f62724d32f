// The picture core, as the window paints through it, must give exactly the
// pixels of the cell-by-cell drawing, at every zoom, scroll position and for
// single-cell repaints.
#include <wx/dcmemory.h>

#include "harness.h"
#include "hxmapview.h"
#include "hxpicture.h"
#include "hxrender.h"

namespace {

const char kTerrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?', 'x', 0};
// Elevations 0..10, two just outside the colour table, and labels of three
// digits wider than a zoom-16 hexagon; -128 is the byte 0x80.
const int kElevations[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 99, 127, -128};

struct Fixture {
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "equality");
    HxMapView* view = new HxMapView(40, 30, frame, -1, wxDefaultPosition, wxDefaultSize);
    Fixture() {
        frame->SetClientSize(304, 224);
        frame->Show();
        waitFor([&] { return view->GetClientSize().GetWidth() > 0; });
        // Every terrain next to every other, with every kind of elevation.
        for (int x = 0; x < view->xs(); ++x)
            for (int y = 0; y < view->ys(); ++y) {
                view->HxMap::st(x, y, kTerrains[(x * 7 + y * 3) % 13]);
                view->HxMap::se(x, y, static_cast<char>(kElevations[(x + 2 * y) % 16]));
            }
    }
    ~Fixture() {
        frame->Destroy();
        pump(2);
    }
};

// A background that no cell colour has, with a pattern so that a shifted
// copy would show.
wxBitmap startingPicture(int w, int h) {
    wxBitmap bitmap(w, h, 24);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(90, 60, 30)));
    dc.Clear();
    dc.SetPen(wxPen(wxColour(200, 100, 50)));
    for (int x = 0; x < w; x += 7) dc.DrawLine(x, 0, x, h);
    return bitmap;
}

template <typename Draw>
wxImage drawInto(int w, int h, Draw draw) {
    wxBitmap bitmap = startingPicture(w, h);
    {
        wxMemoryDC dc(bitmap);
        useExactPixels(dc);
        draw(dc);
    }
    return bitmap.ConvertToImage();
}

// The picture core's own pixels, drawn over the starting picture in a
// buffer, as a file picture is drawn: no device context in between.
wxImage drawWithCore(HxMapView* view, int w, int h) {
    const wxImage start = startingPicture(w, h).ConvertToImage();
    std::vector<hxpic::Pixel> pixels(static_cast<std::size_t>(w) * h);
    for (int i = 0; i < w * h; ++i)
        pixels[i] = hxpic::kOpaque | start.GetData()[3 * i] << 16 | start.GetData()[3 * i + 1] << 8 |
                    start.GetData()[3 * i + 2];
    wxBitmap scratch(1, 1, 24);
    wxMemoryDC dc(scratch);
    ToolkitLabelFont labels(dc);
    const hxpic::Colours colours(view->wts);
    const hxpic::Picture picture{*view, colours, view->zoom, view->viewStart(),
                                 hexgeom::wholeViewRange(view->zoom, view->viewStart(), w, h, view->xs(), view->ys()),
                                 &labels};
    hxpic::Target target{pixels.data(), w, h, w, {0, 0}};
    hxpic::draw(picture, {0, 0, w, h}, target);
    wxImage image(w, h);
    for (int i = 0; i < w * h; ++i) {
        image.GetData()[3 * i] = static_cast<unsigned char>(pixels[i] >> 16);
        image.GetData()[3 * i + 1] = static_cast<unsigned char>(pixels[i] >> 8);
        image.GetData()[3 * i + 2] = static_cast<unsigned char>(pixels[i]);
    }
    return image;
}

// Number of differing pixels, and where the first one is.
int differences(const wxImage& a, const wxImage& b, wxPoint& first) {
    int n = 0;
    const unsigned char* pa = a.GetData();
    const unsigned char* pb = b.GetData();
    for (int i = 0; i < a.GetWidth() * a.GetHeight(); ++i)
        if (pa[3 * i] != pb[3 * i] || pa[3 * i + 1] != pb[3 * i + 1] || pa[3 * i + 2] != pb[3 * i + 2]) {
            if (n++ == 0) first = wxPoint(i % a.GetWidth(), i / a.GetWidth());
            if (n <= 8 && getenv("TARVEN_DEBUG_DIFF"))
                std::fprintf(stderr, "diff at %d,%d: %d %d %d vs %d %d %d\n", i % a.GetWidth(), i / a.GetWidth(),
                             pa[3 * i], pa[3 * i + 1], pa[3 * i + 2], pb[3 * i], pb[3 * i + 1], pb[3 * i + 2]);
        }
    return n;
}

}  // namespace

TEST(RenderEquality, WholeViewAtEveryZoomAndScrollPosition) {
    Fixture f;
    const wxSize client = f.view->GetClientSize();
    for (int zoom = 0; zoom <= 64; ++zoom) {
        f.view->setZoom(zoom);
        for (wxPoint scroll : {wxPoint(0, 0), wxPoint(3, 2), wxPoint(1, 5), wxPoint(39, 29)}) {
            f.view->Scroll(scroll.x, scroll.y);
            const wxImage reference = drawInto(client.x, client.y, [&](wxDC& dc) {
                f.view->referenceDrawing = true;
                if (zoom <= 7)
                    f.view->paintDotMap(dc, -1, -1, -1, -2);
                else
                    f.view->paintHexMap(dc, -1, -1, -1, -1);
                f.view->referenceDrawing = false;
            });
            const wxImage fast = drawInto(client.x, client.y, [&](wxDC& dc) { f.view->draw(dc, wxRect(client)); });
            wxPoint at;
            ASSERT_EQ(differences(reference, fast, at), 0)
                << "zoom " << zoom << " scroll " << scroll.x << "," << scroll.y << " first at " << at.x << "," << at.y;
            ASSERT_EQ(differences(reference, drawWithCore(f.view, client.x, client.y), at), 0)
                << "core, zoom " << zoom << " scroll " << scroll.x << "," << scroll.y << " first at " << at.x << ","
                << at.y;
        }
    }
}

TEST(RenderEquality, PartOfTheViewDrawsOnlyThatPart) {
    Fixture f;
    const wxSize client = f.view->GetClientSize();
    const wxRect part(37, 21, 90, 70);
    for (int zoom : {0, 5, 8, 16, 30, 64}) {
        f.view->setZoom(zoom);
        f.view->Scroll(2, 1);
        // A paint limited to an update rectangle: the device context is clipped to it.
        const wxImage expected = drawInto(client.x, client.y, [&](wxDC& dc) {
            dc.SetClippingRegion(part);
            f.view->referenceDrawing = true;
            f.view->draw(dc, wxRect(client));
            f.view->referenceDrawing = false;
        });
        const wxImage fast = drawInto(client.x, client.y, [&](wxDC& dc) { f.view->draw(dc, part); });
        wxPoint at;
        EXPECT_EQ(differences(expected, fast, at), 0) << "zoom " << zoom << " first at " << at.x << "," << at.y;
    }
}

TEST(RenderEquality, RepaintsOfSingleCellsInOrder) {
    Fixture f;
    const wxSize client = f.view->GetClientSize();
    const std::vector<hexgeom::Point> cells = {{3, 2}, {4, 2}, {3, 3}, {0, 0}, {5, 9}, {4, 3}, {2, 2}, {3, 2}};
    for (int zoom : {0, 3, 8, 9, 16, 17, 40, 64}) {
        f.view->setZoom(zoom);
        f.view->Scroll(1, 1);
        char original[30][40];
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) original[y][x] = f.view->e(x, y);
        const auto background = [&](wxDC& dc) {
            f.view->referenceDrawing = true;
            f.view->draw(dc, wxRect(client));
        };
        const wxImage reference = drawInto(client.x, client.y, [&](wxDC& dc) {
            background(dc);
            for (const hexgeom::Point& c : cells) {
                f.view->HxMap::se(c.x, c.y, static_cast<char>((c.x + c.y) % 10));
                if (zoom <= 7)
                    f.view->paintDotMap(dc, c.x, c.y, c.x, c.y);
                else
                    f.view->paintHexMap(dc, c.x, c.y, c.x, c.y);
            }
        });
        for (const hexgeom::Point& c : cells) f.view->HxMap::se(c.x, c.y, original[c.y][c.x]);
        const wxImage fast = drawInto(client.x, client.y, [&](wxDC& dc) {
            background(dc);
            for (const hexgeom::Point& c : cells) f.view->HxMap::se(c.x, c.y, static_cast<char>((c.x + c.y) % 10));
            f.view->referenceDrawing = false;
            drawCellsInOrder(dc, *f.view, f.view->wts, zoom, f.view->viewStart(), cells);
        });
        for (const hexgeom::Point& c : cells) f.view->HxMap::se(c.x, c.y, original[c.y][c.x]);
        wxPoint at;
        EXPECT_EQ(differences(reference, fast, at), 0) << "zoom " << zoom << " first at " << at.x << "," << at.y;
    }
}
