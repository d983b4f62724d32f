// Pictures from tarven-render, decoded back, against the map window: every
// pixel the tool draws is the window's, and where it draws nothing the
// window shows its background. Zooms without labels only: the window writes
// labels in the toolkit's font, the tool in its own.
#include <sstream>

#include <wx/dcmemory.h>
#include <wx/filename.h>

#include "../tools/pngread.h"
#include "harness.h"
#include "hxmapview.h"
#include "tools.h"

namespace {

std::uint32_t argb(const wxImage& image, int x, int y) {
    const unsigned char* p = image.GetData() + 3 * (static_cast<std::size_t>(y) * image.GetWidth() + x);
    return 0xff000000u | std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

}  // namespace

TEST(RenderTool, PicturesAsTheWindowShowsThem) {
    struct Row {
        const char* map;
        int zoom;
        hexgeom::CellRange cells;   // empty: the whole map, as the window shows it unscrolled
    };
    const hexgeom::CellRange whole{0, 0, -1, -1}, part{7, 4, 7 + 22, 4 + 13};
    const Row rows[] = {{"small", 0, whole},  {"small", 5, whole},  {"small", 8, whole}, {"small", 13, whole},
                        {"medium", 3, part}, {"medium", 9, part}, {"medium", 15, part}};
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "render tool");
    HxMapView* view = new HxMapView(1, 1, frame, -1, wxDefaultPosition, wxDefaultSize);
    frame->SetClientSize(400, 300);
    frame->Show();
    waitFor([&] { return view->GetClientSize().GetWidth() >= 400; });
    for (const Row& row : rows) {
        const std::string map = std::string(TARVEN_EXAMPLES "/") + row.map + ".map";
        ASSERT_TRUE(view->loadMap(map.c_str(), true));
        view->setZoom(row.zoom);
        std::vector<std::string> args{"--zoom", std::to_string(row.zoom)};
        wxImage shown;
        std::uint32_t background = 0xff010203u;   // a colour no cell has
        if (row.cells.empty()) {
            view->Scroll(0, 0);
            view->Refresh();
            shown = grabClient(view);
            background = argb(shown, shown.GetWidth() - 1, shown.GetHeight() - 1);
        } else {
            // The window's own paint code for those cells, scrolled to the first.
            const hexgeom::CellRange& c = row.cells;
            view->Scroll(c.x1, c.y1);
            ASSERT_EQ(view->viewStart(), (hexgeom::Point{c.x1, c.y1}));
            std::ostringstream range;
            range << c.x1 << "," << c.y1 << "," << c.x2 - c.x1 + 1 << "," << c.y2 - c.y1 + 1;
            args.insert(args.end(), {"--cells", range.str()});
            wxBitmap bitmap(400, 300, 24);
            {
                wxMemoryDC dc(bitmap);
                dc.SetBackground(wxBrush(wxColour(1, 2, 3)));
                dc.Clear();
                useExactPixels(dc);
                view->referenceDrawing = true;
                if (row.zoom <= 7) view->paintDotMap(dc, c.x1, c.y1, c.x2, c.y2);
                else view->paintHexMap(dc, c.x1, c.y1, c.x2, c.y2);
                view->referenceDrawing = false;
            }
            shown = bitmap.ConvertToImage();
        }
        // The tool picks the kind of picture by the extension.
        const std::string temp = wxFileName::CreateTempFileName("tarven-render").ToStdString();
        const std::string out = temp + ".png";
        wxRemoveFile(temp);
        args.insert(args.end(), {map, out});
        std::ostringstream log;
        ASSERT_EQ(tools::runRender(args, log, log), 0) << log.str();
        DecodedPng png;
        ASSERT_TRUE(readPng(out, png));
        wxRemoveFile(out);
        ASSERT_LE(png.width, shown.GetWidth());
        ASSERT_LE(png.height, shown.GetHeight());
        int differ = 0;
        wxPoint first;
        for (int y = 0; y < png.height; ++y)
            for (int x = 0; x < png.width; ++x)
                if (argb(shown, x, y) != (png.at(x, y) ? png.at(x, y) : background) && differ++ == 0)
                    first = wxPoint(x, y);
        EXPECT_EQ(differ, 0) << row.map << " zoom " << row.zoom << ", first at " << first.x << "," << first.y;
    }
    frame->Destroy();
    pump(2);
}
