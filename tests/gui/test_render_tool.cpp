// Pictures from tarven-render, decoded back, against what the map window
// shows: every pixel the tool draws is the window's pixel, and where it
// draws nothing the window shows its background. Zooms without labels only:
// the window writes labels in the toolkit's font, the tool in its own.
#include <sstream>

#include <wx/dcmemory.h>
#include <wx/filename.h>

#include "../tools/pngread.h"
#include "harness.h"
#include "hxmapview.h"
#include "tools.h"

namespace {

std::string renderWithTool(const std::vector<std::string>& options, const std::string& map) {
    const std::string out = wxFileName::CreateTempFileName("tarven-render").ToStdString();
    std::vector<std::string> args = options;
    args.push_back(map);
    args.push_back(out);
    std::ostringstream log;
    EXPECT_EQ(tools::runRender(args, log, log), 0) << log.str();
    return out;
}

// Pixels that differ, counted, with the first one named.
struct Comparison {
    int differ = 0;
    wxPoint first;
    void check(bool same, int x, int y) {
        if (!same && differ++ == 0) first = wxPoint(x, y);
    }
};

std::uint32_t argb(const wxImage& image, int x, int y) {
    const unsigned char* p = image.GetData() + 3 * (static_cast<std::size_t>(y) * image.GetWidth() + x);
    return 0xff000000u | std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

}  // namespace

TEST(RenderTool, WholeMapAsTheWindowShowsIt) {
    const std::string map = TARVEN_EXAMPLES "/small.map";
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "render tool");
    HxMapView* view = new HxMapView(1, 1, frame, -1, wxDefaultPosition, wxDefaultSize);
    ASSERT_TRUE(view->loadMap(map.c_str(), true));
    frame->SetClientSize(400, 300);
    frame->Show();
    waitFor([&] { return view->GetClientSize().GetWidth() >= 400; });
    for (int zoom : {0, 5, 8, 13}) {
        view->setZoom(zoom);
        view->Scroll(0, 0);
        view->Refresh();
        const wxImage shown = grabClient(view);
        const std::uint32_t background = argb(shown, shown.GetWidth() - 1, shown.GetHeight() - 1);
        const std::string file = renderWithTool({"--zoom", std::to_string(zoom)}, map);
        DecodedPng png;
        ASSERT_TRUE(readPng(file, png));
        wxRemoveFile(file);
        ASSERT_LE(png.width, shown.GetWidth());
        ASSERT_LE(png.height, shown.GetHeight());
        Comparison c;
        for (int y = 0; y < png.height; ++y)
            for (int x = 0; x < png.width; ++x)
                c.check(argb(shown, x, y) == (png.at(x, y) ? png.at(x, y) : background), x, y);
        EXPECT_EQ(c.differ, 0) << "zoom " << zoom << ", first at " << c.first.x << "," << c.first.y;
    }
    frame->Destroy();
    pump(2);
}

// A part of the map, as the window's own paint code draws those cells
// when it is scrolled to the first of them.
TEST(RenderTool, CellsAsTheScrolledWindowDrawsThem) {
    const std::string map = TARVEN_EXAMPLES "/medium.map";
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "render tool");
    HxMapView* view = new HxMapView(1, 1, frame, -1, wxDefaultPosition, wxDefaultSize);
    ASSERT_TRUE(view->loadMap(map.c_str(), true));
    frame->SetClientSize(200, 150);
    frame->Show();
    waitFor([&] { return view->GetClientSize().GetWidth() > 0; });
    const hexgeom::CellRange cells{7, 4, 7 + 22, 4 + 13};
    for (int zoom : {3, 8, 9, 15}) {
        view->setZoom(zoom);
        view->Scroll(cells.x1, cells.y1);
        ASSERT_EQ(view->viewStart(), (hexgeom::Point{cells.x1, cells.y1}));
        std::ostringstream range;
        range << cells.x1 << "," << cells.y1 << "," << cells.x2 - cells.x1 + 1 << "," << cells.y2 - cells.y1 + 1;
        const std::string file = renderWithTool({"--zoom", std::to_string(zoom), "--cells", range.str()}, map);
        DecodedPng png;
        ASSERT_TRUE(readPng(file, png));
        wxRemoveFile(file);
        // A background no cell has, so that a cell drawn where the tool
        // leaves the picture transparent would show.
        wxBitmap bitmap(png.width, png.height, 24);
        {
            wxMemoryDC dc(bitmap);
            dc.SetBackground(wxBrush(wxColour(1, 2, 3)));
            dc.Clear();
            useExactPixels(dc);
            view->referenceDrawing = true;
            if (zoom <= 7) view->paintDotMap(dc, cells.x1, cells.y1, cells.x2, cells.y2);
            else view->paintHexMap(dc, cells.x1, cells.y1, cells.x2, cells.y2);
            view->referenceDrawing = false;
        }
        const wxImage drawn = bitmap.ConvertToImage();
        Comparison c;
        for (int y = 0; y < png.height; ++y)
            for (int x = 0; x < png.width; ++x)
                c.check(argb(drawn, x, y) == (png.at(x, y) ? png.at(x, y) : 0xff010203u), x, y);
        EXPECT_EQ(c.differ, 0) << "zoom " << zoom << ", first at " << c.first.x << "," << c.first.y;
    }
    frame->Destroy();
    pump(2);
}
