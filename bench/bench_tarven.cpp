// Benchmark of the view's painting, the brush, whole-map pictures, loading
// and saving, and of the command-line renderer when its path is given. Each
// figure is the median of several runs and is printed with its target and
// whether the target is met.
//
//   tarven_bench [--quick] [--render PATH-OF-tarven-render]
//
// It needs an X server (scripts/bench.sh starts Xvfb when there is none).
// Every paint is taken on a map that fills the whole 1280 x 1024 view. Loads
// and saves are timed in fresh processes: the benchmark runs itself again as
//   tarven_bench --child-load FILE OUT-DIR
// which loads FILE, saves it into OUT-DIR and prints its own times and the
// growth of its peak memory over what it held before the load. tarven-render
// is started through tarven_peak (peak_of.cpp), which reports its time and
// peak memory.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/wx.h>

#include "hxpicture.h"
#include "hxrender.h"
#include "hxterrains.h"
#include "tarven.h"

extern char** environ;

namespace {

constexpr int kViewW = 1280, kViewH = 1024;
constexpr double kMiB = 1024.0 * 1024.0;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Milliseconds of one call: `warm` untimed calls, then the median of `runs`
// timed ones, and the fastest of them (what a quiet machine comes near).
struct Timing {
    double median = 0, best = 0;
};
Timing timeMs(int warm, int runs, const std::function<void()>& work) {
    for (int i = 0; i < warm; ++i) work();
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = Clock::now();
        work();
        t.push_back(secondsSince(a) * 1000);
    }
    return {median(t), *std::min_element(t.begin(), t.end())};
}

// ---------------------------------------------------------------------------
// Reporting: one line per figure, and a count of missed targets.

int missed = 0;
int figures = 0;

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// A figure with a target: met when value <= target (value < target when
// `strict`). `note` goes at the end of the line.
void figure(const std::string& what, double value, const char* unit, double target, const std::string& note = "",
            bool strict = false) {
    const bool met = strict ? value < target : value <= target;
    ++figures;
    if (!met) ++missed;
    std::printf("%-50s %9.3f %-4s %s %8.3f %-4s %-7s %s\n", what.c_str(), value, unit, strict ? "< " : "<=", target,
                unit, met ? "met" : "MISSED", note.c_str());
    std::fflush(stdout);
}

// A figure without a target of its own, printed for context.
void info(const std::string& what, double value, const char* unit, const std::string& note = "") {
    std::printf("%-50s %9.3f %-4s %-23s %s\n", what.c_str(), value, unit, "", note.c_str());
    std::fflush(stdout);
}

void heading(const char* text) {
    std::printf("\n%s\n", text);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Processes.

long statusKb(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    const std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            value = std::atol(line + n + 1);
            break;
        }
    std::fclose(f);
    return value;
}

// Resets the kernel's record of this process's peak memory (VmHWM) to what
// it holds now.
bool resetPeakMemory() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

struct Spawned {
    bool ok = false;            // started and exited with status 0
    double seconds = 0;         // wall time from spawning to its end
    long maxRssKb = 0;          // the child's peak memory
    std::string out;            // its standard output
};

// Runs a program to its end with its standard output captured.
Spawned spawnAndWait(const std::vector<std::string>& args) {
    Spawned r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (err != 0) {
        close(fds[0]);
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(err));
        return r;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) r.out.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR) break;
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    r.seconds = secondsSince(start);
    r.maxRssKb = usage.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

long long fileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string selfPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    buf[n] = 0;
    return buf;
}

// The child's side: load FILE, save it into OUT-DIR as a new file, and print
// "RESULT ok load-seconds save-seconds peak-growth-KiB".
int childLoad(const char* file, const char* outDir) {
    HxMap map(1, 1);
    const bool fresh = resetPeakMemory();
    const long before = statusKb("VmRSS");
    const long hwmBefore = statusKb("VmHWM");
    const auto a = Clock::now();
    const bool loaded = map.loadMap(file);
    const double load = secondsSince(a);
    const long peak = statusKb("VmHWM");
    const std::string out = std::string(outDir) + "/tarven-bench-save-" + std::to_string(getpid()) + ".map";
    const auto b = Clock::now();
    const bool saved = loaded && map.saveMap(out.c_str());
    const double save = secondsSince(b);
    std::remove(out.c_str());
    // Without the reset, the growth is taken over the peak so far, which can
    // only make it smaller; say so.
    const long growth = peak - (fresh ? before : hwmBefore);
    std::printf("RESULT %d %.6f %.6f %ld %d\n", loaded && saved ? 1 : 0, load, save, growth, fresh ? 1 : 0);
    return loaded && saved ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Maps.

const char kTerrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?'};
char terrainAt(int x, int y) { return kTerrains[(x * 7 + y * 3 + (x * y) % 5) % 11]; }
char elevationAt(int x, int y) { return static_cast<char>((x / 3 + y / 2) % 10); }

void fillMap(HxMap& map) {
    for (int x = 0; x < map.xs(); ++x)
        for (int y = 0; y < map.ys(); ++y) {
            map.st(x, y, terrainAt(x, y));
            map.se(x, y, elevationAt(x, y));
        }
}

// Writes an n x n map file with the same cells as fillMap, row by row, so
// that even the largest needs no grid in memory.
bool writeMapFile(const std::string& path, int n) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "%d %d\n", n, n);
    std::string row(2 * static_cast<std::size_t>(n) + 1, '\n');
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            row[2 * static_cast<std::size_t>(x)] = HxMap::real2read(terrainAt(x, y));
            row[2 * static_cast<std::size_t>(x) + 1] = static_cast<char>('0' + elevationAt(x, y));
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    return std::fclose(f) == 0;
}

// ---------------------------------------------------------------------------
// Windows.

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

// A map window whose view shows exactly kViewW x kViewH client pixels.
struct Window {
    TarvenFrame* frame = new TarvenFrame;
    WrappedHxMapView* view = frame->hxmv;
    Window(int cols, int rows) {
        frame->Show();
        view->resize(cols, rows, false);
        fillMap(*view);
        view->setZoom(8);
        frame->SetClientSize(kViewW + 4, kViewH + 4);
        for (int k = 0; k < 3; ++k) {
            pump();
            const wxSize have = view->GetClientSize();
            const wxSize frameClient = frame->GetClientSize();
            frame->SetClientSize(frameClient.x + kViewW - have.x, frameClient.y + kViewH - have.y);
        }
        pump();
        const wxSize have = view->GetClientSize();
        if (have.x != kViewW || have.y != kViewH)
            std::printf("warning: the view is %d x %d pixels, not %d x %d\n", have.x, have.y, kViewW, kViewH);
    }
    ~Window() {
        frame->Destroy();
        pump();
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Zoom, then scroll as far toward `cell` as the map allows.
    void show(int zoom, int cell) {
        view->setZoom(zoom);
        pump();
        view->Scroll(cell, cell);
        pump();
        syncDisplay();
    }
    // Whether the cells drawn cover every pixel of the view.
    bool filled() const {
        const int p = hexgeom::pitch(view->zoom);
        const hexgeom::Point s = view->viewStart();
        return (view->xs() - s.x) * p >= kViewW && (view->ys() - s.y) * p >= kViewH;
    }
};

// One whole-view paint on the window, until the X server has shown it.
void paintWindowOnce(WrappedHxMapView* view) {
    {
        wxClientDC dc(view);
        useExactPixels(dc);
        view->draw(dc, wxRect(0, 0, kViewW, kViewH));
    }
    syncDisplay();
}

// One whole-view paint into an off-screen bitmap of the view's size.
struct MemoryPaint {
    wxBitmap bitmap{kViewW, kViewH, 24};
    double once(WrappedHxMapView* view) {
        const auto a = Clock::now();
        {
            wxMemoryDC dc(bitmap);
            useExactPixels(dc);
            view->draw(dc, wxRect(0, 0, kViewW, kViewH));
        }
        return secondsSince(a) * 1000;
    }
};

std::string mapSize(const HxMap& map) { return std::to_string(map.xs()) + " x " + std::to_string(map.ys()); }

// The figures of one kind at several zooms are taken in rounds, a few runs
// at every zoom per round after a warm-up run there, so that a burst of load
// from elsewhere on the machine falls on all of them alike instead of on one
// zoom's runs.
constexpr int kRounds = 11, kRunsPerVisit = 3;

std::string minOf(const std::vector<double>& v, const char* f) {
    return fmt(f, v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()));
}
std::string maxOf(const std::vector<double>& v, const char* f) {
    return fmt(f, v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
}

void wholeViewPaints(bool quick) {
    heading("Whole-view paint on the window, 1280 x 1024 pixels, until the X server has done it");
    Window win(2000, 2000);
    const std::vector<int> zooms{0, 3, 7, 8, 16, 32, 64};
    std::vector<std::vector<double>> times(zooms.size());
    std::vector<std::string> notes(zooms.size());
    for (std::size_t k = 0; k < zooms.size(); ++k) {
        win.show(zooms[k], 300);
        const hexgeom::Point s = win.view->viewStart();
        notes[k] = "map " + mapSize(*win.view) + " at (" + std::to_string(s.x) + "," + std::to_string(s.y) + ")" +
                   (win.filled() ? "" : " NOT FILLING THE VIEW");
        // The cell-by-cell reference takes seconds at zoom 0 and about a
        // quarter of a second at zooms 3 and 8.
        if (zooms[k] != 0 && !(quick && (zooms[k] == 3 || zooms[k] == 8))) {
            win.view->referenceDrawing = true;
            notes[k] += ", cell by cell " +
                        fmt("%.0f ms", timeMs(0, quick ? 1 : 3, [&] { paintWindowOnce(win.view); }).median);
            win.view->referenceDrawing = false;
        }
    }
    for (int round = 0; round < kRounds; ++round)
        for (std::size_t k = 0; k < zooms.size(); ++k) {
            win.show(zooms[k], 300);
            paintWindowOnce(win.view);
            for (int i = 0; i < kRunsPerVisit; ++i) {
                const auto a = Clock::now();
                paintWindowOnce(win.view);
                times[k].push_back(secondsSince(a) * 1000);
            }
        }
    for (std::size_t k = 0; k < zooms.size(); ++k)
        figure("whole-view paint, zoom " + std::to_string(zooms[k]), median(times[k]), "ms", 5.0,
               minOf(times[k], "best %.2f ms, ") + notes[k]);
}

// Counts the cells of the square around (cx, cy) whose terrain or elevation
// differ from the snapshot, and takes a new snapshot.
int changedCells(const HxMap& map, int cx, int cy, int r, std::vector<char>& snapshot) {
    int changed = 0;
    std::size_t k = 0;
    const std::size_t side = 2 * static_cast<std::size_t>(r) + 1;
    const bool first = snapshot.size() != 2 * side * side;
    if (first) snapshot.assign(2 * side * side, 0);
    for (int x = cx - r; x <= cx + r; ++x)
        for (int y = cy - r; y <= cy + r; ++y) {
            const char t = map.t(x, y), e = map.e(x, y);
            if (!first) changed += snapshot[k] != t || snapshot[k + 1] != e;
            snapshot[k] = t;
            snapshot[k + 1] = e;
            k += 2;
        }
    return changed;
}

void brushPasses(bool quick) {
    heading("Brush pass, radius 16, at the view's centre, until the X server has done it");
    Window win(2000, 2000);
    auto* view = win.view;
    view->setTool(16);
    view->setMouse(0, MODE_ELEVATION_TERRAIN);
    wxMouseEvent up(wxEVT_LEFT_UP);
    up.m_x = kViewW / 2;
    up.m_y = kViewH / 2;
    const std::vector<int> zooms{0, 8, 16, 64};
    std::vector<std::vector<double>> times(zooms.size()), changes(zooms.size()), refTimes(zooms.size());
    std::vector<int> passes(zooms.size());
    // One pass at zooms[k]; terrain and elevation alternate from one pass to
    // the next at that zoom, so that every pass changes cells.
    auto once = [&](std::size_t k, std::vector<double>* t, std::vector<double>* c) {
        int cx = 0, cy = 0;
        view->getHexFromImage(up.m_x, up.m_y, cx, cy);
        std::vector<char> snapshot;
        changedCells(*view, cx, cy, 16, snapshot);
        const bool odd = passes[k]++ % 2;
        win.frame->tb->terr = odd ? '~' : '#';
        win.frame->tb->elev = odd ? 9 : 0;
        const auto a = Clock::now();
        view->generalMouseUp(0, up);
        syncDisplay();
        const double ms = secondsSince(a) * 1000;
        const int changed = changedCells(*view, cx, cy, 16, snapshot);
        if (t) t->push_back(ms);
        if (c) c->push_back(changed);
    };
    for (int round = 0; round < kRounds; ++round)
        for (std::size_t k = 0; k < zooms.size(); ++k) {
            win.show(zooms[k], 300);
            once(k, nullptr, nullptr);
            for (int i = 0; i < kRunsPerVisit; ++i) once(k, &times[k], &changes[k]);
        }
    if (!quick) {
        view->referenceDrawing = true;
        for (std::size_t k = 0; k < zooms.size(); ++k) {
            win.show(zooms[k], 300);
            for (int i = 0; i < 5; ++i) once(k, &refTimes[k], nullptr);
        }
        view->referenceDrawing = false;
    }
    for (std::size_t k = 0; k < zooms.size(); ++k) {
        std::string note = minOf(times[k], "best %.2f ms, ") + fmt("%.0f cells changed", median(changes[k])) +
                           minOf(changes[k], " (%.0f") + maxOf(changes[k], "-%.0f)");
        if (!refTimes[k].empty()) note += ", cell by cell " + fmt("%.1f ms", median(refTimes[k]));
        figure("brush pass radius 16, zoom " + std::to_string(zooms[k]), median(times[k]), "ms", 3.0, note);
    }
}

// Paint cost of a large map over a small one, both filling the view, taken
// in alternation (large, small, small, large, ...) so that a change of the
// machine's load touches both; the median of the pairs' ratios.
void paintRatios() {
    heading("Paint of a large map / a small one, both filling the view (into a 1280 x 1024 bitmap)");
    Window large(8000, 8000);
    struct Case {
        int zoom, small;
    };
    // A 200 x 200 map fills the view from zoom 6 on; at zoom 0 the smallest
    // map that fills it is as large as the view.
    for (const Case c : {Case{0, 0}, Case{8, 200}}) {
        Window small(c.small ? c.small : kViewW, c.small ? c.small : kViewH);
        large.show(c.zoom, 4000);
        small.show(c.zoom, 1);
        MemoryPaint paint;
        for (int i = 0; i < 3; ++i) {
            paint.once(large.view);
            paint.once(small.view);
        }
        std::vector<double> ratios, a, b;
        for (int i = 0; i < 41; ++i) {
            double tl = 0, ts = 0;
            if (i % 2) {
                ts = paint.once(small.view);
                tl = paint.once(large.view);
            } else {
                tl = paint.once(large.view);
                ts = paint.once(small.view);
            }
            a.push_back(tl);
            b.push_back(ts);
            ratios.push_back(tl / ts);
        }
        const bool filled = large.filled() && small.filled();
        figure("paint " + mapSize(*large.view) + " / " + mapSize(*small.view) + ", zoom " + std::to_string(c.zoom),
               median(ratios), "", 1.2,
               fmt("%.2f ms", median(a)) + " / " + fmt("%.2f ms", median(b)) + (filled ? "" : " NOT FILLING THE VIEW"));
    }
}

// The whole map as one picture in memory, drawn by the picture core into a
// block that the caller holds, as a program drawing several pictures would;
// and, for comparison, into memory allocated in the run, whose first touch
// of every page the kernel must serve (slow on some virtual machines).
void wholeMapPicture(const std::string& examples) {
    heading("Whole map at zoom 8 as one picture in memory");
    const std::string path = examples + "/large.map";
    HxMap map(1, 1);
    if (!map.loadMap(path.c_str())) {
        std::printf("cannot load %s\n", path.c_str());
        return;
    }
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    const int zoom = 8;
    const hexgeom::CellRange cells{0, 0, map.xs() - 1, map.ys() - 1};
    const hexgeom::Point start{0, 0};
    const hexgeom::PixelRect box = hxpic::pictureBox(zoom, cells, start);
    const std::size_t pixels = static_cast<std::size_t>(box.w) * static_cast<std::size_t>(box.h);
    auto drawInto = [&](hxpic::Pixel* block) {
        hxpic::Target target{block, box.w, box.h, box.w, {box.x, box.y}};
        const hxpic::Picture picture{map, colours, zoom, start, cells, nullptr};
        hxpic::draw(picture, hxpic::Clip{box.x, box.y, box.x + box.w, box.y + box.h}, target);
    };
    std::vector<hxpic::Pixel> held(pixels);
    const Timing warm = timeMs(1, 7, [&] {
        // Transparent where no cell draws, as a fresh picture is.
        std::fill(held.begin(), held.end(), 0);
        drawInto(held.data());
    });
    const std::string note =
        fmt("examples/large.map, %.0f MB block held and cleared, ", pixels * 4 / 1e6) + fmt("best %.0f ms", warm.best);
    figure("whole map " + mapSize(map) + ", zoom 8, " + std::to_string(box.w) + " x " + std::to_string(box.h) + " px",
           warm.median, "ms", 150.0, note);
    held = std::vector<hxpic::Pixel>();
    const Timing fresh = timeMs(0, 3, [&] {
        std::unique_ptr<hxpic::Pixel, decltype(&std::free)> block(
            static_cast<hxpic::Pixel*>(std::calloc(pixels, sizeof(hxpic::Pixel))), &std::free);
        if (block) drawInto(block.get());
    });
    info("  the same into memory allocated in the run", fresh.median, "ms", fmt("best %.0f ms", fresh.best));
}

// ---------------------------------------------------------------------------
// Loading and saving in fresh processes.

struct ChildResult {
    bool ok = false;
    double load = 0, save = 0;
    double growthKb = 0;
    bool peakReset = false;
};

ChildResult runChild(const std::string& self, const std::string& file, const std::string& outDir) {
    ChildResult c;
    const Spawned s = spawnAndWait({self, "--child-load", file, outDir});
    const std::size_t at = s.out.rfind("RESULT ");
    if (!s.ok || at == std::string::npos) {
        std::printf("child for %s failed:\n%s\n", file.c_str(), s.out.c_str());
        return c;
    }
    int ok = 0, reset = 0;
    long growth = 0;
    if (std::sscanf(s.out.c_str() + at, "RESULT %d %lf %lf %ld %d", &ok, &c.load, &c.save, &growth, &reset) == 5) {
        c.ok = ok == 1;
        c.growthKb = static_cast<double>(growth);
        c.peakReset = reset == 1;
    }
    return c;
}

void loadAndSave(bool quick) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp && *tmp ? tmp : "/tmp";
    const std::string outDir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : dir;
    const std::string self = selfPath();
    const int sizes[] = {1000, 2047, 8000};
    struct Series {
        std::string file;
        long long bytes = 0;
        std::vector<double> load, save, growth;
        bool peakReset = true;
    };
    Series series[3];
    heading(("Load and save, each run in a fresh process; files in " + dir + " (in the page cache), saved into " +
             outDir)
                .c_str());
    for (int k = 0; k < 3; ++k) {
        series[k].file = dir + "/tarven-bench-" + std::to_string(getpid()) + "-" + std::to_string(sizes[k]) + ".map";
        if (!writeMapFile(series[k].file, sizes[k])) {
            std::printf("cannot write %s\n", series[k].file.c_str());
            return;
        }
        series[k].bytes = fileSize(series[k].file);
    }
    // Rounds through the three sizes, so that a change of the machine's load
    // falls on all of them.
    std::vector<double> loadRatio, saveRatio;
    const int rounds = quick ? 3 : 7;
    for (int r = 0; r < rounds; ++r) {
        ChildResult got[3];
        for (int k = 0; k < 3; ++k) {
            got[k] = runChild(self, series[k].file, outDir);
            if (!got[k].ok) continue;
            series[k].load.push_back(got[k].load);
            series[k].save.push_back(got[k].save);
            series[k].growth.push_back(got[k].growthKb);
            series[k].peakReset = series[k].peakReset && got[k].peakReset;
        }
        if (got[0].ok && got[2].ok) {
            const double cells = 64.0;   // 8000^2 / 1000^2
            loadRatio.push_back(got[2].load / cells / got[0].load);
            saveRatio.push_back(got[2].save / cells / got[0].save);
        }
    }
    for (int k = 0; k < 3; ++k) {
        const Series& s = series[k];
        const std::string size = std::to_string(sizes[k]) + " x " + std::to_string(sizes[k]);
        const std::string bytes = fmt("file %.1f MB", s.bytes / 1e6);
        if (s.load.empty()) continue;
        if (sizes[k] == 8000) {
            figure("load " + size, median(s.load), "s", 0.25, bytes);
            figure("save " + size + " into " + outDir, median(s.save), "s", 0.2, bytes);
        } else {
            info("load " + size, median(s.load) * 1000, "ms", bytes);
            info("save " + size + " into " + outDir, median(s.save) * 1000, "ms", bytes);
        }
    }
    if (!loadRatio.empty()) {
        figure("load time per cell, 8000^2 / 1000^2", median(loadRatio), "", 1.3);
        figure("save time per cell, 8000^2 / 1000^2", median(saveRatio), "", 1.3);
    }
    for (int k = 0; k < 3; ++k) {
        const Series& s = series[k];
        if (s.growth.empty()) continue;
        const double grids = 2.0 * sizes[k] * sizes[k];
        const double allowed = (static_cast<double>(s.bytes) + grids) / kMiB + 16;
        const double peak = *std::max_element(s.growth.begin(), s.growth.end()) / 1024;
        figure("peak memory growth, load " + std::to_string(sizes[k]) + "^2", peak, "MiB", allowed,
               fmt("file + grids %.1f MiB", allowed - 16) + fmt(", %.2f x", peak / (allowed - 16)) +
                   (s.peakReset ? "" : " (peak not reset: at most this)"));
    }
    for (const Series& s : series) std::remove(s.file.c_str());
}

// ---------------------------------------------------------------------------
// The command-line renderer, as a whole process.

void renderTool(const std::string& tool, const std::string& examples, bool quick) {
    const std::string map = examples + "/large.map";
    const std::string out = "/dev/shm/tarven-bench-render-" + std::to_string(getpid()) + ".png";
    std::string starter = selfPath();
    starter = starter.substr(0, starter.rfind('/') + 1) + "tarven_peak";
    heading(("tarven-render " + map + ", whole process, picture into /dev/shm").c_str());
    for (int zoom : {8, 0}) {
        std::vector<double> times;
        double peakKb = 0, floorKb = 0;
        long long bytes = 0;
        const int runs = quick ? 3 : 7;
        for (int i = 0; i < runs + 1; ++i) {
            const Spawned s = spawnAndWait({starter, tool, "--zoom", std::to_string(zoom), map, out});
            const std::size_t at = s.out.rfind("PEAK ");
            int code = -1;
            double seconds = 0;
            long peak = 0, floor = 0;
            if (!s.ok || at == std::string::npos ||
                std::sscanf(s.out.c_str() + at, "PEAK %d %lf %ld %ld", &code, &seconds, &peak, &floor) != 4 ||
                code != 0) {
                std::printf("%s failed at zoom %d:\n%s\n", tool.c_str(), zoom, s.out.c_str());
                std::remove(out.c_str());
                return;
            }
            bytes = fileSize(out);
            std::remove(out.c_str());
            if (i == 0) continue;   // warms the page cache for the program and the map
            times.push_back(seconds);
            peakKb = std::max(peakKb, static_cast<double>(peak));
            floorKb = std::max(floorKb, static_cast<double>(floor));
        }
        const std::string note = fmt("PNG %.2f MB", bytes / 1e6) + minOf(times, ", best %.3f s");
        if (zoom == 8)
            figure("tarven-render zoom 8", median(times), "s", 0.6, note);
        else
            figure("tarven-render zoom 0", median(times), "s", 0.1, note, true);
        const std::string peakNote =
            peakKb <= floorKb ? fmt("at most: the starter's own is %.1f MiB", floorKb / 1024) : "largest of the runs";
        figure("tarven-render peak memory, zoom " + std::to_string(zoom), peakKb / 1024, "MiB", 64.0, peakNote, true);
    }
}

std::string loadAverage() {
    FILE* f = std::fopen("/proc/loadavg", "r");
    if (!f) return "?";
    char buf[128] = {};
    if (!std::fgets(buf, sizeof buf, f)) buf[0] = 0;
    std::fclose(f);
    std::string s = buf;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

void usage() {
    std::fprintf(stderr, "usage: tarven_bench [--quick] [--render PATH-OF-tarven-render]\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--child-load") return childLoad(argv[2], argv[3]);

    bool quick = false;
    std::string tool;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            quick = true;
        } else if (a == "--render" && i + 1 < argc) {
            tool = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    const std::string examples = TARVEN_EXAMPLES_DIR;

    std::printf("Tarven benchmark%s; load average at the start: %s\n", quick ? " (--quick)" : "",
                loadAverage().c_str());
    std::printf("%-50s %14s %17s %-7s %s\n", "figure", "median", "target", "verdict", "notes");
    std::fflush(stdout);
    // The processes come first, while this one is still small.
    loadAndSave(quick);
    if (!tool.empty()) renderTool(tool, examples, quick);

    setenv("GTK_OVERLAY_SCROLLING", "0", 0);
    wxApp::SetInstance(new BenchApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start the toolkit (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    wholeViewPaints(quick);
    brushPasses(quick);
    paintRatios();
    wholeMapPicture(examples);
    wxTheApp->OnExit();
    wxEntryCleanup();

    std::printf("\n%d of %d targets missed; load average at the end: %s\n", missed, figures, loadAverage().c_str());
    return 0;
}
