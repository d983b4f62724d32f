// Whole sessions: the real program starting on a display, and a user's
// load, paint and save through menus, dialogs, toolbar and pointer.
#include <algorithm>
#include <csignal>
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
