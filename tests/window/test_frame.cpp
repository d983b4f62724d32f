// The map window: menus, commands and their dialogs, several windows.
#include <sys/stat.h>

#include <gtk/gtk.h>

#include <wx/uiaction.h>

#include "harness.h"
#include "mapwindow.h"
#include "tarven.h"

namespace {

using Window = MapWindow;

int frameCount() {
    int n = 0;
    for (wxWindow* w : wxTopLevelWindows)
        if (dynamic_cast<TarvenFrame*>(w) && !w->IsBeingDeleted()) ++n;
    return n;
}

struct Item { int id; const char* label; const char* help; };

void expectItems(wxMenu* menu, const std::vector<Item>& items) {
    ASSERT_EQ(menu->GetMenuItemCount(), items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
        wxMenuItem* item = menu->FindItemByPosition(k);
        EXPECT_EQ(item->GetId(), items[k].id);
        EXPECT_EQ(item->GetItemLabel().ToStdString(), items[k].label) << items[k].id;
        EXPECT_EQ(item->GetHelp().ToStdString(), items[k].help) << items[k].id;
        EXPECT_FALSE(item->IsCheckable());
        EXPECT_FALSE(item->IsSeparator());
        EXPECT_TRUE(item->GetAccel() == nullptr) << "no accelerators: " << items[k].id;
    }
}

void expectModeMenu(wxMenu* menu, int first) {
    expectItems(menu, {{first, "Terrain", ""}, {first + 1, "Elevation", ""}, {first + 2, "Elevation+Terrain", ""},
                       {first + 3, "Zoom(in)", ""}, {first + 4, "Zoom(out)", ""}, {first + 5, "Popup", ""}});
}

void expectZoomMenu(wxMenu* menu) {
    expectItems(menu, {{111, "1", "\tHex = 1 pixel"}, {112, "2", "\tHex = 2 pixels"}, {113, "4", "\tHex = 4 pixels"},
                       {114, "8", "\tHex = 8 pixels"}, {115, "16", "\tHex = 16 pixels"},
                       {116, "32", "\tHex = 32 pixels"}});
}

void expectToolMenu(wxMenu* tool) {
    expectItems(tool, {{118, "LMB", ""}, {125, "MMB", ""}, {132, "RMB", ""}, {139, "Size", ""}});
    expectModeMenu(tool->FindItemByPosition(0)->GetSubMenu(), 119);
    expectModeMenu(tool->FindItemByPosition(1)->GetSubMenu(), 126);
    expectModeMenu(tool->FindItemByPosition(2)->GetSubMenu(), 133);
    expectItems(tool->FindItemByPosition(3)->GetSubMenu(),
                {{140, "1", "Use \"brush radius\" of 1 hex"}, {141, "2", "Use \"brush radius\" of 2 hexes"},
                 {142, "4", ""}, {143, "8", ""}, {144, "16", ""}});
}

}  // namespace

TEST(Frame, StartsAsAnEmptyMapWindow) {
    Window w;
    EXPECT_EQ(w.frame->GetTitle(), "Tarven");
    EXPECT_EQ(w.frame->GetSize(), wxSize(640, 480));
    EXPECT_EQ(w.frame->hxmv->xs(), 1);
    EXPECT_EQ(w.frame->hxmv->ys(), 1);
    EXPECT_EQ(w.frame->hxmv->zoom, 8);
    EXPECT_EQ(w.frame->GetStatusBar()->GetFieldsCount(), 1);
    EXPECT_TRUE(w.frame->GetStatusBar()->GetStatusText(0).StartsWith("Tarven v0.3"));
    EXPECT_EQ(w.frame->GetToolBar(), w.frame->tb);
    EXPECT_EQ(w.frame->hxmv->getMouse(0), 0);
    EXPECT_EQ(w.frame->hxmv->getMouse(1), 1);
    EXPECT_EQ(w.frame->hxmv->getMouse(2), 5);
    EXPECT_EQ(w.frame->hxmv->getTool(), 1);
}

// The window's icon is Tarven's hexagon at 16, 32, 48 and 256 pixels, the
// same pixels as the icon files installed for the desktop entry.
TEST(Frame, WindowIconIsTheHexagonAtEverySize) {
    Window w;
    const wxIconBundle icons = w.frame->GetIcons();
    ASSERT_EQ(icons.GetIconCount(), 4u);
    for (int size : {16, 32, 48, 256}) {
        SCOPED_TRACE(size);
        const wxIcon icon = icons.GetIconOfExactSize(wxSize(size, size));
        ASSERT_TRUE(icon.IsOk());
        wxImage file(std::string(TARVEN_ICONS) + "/tarven-" + std::to_string(size) + ".png", wxBITMAP_TYPE_PNG);
        ASSERT_TRUE(file.IsOk());
        wxBitmap bitmap;
        bitmap.CopyFromIcon(icon);
        const wxImage shown = bitmap.ConvertToImage();
        ASSERT_EQ(shown.GetSize(), file.GetSize());
        int differing = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const bool seeThrough = file.GetAlpha(x, y) == 0;
                if (seeThrough != (shown.HasAlpha() && shown.GetAlpha(x, y) == 0) ||
                    (!seeThrough && pixel(file, x, y) != pixel(shown, x, y)))
                    ++differing;
            }
        EXPECT_EQ(differing, 0);
    }
    // And the toolkit hands all four to the window manager.
    GList* list = gtk_window_get_icon_list(GTK_WINDOW(w.frame->GetHandle()));
    EXPECT_EQ(g_list_length(list), 4u);
    g_list_free(list);
}

TEST(Frame, MenuBarHasEveryItemWithItsIdAndHelp) {
    Window w;
    wxMenuBar* mb = w.frame->GetMenuBar();
    ASSERT_EQ(mb, w.frame->mb);
    ASSERT_EQ(mb->GetMenuCount(), 5u);
    const char* titles[] = {"File", "Generate", "Zoom", "Tool", "Help"};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(mb->GetMenuLabelText(k), titles[k]);
    expectItems(mb->GetMenu(0), {{101, "Clear map", "\tClears the map, and lets you spesify new size"},
                                 {102, "New Window", "Opens new map window (keeping this one intact)"},
                                 {103, "Load map", " \tLets you select a new map to load in this window"},
                                 {104, "Save map", " \tLets you write the present map to disk"},
                                 {105, "Close Window", "Closes this window"},
                                 {106, "Exit", "\tQuits the program"}});
    expectItems(mb->GetMenu(1), {{108, "Set parameters", "Lets you set parameters for generation"},
                                 {109, "Start generation", "Generate using set parameters (creates new window in end)"}});
    expectZoomMenu(mb->GetMenu(2));
    expectToolMenu(mb->GetMenu(3));
    expectItems(mb->GetMenu(4), {{146, "About", ""}});
}

TEST(Frame, PopupMenuCarriesTheSameToolAndZoomMenus) {
    Window w;
    wxMenu* popup = w.frame->hxmv->popupMenu();
    expectItems(popup, {{117, "Tool", ""}, {110, "Zoom", ""}});
    expectToolMenu(popup->FindItemByPosition(0)->GetSubMenu());
    expectZoomMenu(popup->FindItemByPosition(1)->GetSubMenu());
}

TEST(Frame, HighlightingAnItemShowsItsHelpInTheStatusBar) {
    Window w;
    wxMenuEvent event(wxEVT_MENU_HIGHLIGHT, 103);
    w.frame->ProcessWindowEvent(event);
    EXPECT_EQ(w.frame->GetStatusBar()->GetStatusText(0), " \tLets you select a new map to load in this window");
}

TEST(Frame, ZoomModeAndBrushCommandsActOnTheFramesView) {
    Window a, b;
    struct Row { int id; int zoom; int button; int mode; int tool; };
    const Row rows[] = {
        {111, 1, -1, 0, 0}, {112, 2, -1, 0, 0}, {113, 4, -1, 0, 0}, {114, 8, -1, 0, 0}, {115, 16, -1, 0, 0},
        {116, 32, -1, 0, 0},
        {119, -1, 0, 0, 0}, {120, -1, 0, 1, 0}, {121, -1, 0, 2, 0}, {122, -1, 0, 3, 0}, {123, -1, 0, 4, 0},
        {124, -1, 0, 5, 0}, {126, -1, 1, 0, 0}, {127, -1, 1, 1, 0}, {128, -1, 1, 2, 0}, {129, -1, 1, 3, 0},
        {130, -1, 1, 4, 0}, {131, -1, 1, 5, 0}, {133, -1, 2, 0, 0}, {134, -1, 2, 1, 0}, {135, -1, 2, 2, 0},
        {136, -1, 2, 3, 0}, {137, -1, 2, 4, 0}, {138, -1, 2, 5, 0},
        {140, -1, -1, 0, 1}, {141, -1, -1, 0, 2}, {142, -1, -1, 0, 4}, {143, -1, -1, 0, 8}, {144, -1, -1, 0, 16},
    };
    for (const Row& r : rows) {
        a.command(r.id);
        if (r.zoom >= 0) {
            EXPECT_EQ(a.frame->hxmv->zoom, r.zoom) << r.id;
        }
        if (r.button >= 0) {
            EXPECT_EQ(a.frame->hxmv->getMouse(r.button), r.mode) << r.id;
        }
        if (r.tool > 0) {
            EXPECT_EQ(a.frame->hxmv->getTool(), r.tool) << r.id;
        }
    }
    EXPECT_EQ(b.frame->hxmv->zoom, 8);
    EXPECT_EQ(b.frame->hxmv->getMouse(0), 0);
    EXPECT_EQ(b.frame->hxmv->getMouse(1), 1);
    EXPECT_EQ(b.frame->hxmv->getMouse(2), 5);
    EXPECT_EQ(b.frame->hxmv->getTool(), 1);
}

TEST(Frame, CommandsThatDoNothingChangeNothing) {
    Window w;
    const int before = frameCount();
    for (int id : {108, 109, 146}) w.command(id);
    EXPECT_EQ(frameCount(), before);
    EXPECT_EQ(w.frame->GetTitle(), "Tarven");
    EXPECT_EQ(w.frame->hxmv->xs(), 1);
}

// Opens the view's popup menu with a real right click and, once the menu is
// on screen, picks the item with the given id as a user would.
bool pickFromPopup(Window& w, int id) {
    wxMenu* popup = w.frame->hxmv->popupMenu();
    bool shown = false, picked = false;
    int ticks = 0;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (!gtk_widget_get_visible(popup->m_menu) && ++ticks < 6) return;
        shown = gtk_widget_get_visible(popup->m_menu);
        wxMenuItem* item = popup->FindItem(id);
        if (!item) return;
        gtk_menu_item_activate(GTK_MENU_ITEM(item->GetMenuItem()));
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(popup->m_menu));
        picked = true;
        timer.Stop();
    });
    timer.Start(50);
    wxUIActionSimulator sim;
    sim.MouseMove(w.frame->hxmv->ClientToScreen(wxPoint(30, 30)));
    pump(3);
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    waitFor([&] { return picked; }, 5000);
    timer.Stop();
    pump(5);
    return shown && picked;
}

TEST(Frame, PopupMenuPickReachesOnlyItsOwnFrame) {
    Window a, b;
    // Side by side, so that the pointer is over the first window's view.
    a.frame->Move(0, 0);
    b.frame->Move(650, 0);
    pump(5);
    ASSERT_TRUE(pickFromPopup(a, ID_ZOOM_16));
    EXPECT_EQ(a.frame->hxmv->zoom, 16);
    EXPECT_EQ(b.frame->hxmv->zoom, 8);
    ASSERT_TRUE(pickFromPopup(a, ID_SIZE_8));
    EXPECT_EQ(a.frame->hxmv->getTool(), 8);
    EXPECT_EQ(b.frame->hxmv->getTool(), 1);
    // Giving the right button another mode means it no longer opens the menu.
    ASSERT_TRUE(pickFromPopup(a, ID_RMB + 4));
    EXPECT_EQ(a.frame->hxmv->getMouse(2), MODE_ZOOM_IN);
    EXPECT_EQ(b.frame->hxmv->getMouse(2), MODE_POPUP);
    EXPECT_FALSE(pickFromPopup(a, ID_ZOOM_1));
    EXPECT_EQ(a.frame->hxmv->zoom, 17) << "the right button zoomed in instead";
}

TEST(Frame, ClearMapReadsDimensions) {
    struct Row { const char* input; int cols; int rows; const char* error; };
    const Row rows[] = {
        {"500x200", 500, 200, nullptr},
        {"500,200", 500, 200, nullptr},
        {" 500x 200", 500, 200, nullptr},
        {"500x200 and more", 500, 200, nullptr},
        {"1x1", 1, 1, nullptr},
        {"1000x1000", 1000, 1000, nullptr},
        {"500 x200", 0, 0, "Error: Unable to comprehend input"},
        {"", 0, 0, "Error: Unable to comprehend input"},
        {"x", 0, 0, "Error: Unable to comprehend input"},
        {"0x100", 0, 0, "Error: Invalid dimensions (1x1 to 1000x1000)"},
        {"1001x5", 0, 0, "Error: Invalid dimensions (1x1 to 1000x1000)"},
        {"-3x4", 0, 0, "Error: Invalid dimensions (1x1 to 1000x1000)"},
        {"99999999999x1", 0, 0, "Error: Invalid dimensions (1x1 to 1000x1000)"},
    };
    Window w;
    for (const Row& r : rows) {
        w.frame->hxmv->resize(7, 3, true);
        wxString title, initial, message, boxTitle;
        if (r.error) {
            wxTEST_DIALOG(w.command(ID_CLEAR_MAP),
                          wxExpectModal<wxTextEntryDialog>(r.input, wxID_OK, &title, &initial),
                          ExpectMessage(&message, &boxTitle));
            EXPECT_EQ(message.ToStdString(), r.error) << r.input;
            EXPECT_EQ(boxTitle, "Tarven");
            EXPECT_EQ(w.frame->hxmv->xs(), 7) << r.input;
            EXPECT_EQ(w.frame->hxmv->ys(), 3) << r.input;
        } else {
            wxTEST_DIALOG(w.command(ID_CLEAR_MAP),
                          wxExpectModal<wxTextEntryDialog>(r.input, wxID_OK, &title, &initial));
            EXPECT_EQ(w.frame->hxmv->xs(), r.cols) << r.input;
            EXPECT_EQ(w.frame->hxmv->ys(), r.rows) << r.input;
        }
        EXPECT_EQ(title, "Clear map");
        EXPECT_EQ(initial, "7x3") << "the present size, columns first";
    }
}

// The real dialog, shown: its field offers the present size, all of it
// selected, so that typing replaces it.
TEST(Frame, ClearMapOffersThePresentSizeSelected) {
    Window w;
    w.frame->hxmv->resize(200, 150, true);
    wxString value;
    long from = -1, to = -1;
    bool shown = false;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* t : wxTopLevelWindows) {
            auto* d = dynamic_cast<wxTextEntryDialog*>(t);
            if (!d || !d->IsModal()) continue;
            for (wxWindow* c : d->GetChildren())
                if (auto* text = dynamic_cast<wxTextCtrl*>(c)) {
                    value = text->GetValue();
                    text->GetSelection(&from, &to);
                }
            shown = true;
            d->EndModal(wxID_CANCEL);
            timer.Stop();
        }
    });
    timer.Start(100);
    w.command(ID_CLEAR_MAP);
    waitFor([&] { return shown; }, 5000);
    timer.Stop();
    ASSERT_TRUE(shown);
    EXPECT_EQ(value, "200x150");
    EXPECT_EQ(from, 0);
    EXPECT_EQ(to, 7);
    EXPECT_EQ(w.frame->hxmv->xs(), 200);
}

TEST(Frame, ClearMapWithTheSameSizeKeepsCellsAndCancelKeepsAll) {
    Window w;
    w.frame->hxmv->resize(20, 10, true);
    w.frame->hxmv->st(4, 5, '#');
    wxTEST_DIALOG(w.command(ID_CLEAR_MAP), wxExpectModal<wxTextEntryDialog>("20x10"));
    EXPECT_EQ(w.frame->hxmv->t(4, 5), '#');
    wxTEST_DIALOG(w.command(ID_CLEAR_MAP), wxExpectModal<wxTextEntryDialog>("30x10", wxID_CANCEL));
    EXPECT_EQ(w.frame->hxmv->xs(), 20);
    wxTEST_DIALOG(w.command(ID_CLEAR_MAP), wxExpectModal<wxTextEntryDialog>("21x10"));
    EXPECT_EQ(w.frame->hxmv->xs(), 21);
    EXPECT_EQ(w.frame->hxmv->t(4, 5), '?');
}

TEST(Frame, LoadMapSetsTitleAndFailureKeepsTheWindowAsItWas) {
    TempDir dir;
    writeFile(dir.path("a.map"), "2 3\n.0#1=2\n~0~1^9\n");
    writeFile(dir.path("broken.map"), "2 3\n.0#1=2\n");
    Window w, other;
    other.frame->hxmv->resize(5, 5, true);
    wxTEST_DIALOG(w.command(ID_LOAD_MAP), ExpectFile(dir.path("a.map")));
    EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + dir.path("a.map"));
    EXPECT_EQ(w.frame->hxmv->xs(), 3);
    EXPECT_EQ(w.frame->hxmv->t(2, 1), '^');

    w.frame->hxmv->setZoom(20);
    wxString message;
    testing::internal::CaptureStdout();
    wxTEST_DIALOG(w.command(ID_LOAD_MAP), ExpectFile(dir.path("broken.map")), ExpectMessage(&message));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(message.ToStdString() + "\n", printed);
    EXPECT_NE(message.Find("Too early EOF (1<->2)"), wxNOT_FOUND);
    EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + dir.path("a.map"));
    EXPECT_EQ(w.frame->hxmv->zoom, 20);
    EXPECT_EQ(w.frame->hxmv->t(2, 1), '^');
    EXPECT_EQ(other.frame->hxmv->xs(), 5);

    wxTEST_DIALOG(w.command(ID_LOAD_MAP), ExpectFile(dir.path("a.map"), wxID_CANCEL));
    EXPECT_EQ(w.frame->hxmv->zoom, 20);
}

TEST(Frame, SaveMapWritesTheFileAndSetsTheTitle) {
    TempDir dir;
    Window w;
    w.frame->hxmv->resize(3, 2, true);
    w.frame->hxmv->st(0, 0, ' ');
    w.frame->hxmv->st(1, 0, '#');
    w.frame->hxmv->se(1, 0, 1);
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile(dir.path("out.map")));
    EXPECT_EQ(readFile(dir.path("out.map")), "2 3\n.0#1?0\n?0?0?0\n");
    EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + dir.path("out.map"));
}

// The naming rule itself is tabled in the model tests.
TEST(Frame, SaveAddsTheMapExtensionToANameWithoutOne) {
    TempDir dir;
    Window w;
    w.frame->hxmv->resize(2, 1, true);
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile(dir.path("mycampaign")));
    EXPECT_EQ(readFile(dir.path("mycampaign.map")), "1 2\n?0?0\n");
    EXPECT_FALSE(wxFileExists(dir.path("mycampaign")));
    EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + dir.path("mycampaign.map"));
}

TEST(Frame, SaveToAnUnwritablePlaceKeepsTheOldFileAndTitle) {
    TempDir dir;
    const std::string target = dir.path("keep.map");
    writeFile(target, "1 1\n#0\n");
    Window w;
    // A directory where the file should be cannot be replaced.
    wxString message;
    testing::internal::CaptureStdout();
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile(dir.dir()), ExpectMessage(&message));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(w.frame->GetTitle(), "Tarven");
    // A file under a folder that cannot be written.
    message.clear();
    testing::internal::CaptureStdout();
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile("/proc/tarven.map"), ExpectMessage(&message));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(message, "Unable to open the map file!");
    EXPECT_EQ(w.frame->GetTitle(), "Tarven");
    EXPECT_EQ(readFile(target), "1 1\n#0\n");
}

TEST(Frame, NewWindowAndCloseWindow) {
    Window w;
    const int before = frameCount();
    w.command(ID_NEW_WINDOW);
    EXPECT_EQ(frameCount(), before + 1);
    TarvenFrame* added = nullptr;
    for (wxWindow* t : wxTopLevelWindows)
        if (auto* f = dynamic_cast<TarvenFrame*>(t); f && f != w.frame && f->IsShown() && f->GetTitle() == "Tarven")
            added = f;
    ASSERT_NE(added, nullptr);
    EXPECT_NE(added->hxmv, w.frame->hxmv);
    EXPECT_NE(added->tb, w.frame->tb);
    wxCommandEvent close(wxEVT_MENU, ID_CLOSE_WINDOW);
    added->ProcessWindowEvent(close);
    pump(5);
    EXPECT_EQ(frameCount(), before);
    EXPECT_TRUE(w.frame->IsShown());
}

TEST(Frame, ViewFillsTheClientAreaAfterAResize) {
    Window w;
    for (wxSize size : {wxSize(800, 600), wxSize(500, 400), wxSize(1000, 300)}) {
        w.frame->SetSize(size);
        pump(5);
        waitFor([&] { return w.frame->hxmv->GetSize() == w.frame->GetClientSize(); });
        EXPECT_EQ(w.frame->hxmv->GetPosition(), wxPoint(0, 0));
        EXPECT_EQ(w.frame->hxmv->GetSize(), w.frame->GetClientSize());
    }
}

namespace {

// Screen position of the centre of a shown GTK widget.
wxPoint widgetCentre(GtkWidget* widget) {
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(widget, top, a.width / 2, a.height / 2, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
    return wxPoint(ox + x, oy + y);
}

}  // namespace

TEST(Frame, BannerComesBackAfterMenusPopupsAndDialogs) {
    Window w;
    wxStatusBar* bar = w.frame->GetStatusBar();
    const std::string banner = kTarvenBanner;
    // Menu events in the orders GTK delivers them.
    struct Ev { wxEventType type; int id; };
    const wxEventType H = wxEVT_MENU_HIGHLIGHT, O = wxEVT_MENU_OPEN, C = wxEVT_MENU_CLOSE;
    struct Row { const char* name; std::vector<Ev> events; };
    const Row rows[] = {
        {"item left, then menu closed", {{O, 0}, {H, ID_CLEAR_MAP}, {H, wxID_NONE}, {C, 0}}},
        {"item left after its menu closed", {{O, 0}, {H, ID_NEW_WINDOW}, {C, 0}, {H, wxID_NONE}}},
        {"item without help", {{O, 0}, {H, ID_ABOUT}}},
        {"popup's submenu closed before its item is left",
         {{O, -1}, {H, ID_POPUP_ZOOM}, {O, 0}, {H, ID_ZOOM_2}, {C, 0}, {H, wxID_NONE}}},
        {"highlight arriving after the close", {{O, 0}, {C, 0}, {H, ID_LOAD_MAP}}},
        {"second menu after an odd first one", {{O, 0}, {H, wxID_NONE}, {C, 0}, {O, 0}, {H, ID_EXIT}, {C, 0}}},
    };
    for (const Row& r : rows) {
        for (const Ev& e : r.events) {
            wxMenuEvent event(e.type, e.id, w.frame->mb->GetMenu(0));
            w.frame->ProcessWindowEvent(event);
        }
        pump(2);
        EXPECT_EQ(bar->GetStatusText(0).ToStdString(), banner) << r.name;
    }

    // A real menu and its dialog: File, then "Clear map", whose dialog is
    // cancelled as soon as it shows.
    w.frame->Move(0, 0);
    pump(5);
    wxUIActionSimulator sim;
    GtkWidget* menuBar = static_cast<GtkWidget*>(w.frame->mb->GetHandle());
    GList* titles = gtk_container_get_children(GTK_CONTAINER(menuBar));
    ASSERT_NE(titles, nullptr);
    const wxPoint file = widgetCentre(GTK_WIDGET(titles->data));
    g_list_free(titles);
    sim.MouseMove(file);
    pump(3);
    sim.MouseClick();
    GtkWidget* clear = w.frame->mb->FindItem(ID_CLEAR_MAP)->GetMenuItem();
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(clear); }));
    sim.MouseMove(widgetCentre(clear));
    EXPECT_TRUE(waitFor([&] { return bar->GetStatusText(0).ToStdString() != banner; })) << "the item's help shows";
    bool dialogShown = false;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* t : wxTopLevelWindows)
            if (auto* d = dynamic_cast<wxDialog*>(t); d && d->IsModal()) {
                dialogShown = true;
                d->EndModal(wxID_CANCEL);
                timer.Stop();
            }
    });
    timer.Start(50);
    sim.MouseClick();
    waitFor([&] { return dialogShown; }, 5000);
    timer.Stop();
    pump(10);
    EXPECT_TRUE(dialogShown);
    EXPECT_EQ(bar->GetStatusText(0).ToStdString(), banner);
}
