// Benchmarks of painting, brush passes, loading and saving. Prints one line
// per figure: the median of several runs of the fast code, the median of the
// cell-by-cell reference drawing in the same run, and their ratio.
//
// Run under an X server (xvfb-run -a -s "-screen 0 1280x1024x24" when there
// is no display): scripts/bench.sh does that.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/wx.h>

#include "hxrender.h"
#include "tarven.h"

namespace {

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

void pump() {
    for (int i = 0; i < 5; ++i) {
        while (wxTheApp->Pending()) wxTheApp->Dispatch();
        wxTheApp->ProcessIdle();
        wxYield();
    }
}

// Waits until the X server has executed everything sent so far.
void syncDisplay() { gdk_display_sync(gdk_display_get_default()); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds of one call, median of `runs`.
double timeMs(int runs, const std::function<void()>& work) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = std::chrono::steady_clock::now();
        work();
        const auto b = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::milli>(b - a).count());
    }
    return median(t);
}

void report(const std::string& what, double fast, double reference, const char* unit = "ms") {
    std::printf("%-58s %10.2f %s   reference %10.2f %s   ratio %7.1fx\n", what.c_str(), fast, unit, reference, unit,
                reference / fast);
    std::fflush(stdout);
}

void fillMap(HxMap& map) {
    const char terrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?'};
    for (int x = 0; x < map.xs(); ++x)
        for (int y = 0; y < map.ys(); ++y) {
            map.st(x, y, terrains[(x * 7 + y * 3 + (x * y) % 5) % 11]);
            map.se(x, y, static_cast<char>((x / 3 + y / 2) % 10));
        }
}

struct Window {
    TarvenFrame* frame = new TarvenFrame;
    WrappedHxMapView* view = frame->hxmv;
    explicit Window(int cols, int rows) {
        frame->Show();
        view->resize(cols, rows, false);
        fillMap(*view);
        view->setZoom(8);
        // Make the view's client area 1280 x 1024, whatever its border and
        // scroll bars take.
        frame->SetClientSize(1284, 1028);
        for (int k = 0; k < 3; ++k) {
            pump();
            const wxSize have = view->GetClientSize();
            const wxSize frameClient = frame->GetClientSize();
            frame->SetClientSize(frameClient.x + 1280 - have.x, frameClient.y + 1024 - have.y);
        }
        pump();
    }
    ~Window() {
        frame->Destroy();
        pump();
    }
};

double paintToWindow(WrappedHxMapView* view, bool reference, int runs) {
    view->referenceDrawing = reference;
    const wxSize size = view->GetClientSize();
    const double ms = timeMs(runs, [&] {
        {
            wxClientDC dc(view);
            useExactPixels(dc);
            view->draw(dc, wxRect(size));
        }
        syncDisplay();
    });
    view->referenceDrawing = false;
    return ms;
}

double paintToMemory(WrappedHxMapView* view, bool reference, int runs) {
    view->referenceDrawing = reference;
    const wxSize size = view->GetClientSize();
    wxBitmap bitmap(size.x, size.y, 24);
    const double ms = timeMs(runs, [&] {
        wxMemoryDC dc(bitmap);
        useExactPixels(dc);
        view->draw(dc, wxRect(size));
    });
    view->referenceDrawing = false;
    return ms;
}

double renderWholeMap(const HxMap& map, const wxTerrainSet& colours, int zoom, bool reference) {
    const hexgeom::HexShape shape = hexgeom::hexShape(std::max(zoom, 8));
    const int p = hexgeom::pitch(zoom);
    const int w = hexgeom::isDotMap(zoom) ? map.xs() * p : map.xs() * p + shape.hxs - p + 1;
    const int h = hexgeom::isDotMap(zoom) ? map.ys() * p : map.ys() * p + shape.hys / 2;
    const RenderJob job{map, colours, zoom, {0, 0}, {0, 0, map.xs() - 1, map.ys() - 1}};
    return timeMs(reference ? 1 : 3, [&] {
        wxBitmap bitmap(w, h, 24);
        wxMemoryDC dc(bitmap);
        useExactPixels(dc);
        const bool dots = hexgeom::isDotMap(zoom);
        if (reference)
            dots ? drawDotCellsReference(dc, job) : drawHexCellsReference(dc, job);
        else
            dots ? drawDotCells(dc, job, wxRect(0, 0, w, h)) : drawHexCells(dc, job, wxRect(0, 0, w, h));
    });
}

double brushPass(WrappedHxMapView* view, int radius, bool reference) {
    view->referenceDrawing = reference;
    view->setTool(radius);
    view->setMouse(0, MODE_ELEVATION_TERRAIN);
    auto* frame = static_cast<TarvenFrame*>(view->GetParent());
    int pass = 0;
    const wxSize size = view->GetClientSize();
    const double ms = timeMs(reference ? 9 : 31, [&] {
        // Alternate the terrain and elevation so that every cell the pass
        // paints changes.
        frame->tb->terr = (pass % 2) ? '~' : '#';
        frame->tb->elev = (pass % 2) ? 9 : 0;
        ++pass;
        wxMouseEvent up(wxEVT_LEFT_UP);
        up.m_x = size.x / 2;
        up.m_y = size.y / 2;
        view->generalMouseUp(0, up);
        syncDisplay();
    });
    view->referenceDrawing = false;
    return ms;
}

long maxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void loadAndSave() {
    const std::string path = "/tmp/tarven-bench-2047.map";
    const int n = 2047;
    {
        HxMap map(n, n);
        fillMap(map);
        map.saveMap(path.c_str());
    }
    double load = 0, save = 0;
    {
        HxMap map(1, 1);
        load = timeMs(5, [&] { map.loadMap(path.c_str()); });
        save = timeMs(5, [&] { map.saveMap(path.c_str()); });
    }
    std::printf("%-58s %10.2f ms\n", "load 2047 x 2047 map file (8.4 MB)", load);
    std::printf("%-58s %10.2f ms\n", "save 2047 x 2047 map file (8.4 MB)", save);
    // Peak memory of one load, in a fresh child process.
    std::fflush(stdout);
    if (const pid_t child = fork(); child == 0) {
        const long before = maxRssKb();
        HxMap map(1, 1);
        map.loadMap(path.c_str());
        const long after = maxRssKb();
        const double grids = 2.0 * n * n / 1024.0, file = 8.4 * 1024;
        std::printf("%-58s %10ld KiB  (grids %.0f KiB, file %.0f KiB, %.2f x grids+file)\n",
                    "peak memory growth of the load", after - before, grids, file, (after - before) / (grids + file));
        std::fflush(stdout);
        _exit(0);
    } else if (child > 0) {
        int status = 0;
        waitpid(child, &status, 0);
    }
    std::remove(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    setenv("GTK_OVERLAY_SCROLLING", "0", 0);
    wxApp::SetInstance(new BenchApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the toolkit (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";

    loadAndSave();
    {
        Window win(1000, 1000);
        const wxSize size = win.view->GetClientSize();
        std::printf("view client area %d x %d, map 1000 x 1000\n", size.x, size.y);
        for (int zoom : {0, 3, 8, 16, 32, 64}) {
            win.view->setZoom(zoom);
            pump();
            report("whole-view paint to window, zoom " + std::to_string(zoom), paintToWindow(win.view, false, 15),
                   paintToWindow(win.view, true, quick ? 1 : 3));
        }
        for (int zoom : {0, 3, 8, 16}) {
            win.view->setZoom(zoom);
            pump();
            report("whole-view paint to memory, zoom " + std::to_string(zoom), paintToMemory(win.view, false, 15),
                   paintToMemory(win.view, true, quick ? 1 : 3));
        }
        for (int zoom : {8, 0}) {
            win.view->setZoom(zoom);
            pump();
            for (int radius : {1, 4, 16})
                report("brush pass radius " + std::to_string(radius) + ", zoom " + std::to_string(zoom),
                       brushPass(win.view, radius, false), brushPass(win.view, radius, true));
        }
        for (int zoom : {0, 8}) {
            const double fast = renderWholeMap(*win.view, win.view->wts, zoom, false);
            const double ref = quick && zoom == 8 ? 0 : renderWholeMap(*win.view, win.view->wts, zoom, true);
            const double cells = 1e6;
            std::printf("%-58s %10.2f ms   reference %10.2f ms   ratio %7.1fx   (%.1f / %.2f Mcells/s)\n",
                        ("whole-map render 1000 x 1000 to bitmap, zoom " + std::to_string(zoom)).c_str(), fast, ref,
                        ref > 0 ? ref / fast : 0.0, cells / fast / 1000.0, ref > 0 ? cells / ref / 1000.0 : 0.0);
        }
    }
    double small = 0, large = 0;
    {
        Window win(100, 100);
        small = paintToWindow(win.view, false, 15);
    }
    {
        Window win(2000, 2000);
        large = paintToWindow(win.view, false, 15);
    }
    std::printf("%-58s %10.2f ms  / %.2f ms = %.2f\n", "zoom 8 paint, 2000 x 2000 map / 100 x 100 map", large, small,
                large / small);

    wxTheApp->OnExit();
    wxEntryCleanup();
    return 0;
}
