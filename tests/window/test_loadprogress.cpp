// The progress dialog of a long map load: what it shows, and that Cancel
// leaves the window as it was.
#include <string>

#include <gtk/gtk.h>

#include <wx/progdlg.h>

#include "harness.h"
#include "mapwindow.h"
#include "tarven.h"

namespace {

// Presses the Cancel button of a progress dialog, as a click does, if the
// dialog is still there.
gboolean pressCancel(gpointer data) {
    auto* dialog = static_cast<wxWindow*>(data);
    if (!wxTopLevelWindows.Find(dialog)) return G_SOURCE_REMOVE;
    if (wxWindow* button = dialog->FindWindow(wxID_CANCEL)) {
        wxCommandEvent press(wxEVT_BUTTON, wxID_CANCEL);
        press.SetEventObject(button);
        button->ProcessWindowEvent(press);
    }
    return G_SOURCE_REMOVE;
}

// Watches every event for the load's progress dialog, records its message
// and, when asked, presses its Cancel button once the toolkit next runs: a
// user's click arrives the same way, while the dialog's update lets the
// toolkit handle events.
class ProgressWatcher : public wxEventFilter {
public:
    explicit ProgressWatcher(bool cancel) : cancel(cancel) { wxEvtHandler::AddFilter(this); }
    ~ProgressWatcher() override { wxEvtHandler::RemoveFilter(this); }

    int FilterEvent(wxEvent& event) override {
        auto* dialog = dynamic_cast<wxGenericProgressDialog*>(event.GetEventObject());
        if (dialog && !seen) {
            seen = true;
            message = dialog->GetMessage();
            if (cancel) g_idle_add(pressCancel, static_cast<wxWindow*>(dialog));
        }
        return Event_Skip;
    }

    bool cancel;
    bool seen = false;
    wxString message;
};

// A map of 1000 x 4400 cells (about 8.8 MB), so that the load reports its
// progress several times.
void writeLongMap(const std::string& path) {
    std::string row;
    for (int x = 0; x < 1000; ++x) row += x % 7 == 0 ? "^5" : ".1";
    row += '\n';
    std::string text = "4400 1000\n";
    text.reserve(text.size() + row.size() * 4400);
    for (int y = 0; y < 4400; ++y) text += row;
    writeFile(path, text);
}

TEST(LoadProgress, DialogNamesTheFileAndCancelLeavesTheWindowAsItWas) {
    TempDir dir;
    writeFile(dir.path("first.map"), "2 3\n.0#1=2\n~0~1^9\n");
    writeLongMap(dir.path("long.map"));

    struct Row {
        const char* name;
        bool cancel;
    };
    const Row rows[] = {
        {"cancelled", true},
        {"let run", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        MapWindow w;
        wxTEST_DIALOG(w.command(ID_LOAD_MAP), ExpectFile(dir.path("first.map")));
        w.frame->hxmv->setZoom(20);
        w.frame->hxmv->Scroll(1, 1);
        pump(3);
        const wxString title = w.frame->GetTitle();
        const hexgeom::Point start = w.frame->hxmv->viewStart();

        w.frame->loadProgressDelayMs = 0;
        ProgressWatcher watcher(r.cancel);
        testing::internal::CaptureStdout();
        wxTEST_DIALOG(w.command(ID_LOAD_MAP), ExpectFile(dir.path("long.map")));
        const std::string printed = testing::internal::GetCapturedStdout();

        EXPECT_TRUE(watcher.seen);
        EXPECT_NE(watcher.message.Find("long.map"), wxNOT_FOUND) << watcher.message;
        EXPECT_EQ(printed, "");
        if (r.cancel) {
            EXPECT_EQ(w.frame->GetTitle(), title);
            EXPECT_EQ(w.frame->hxmv->xs(), 3);
            EXPECT_EQ(w.frame->hxmv->t(2, 1), '^');
            EXPECT_EQ(w.frame->hxmv->zoom, 20);
            EXPECT_EQ(w.frame->hxmv->viewStart(), start);
        } else {
            EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + dir.path("long.map"));
            EXPECT_EQ(w.frame->hxmv->xs(), 1000);
            EXPECT_EQ(w.frame->hxmv->ys(), 4400);
            EXPECT_EQ(w.frame->hxmv->zoom, 8);
        }
        // The dialog is gone with the load, and the window takes input again.
        pump(3);
        for (wxWindow* top : wxTopLevelWindows) {
            if (dynamic_cast<wxGenericProgressDialog*>(top)) {
                EXPECT_TRUE(top->IsBeingDeleted() || !top->IsShown());
            }
        }
        EXPECT_TRUE(w.frame->IsEnabled());
    }
}

}  // namespace
