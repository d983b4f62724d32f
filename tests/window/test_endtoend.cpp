// Whole sessions: the real program starting on a display, and a user's
// load, paint and save through menus, dialogs, toolbar and pointer.
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <wx/uiaction.h>

#include "harness.h"
#include "hexgeometry.h"
#include "tarven.h"

// Last: the X headers define macros (None, Bool, Status) that clash with
// names in the headers above.
#include <gtk/gtk.h>
#include <gdk/gdkx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// Titles of the top-level windows on the display.
std::vector<std::string> windowTitles() {
    std::vector<std::string> titles;
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count)) return titles;
    for (unsigned i = 0; i < count; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name) {
            titles.emplace_back(name);
            XFree(name);
        }
    }
    if (children) XFree(children);
    return titles;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(EndToEnd, TheProgramOpensItsWindowAndKeepsRunning) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(TARVEN_BINARY, TARVEN_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    bool found = false;
    for (int i = 0; i < 100 && !found; ++i) {
        wxMilliSleep(50);
        for (const std::string& t : windowTitles()) found |= t == "Tarven";
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the program ended by itself";
    EXPECT_TRUE(found) << "no window titled Tarven";
    kill(child, SIGTERM);
    waitpid(child, &status, 0);
}

TEST(EndToEnd, LoadPaintAndSaveASampleMap) {
    TempDir dir;
    const std::string sample = std::string(TARVEN_EXAMPLES) + "/small.map";
    const std::string saved = dir.path("painted.map");
    auto* frame = new TarvenFrame;
    frame->SetSize(900, 600);
    frame->Show();
    ASSERT_TRUE(waitFor([&] { return frame->hxmv->GetClientSize().GetWidth() > 300; }));
    pump(10);

    wxCommandEvent load(wxEVT_MENU, ID_LOAD_MAP);
    wxTEST_DIALOG(frame->ProcessWindowEvent(load), ExpectFile(sample));
    ASSERT_EQ(frame->hxmv->xs(), 24);
    pump(5);

    // Choose elevation 7 and the Road terrain on the toolbar, as a user would.
    wxUIActionSimulator sim;
    const auto clickTool = [&](int index) {
        sim.MouseMove(toolCentre(frame->tb, index));
        pump(3);
        sim.MouseClick();
        pump(5);
    };
    clickTool(7);
    clickTool(11 + 4);
    ASSERT_EQ(frame->tb->elev, 7);
    ASSERT_EQ(frame->tb->terr, '#');

    const auto centre = [&](int x, int y) {
        const hexgeom::HexShape s = hexgeom::hexShape(frame->hxmv->zoom);
        const hexgeom::Point o = hexgeom::hexOrigin(frame->hxmv->zoom, x, y, frame->hxmv->viewStart());
        return frame->hxmv->ClientToScreen(wxPoint(o.x + s.hxs / 2, o.y + s.hys / 2));
    };
    sim.MouseMove(centre(3, 2));
    pump(3);
    sim.MouseClick(wxMOUSE_BTN_LEFT);     // terrain
    pump(3);
    sim.MouseMove(centre(5, 4));
    pump(3);
    sim.MouseClick(wxMOUSE_BTN_MIDDLE);   // elevation
    pump(3);

    wxCommandEvent save(wxEVT_MENU, ID_SAVE_MAP);
    wxTEST_DIALOG(frame->ProcessWindowEvent(save), ExpectFile(saved));
    EXPECT_EQ(frame->GetTitle(), "Tarven - " + saved);

    // The sample spells light forest "'"; it is written back as the grave accent.
    std::vector<std::string> expected = lines(readFile(sample));
    for (std::size_t row = 1; row < expected.size(); ++row)
        std::replace(expected[row].begin(), expected[row].end(), '\'', '`');
    expected[1 + 2][2 * 3] = '#';
    expected[1 + 4][2 * 5 + 1] = '7';
    std::string want;
    for (const std::string& l : expected) want += l + "\n";
    EXPECT_EQ(readFile(saved), want);
    frame->Destroy();
    pump(3);
}

namespace {

// Starts a program with the given environment changes (a null value
// removes the variable) and its standard error in a file.
pid_t spawn(const std::vector<const char*>& argv, const std::vector<std::pair<const char*, const char*>>& env,
            const std::string& errFile = "/dev/null") {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    for (const auto& [name, value] : env) value ? setenv(name, value, 1) : unsetenv(name);
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// A screen of its own (Xvfb) with a window manager, as on a desktop: the
// toolkit then shows a first window only once the window manager has told
// the size of its frame.
class DesktopScreen {
public:
    DesktopScreen() {
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string fd = std::to_string(fds[1]);
        server_ = fork();
        if (server_ == 0) {
            close(fds[0]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The server writes its display number and a line end once it is ready.
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        name_ = ":" + number;
        display_ = XOpenDisplay(name_.c_str());
        if (!display_) return;
        wm_ = spawn({"openbox"}, {{"DISPLAY", name_.c_str()}});
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        for (int i = 0; i < 100 && !wmRunning_; ++i) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, AnyPropertyType,
                                   &type, &format, &items, &after, &data) == Success && data) {
                wmRunning_ = items > 0;
                XFree(data);
            }
            if (!wmRunning_) wxMilliSleep(50);
        }
    }
    ~DesktopScreen() {
        if (display_) XCloseDisplay(display_);
        stop(wm_);
        stop(server_);
    }
    bool ready() const { return display_ && wmRunning_; }
    std::string state() const {
        return "display '" + name_ + "'" + (display_ ? " open" : " not open") + (wmRunning_ ? ", openbox" : ", no openbox");
    }
    const std::string& name() const { return name_; }
    Display* display() const { return display_; }

    // Top-level windows titled "Tarven" that are on screen, frames of the
    // window manager looked through.
    std::vector<::Window> tarvenWindows() const {
        std::vector<::Window> found;
        collect(DefaultRootWindow(display_), found);
        return found;
    }
    void key(KeySym sym) {
        const KeyCode code = XKeysymToKeycode(display_, sym);
        XTestFakeKeyEvent(display_, code, True, 0);
        XTestFakeKeyEvent(display_, code, False, 0);
        XSync(display_, False);
        wxMilliSleep(300);
    }

private:
    void collect(::Window w, std::vector<::Window>& found) const {
        char* title = nullptr;
        if (XFetchName(display_, w, &title) && title) {
            XWindowAttributes a;
            if (std::string(title) == "Tarven" && XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable)
                found.push_back(w);
            XFree(title);
        }
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return;
        for (unsigned i = 0; i < count; ++i) collect(children[i], found);
        if (children) XFree(children);
    }

    pid_t server_ = -1, wm_ = -1;
    std::string name_;
    Display* display_ = nullptr;
    bool wmRunning_ = false;
};

bool waitUntil(const std::function<bool()>& cond, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (cond()) return true;
        wxMilliSleep(50);
    }
    return cond();
}

}  // namespace

// The real program, started as on a desktop (a window manager, overlay
// scroll bars as GTK's default), prints nothing on standard error: not at
// its start in 640 x 480, not when made 300 pixels wide and back, not when
// it opens a second window through File > New Window.
TEST(EndToEnd, StartResizeAndSecondWindowPrintNothingOnStandardError) {
    DesktopScreen screen;
    ASSERT_TRUE(screen.ready()) << screen.state() << " (scripts/deps.sh installs Xvfb and openbox)";
    TempDir dir;
    const std::string errors = dir.path("stderr.txt");
    const pid_t program = spawn({TARVEN_BINARY},
                                {{"DISPLAY", screen.name().c_str()}, {"GTK_OVERLAY_SCROLLING", nullptr},
                                 {"NO_AT_BRIDGE", "1"}},
                                errors);
    Display* d = screen.display();
    std::vector<::Window> windows;
    ASSERT_TRUE(waitUntil([&] { return (windows = screen.tarvenWindows()).size() == 1; }));
    wxMilliSleep(1000);
    EXPECT_EQ(readFile(errors), "") << "at the start";
    XWindowAttributes a;

    struct Size { const char* name; int width, height; };
    for (const Size& s : {Size{"300 pixels wide", 300, 480}, Size{"back to 640 x 480", 640, 480}}) {
        XResizeWindow(d, windows[0], s.width, s.height);
        XSync(d, False);
        EXPECT_TRUE(waitUntil([&] { return XGetWindowAttributes(d, windows[0], &a) && a.width == s.width; }))
            << s.name;
        wxMilliSleep(500);
        EXPECT_EQ(readFile(errors), "") << s.name;
    }

    // File > New Window from the keyboard: F10 opens the File menu.
    XSetInputFocus(d, windows[0], RevertToParent, CurrentTime);
    screen.key(XK_F10);
    screen.key(XK_Down);
    screen.key(XK_Down);
    screen.key(XK_Return);
    EXPECT_TRUE(waitUntil([&] { return screen.tarvenWindows().size() == 2; })) << "no second window";
    wxMilliSleep(1000);
    EXPECT_EQ(readFile(errors), "") << "with a second window";
    int status = 0;
    EXPECT_EQ(waitpid(program, &status, WNOHANG), 0) << "the program ended by itself";
    stop(program);
}
