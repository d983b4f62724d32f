// Test program for the windows: a minimal application object, toolkit
// assertions turned into test failures, GoogleTest driving.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include <gtk/gtk.h>

#include <wx/dcclient.h>
#include <wx/toolbar.h>
#include <wx/dcmemory.h>
#include <wx/filename.h>

#include "harness.h"

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};
wxIMPLEMENT_APP_NO_MAIN(TestApp);

namespace {

void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE_AT(file.ToStdString().c_str(), line)
        << "toolkit assertion in " << func.ToStdString() << ": " << cond.ToStdString() << " "
        << msg.ToStdString();
}

bool listingOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) return true;
    return false;
}

}  // namespace

void pump(int rounds) {
    for (int i = 0; i < rounds; ++i) {
        wxTheApp->ProcessPendingEvents();
        while (wxTheApp->Pending()) wxTheApp->Dispatch();
        wxTheApp->ProcessIdle();
        wxYield();
        wxMilliSleep(2);
    }
}

bool waitFor(const std::function<bool()>& cond, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (cond()) return true;
        pump(1);
        wxMilliSleep(8);
    }
    return cond();
}

wxImage grabClient(wxWindow* window) {
    window->Update();
    pump(3);
    int w = 0, h = 0;
    window->GetClientSize(&w, &h);
    wxBitmap bitmap(w, h, 24);
    wxMemoryDC mem(bitmap);
    wxClientDC client(window);
    mem.Blit(0, 0, w, h, &client, 0, 0);
    mem.SelectObject(wxNullBitmap);
    return bitmap.ConvertToImage();
}

wxPoint toolCentre(wxToolBar* tb, int index) {
    GtkWidget* widget = static_cast<GtkWidget*>(tb->GetHandle());
    GtkToolbar* bar = GTK_IS_TOOLBAR(widget) ? GTK_TOOLBAR(widget) : nullptr;
    if (!bar && GTK_IS_BIN(widget)) bar = GTK_TOOLBAR(gtk_bin_get_child(GTK_BIN(widget)));
    if (!bar) return wxDefaultPosition;
    GtkToolItem* item = gtk_toolbar_get_nth_item(bar, index);
    if (!item) return wxDefaultPosition;
    GtkAllocation a;
    gtk_widget_get_allocation(GTK_WIDGET(item), &a);
    GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(item));
    int x = 0, y = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(GTK_WIDGET(item), top, a.width / 2, a.height / 2, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
    return wxPoint(ox + x, oy + y);
}

wxColour pixel(const wxImage& image, int x, int y) {
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

TempDir::TempDir() {
    char pattern[] = "/tmp/tarven-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
    if (dir_ != "/tmp") wxFileName::Rmdir(dir_, wxPATH_RMDIR_RECURSIVE);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (listingOnly(argc, argv)) return RUN_ALL_TESTS();

    setenv("GTK_OVERLAY_SCROLLING", "0", 0);
    setenv("NO_AT_BRIDGE", "1", 0);
    wxSetAssertHandler(failOnAssert);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the toolkit (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    wxInitAllImageHandlers();
    const int result = RUN_ALL_TESTS();
    // Let destroyed windows go before the toolkit is torn down.
    pump(5);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
