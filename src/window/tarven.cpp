#include "tarven.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <signal.h>

#include <wx/dcclient.h>
#include <wx/filedlg.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/stopwatch.h>
#include <wx/textdlg.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

#include "cellreadout.h"
#include "dimensions.h"
#include "filemessage.h"
#include "savename.h"
#include "windowicons.h"

const char* const kTarvenBanner = "Tarven v0.3 - hexagonal terrain maps, painted by hand";

namespace {

const char* const kModeLabels[6] = {"Terrain", "Elevation", "Elevation+Terrain", "Zoom(in)", "Zoom(out)", "Popup"};
const char* const kMapFilter = "VORKAL Map files (*.map) | *.map";

// The text entry dialog of Clear map, its initial text selected.
class SizeEntryDialog : public wxTextEntryDialog {
public:
    SizeEntryDialog(wxWindow* parent, const wxString& prompt, const wxString& title, const wxString& value)
        : wxTextEntryDialog(parent, prompt, title, value, wxOK | wxCANCEL | wxCENTRE) {}

    bool TransferDataToWindow() override {
        const bool ok = wxTextEntryDialog::TransferDataToWindow();
        if (m_textctrl) m_textctrl->SelectAll();
        return ok;
    }
};

wxMenu* makeModeMenu(int firstId) {
    auto* menu = new wxMenu;
    for (int k = 0; k < 6; ++k) menu->Append(firstId + k, kModeLabels[k], "");
    return menu;
}

// Follows a map load: once it has run for longer than `delayMs`, a dialog
// shows the file's name and the share read, with a Cancel button. Its
// updates let the toolkit handle events, so other windows keep painting
// while the load runs on this thread.
class LoadProgress {
public:
    LoadProgress(wxWindow* parent, const wxString& path, long delayMs)
        : parent(parent), name(wxFileName(path).GetFullName()), delayMs(delayMs) {}

    bool update(std::uint64_t done, std::uint64_t total) {
        if (!dialog && clock.Time() < delayMs) return true;
        const int permille = total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(999, done * 1000 / total));
        const wxString message = wxString::Format("Reading %s: %d%%", name, permille / 10);
        if (!dialog) {
            dialog = std::make_unique<wxProgressDialog>("Loading map", message, 1000, parent,
                                                        wxPD_CAN_ABORT | wxPD_APP_MODAL | wxPD_ELAPSED_TIME |
                                                            wxPD_REMAINING_TIME);
        }
        if (!dialog->Update(permille, message) || dialog->WasCancelled()) cancelled = true;
        return !cancelled;
    }

    bool wasCancelled() const { return cancelled; }

private:
    wxWindow* parent;
    wxString name;
    long delayMs;
    wxStopWatch clock;
    std::unique_ptr<wxProgressDialog> dialog;
    bool cancelled = false;
};

}  // namespace

wxMenu* makeZoomMenu() {
    auto* menu = new wxMenu;
    menu->Append(ID_ZOOM_1, "1", "\tHex = 1 pixel");
    menu->Append(ID_ZOOM_2, "2", "\tHex = 2 pixels");
    menu->Append(ID_ZOOM_4, "4", "\tHex = 4 pixels");
    menu->Append(ID_ZOOM_8, "8", "\tHex = 8 pixels");
    menu->Append(ID_ZOOM_16, "16", "\tHex = 16 pixels");
    menu->Append(ID_ZOOM_32, "32", "\tHex = 32 pixels");
    return menu;
}

wxMenu* makeToolMenu() {
    auto* size = new wxMenu;
    size->Append(ID_SIZE_1, "1", "Use \"brush radius\" of 1 hex");
    size->Append(ID_SIZE_2, "2", "Use \"brush radius\" of 2 hexes");
    size->Append(ID_SIZE_4, "4", "");
    size->Append(ID_SIZE_8, "8", "");
    size->Append(ID_SIZE_16, "16", "");

    auto* tool = new wxMenu;
    tool->Append(ID_LMB, "LMB", makeModeMenu(ID_LMB + 1), "");
    tool->Append(ID_MMB, "MMB", makeModeMenu(ID_MMB + 1), "");
    tool->Append(ID_RMB, "RMB", makeModeMenu(ID_RMB + 1), "");
    tool->Append(ID_SIZE, "Size", size, "");
    return tool;
}

// ---------------------------------------------------------------------------
// WrappedHxMapView

wxIMPLEMENT_DYNAMIC_CLASS(WrappedHxMapView, HxMapView);

wxBEGIN_EVENT_TABLE(WrappedHxMapView, HxMapView)
    EVT_LEFT_UP(WrappedHxMapView::onMouseLeftUp)
    EVT_MIDDLE_UP(WrappedHxMapView::onMouseMiddleUp)
    EVT_RIGHT_UP(WrappedHxMapView::onMouseRightUp)
    EVT_MOTION(WrappedHxMapView::onMouseMotion)
    EVT_LEAVE_WINDOW(WrappedHxMapView::onMouseLeave)
    EVT_SCROLLWIN(WrappedHxMapView::onScroll)
    EVT_MOUSEWHEEL(WrappedHxMapView::onMouseWheel)
wxEND_EVENT_TABLE()

WrappedHxMapView::WrappedHxMapView() { buildMenus(); }

WrappedHxMapView::WrappedHxMapView(int xs, int ys, wxWindow* parent, int i, const wxPoint& pos,
                                   const wxSize& size)
    : HxMapView(xs, ys, parent, i, pos, size) {
    buildMenus();
}

WrappedHxMapView::WrappedHxMapView(const char* filename, wxWindow* parent, int i, const wxPoint& pos,
                                   const wxSize& size)
    : HxMapView(filename, parent, i, pos, size) {
    buildMenus();
}

WrappedHxMapView::~WrappedHxMapView() = default;

void WrappedHxMapView::resetMouseToDefaults() {
    setMouse(0, MODE_TERRAIN);
    setMouse(1, MODE_ELEVATION);
    setMouse(2, MODE_POPUP);
}

void WrappedHxMapView::buildMenus() {
    resetMouseToDefaults();
    popup_menu = std::make_unique<wxMenu>();
    popup_menu->Append(ID_POPUP_TOOL, "Tool", makeToolMenu(), "");
    popup_menu->Append(ID_POPUP_ZOOM, "Zoom", makeZoomMenu(), "");
    setTool(1);
}

void WrappedHxMapView::onMouseLeftUp(wxMouseEvent& event) { generalMouseUp(0, event); }
void WrappedHxMapView::onMouseMiddleUp(wxMouseEvent& event) { generalMouseUp(1, event); }
void WrappedHxMapView::onMouseRightUp(wxMouseEvent& event) { generalMouseUp(2, event); }

void WrappedHxMapView::onMouseMotion(wxMouseEvent& event) {
    if (event.LeftIsDown()) onMouseLeftUp(event);
    if (event.MiddleIsDown()) onMouseMiddleUp(event);
    if (event.RightIsDown()) onMouseRightUp(event);
    // After any painting, so that the readout shows the cell as it is now.
    showCellAt(event.GetPosition());
}

void WrappedHxMapView::onMouseLeave(wxMouseEvent& event) {
    if (auto* fr = dynamic_cast<TarvenFrame*>(GetParent())) fr->showNoCell();
    event.Skip();
}

// Scrolling moves another cell under a pointer that stays where it is.
void WrappedHxMapView::onScroll(wxScrollWinEvent& event) {
    event.Skip();
    CallAfter(&WrappedHxMapView::showCellUnderPointer);
}

void WrappedHxMapView::onMouseWheel(wxMouseEvent& event) {
    event.Skip();
    CallAfter(&WrappedHxMapView::showCellUnderPointer);
}

void WrappedHxMapView::showCellUnderPointer() {
    const wxPoint p = ScreenToClient(wxGetMousePosition());
    if (wxRect(GetClientSize()).Contains(p)) {
        showCellAt(p);
    } else if (auto* fr = dynamic_cast<TarvenFrame*>(GetParent())) {
        fr->showNoCell();
    }
}

void WrappedHxMapView::showCellAt(const wxPoint& p) {
    auto* fr = dynamic_cast<TarvenFrame*>(GetParent());
    if (!fr) return;
    int x = 0, y = 0;
    if (getHexFromImage(p.x, p.y, x, y))
        fr->showCell(x, y);
    else
        fr->showNoCell();
}

void WrappedHxMapView::generalMouseUp(int but, wxMouseEvent& event) {
    wxPoint p;
    {
        // The device context has no scroll origin, so this is the pointer
        // in client pixels. It is closed again before the action: a popup
        // menu does not open while one is held.
        wxClientDC dc(this);
        p = event.GetLogicalPosition(dc);
    }
    mouseAction(p.x, p.y, but);
    // A popup menu has just closed and put the banner back; the readout
    // returns with the next motion.
    if (getMouse(but) != MODE_POPUP) showCellAt(p);
}

void WrappedHxMapView::mouseAction(int x, int y, int but) {
    auto* fr = dynamic_cast<TarvenFrame*>(GetParent());
    if (!fr || !fr->tb) return;
    elev = fr->tb->elev;
    terr = fr->tb->terr;
    switch (getMouse(but)) {
    case MODE_POPUP:
        PopupMenu(popup_menu.get(), x, y);
        return;
    case MODE_ZOOM_IN:
        setZoom(zoom + 1);
        return;
    case MODE_ZOOM_OUT:
        setZoom(zoom - 1);
        return;
    default:
        break;
    }
    int dx = 0, dy = 0;
    if (!getHexFromImage(x, y, dx, dy)) return;
    brushPass(dx, dy, but);
}

void WrappedHxMapView::brushPass(int dx, int dy, int but) {
    const int toolsiz = toolsize > 16 ? 16 : (toolsize < 1 ? 1 : toolsize);
    const long max = static_cast<long>(toolsize) * toolsize;
    // Changed cells are repainted together when the pass ends.
    beginRepaintBatch();
    for (int i = dx - toolsiz; i <= dx + toolsiz; ++i) {
        for (int j = dy - toolsiz; j <= dy + toolsiz; ++j) {
            const long d = static_cast<long>(i - dx) * (i - dx) + static_cast<long>(j - dy) * (j - dy);
            if (d >= max) continue;
            const long roll = random() % 100 + 1;
            const int f = static_cast<int>((d * 100) / max);
            if (roll < f) continue;
            const int el = e(i, j);
            const int ne = ((100 - f) * (elev - el)) / 100 + el;
            const int mode = getMouse(but);
            const bool terrainStep = mode == MODE_TERRAIN || mode == MODE_ELEVATION_TERRAIN;
            const bool elevationStep = mode == MODE_ELEVATION || mode == MODE_ELEVATION_TERRAIN;
            if (terrainStep && terr >= 0 && t(i, j) != static_cast<char>(terr)) st(i, j, terr);
            if (elevationStep && elev >= 0 && e(i, j) != ne) se(i, j, ne);
        }
    }
    endRepaintBatch();
}

// ---------------------------------------------------------------------------
// TarvenFrame

wxIMPLEMENT_DYNAMIC_CLASS(TarvenFrame, wxFrame);

wxBEGIN_EVENT_TABLE(TarvenFrame, wxFrame)
    EVT_SIZE(TarvenFrame::onSize)
    EVT_MENU_CLOSE(TarvenFrame::onMenuClose)
    EVT_MENU(ID_CLEAR_MAP, TarvenFrame::onMenuClear_map)
    EVT_MENU(ID_NEW_WINDOW, TarvenFrame::onMenuNew_Window)
    EVT_MENU(ID_LOAD_MAP, TarvenFrame::onMenuLoad_map)
    EVT_MENU(ID_SAVE_MAP, TarvenFrame::onMenuSave_map)
    EVT_MENU(ID_CLOSE_WINDOW, TarvenFrame::onMenuClose_Window)
    EVT_MENU(ID_EXIT, TarvenFrame::onMenuExit)
    EVT_MENU(ID_SET_PARAMETERS, TarvenFrame::onMenuSet_parameters)
    EVT_MENU(ID_START_GENERATION, TarvenFrame::onMenuStart_generation)
    EVT_MENU(ID_ZOOM_1, TarvenFrame::onMenu1)
    EVT_MENU(ID_ZOOM_2, TarvenFrame::onMenu2)
    EVT_MENU(ID_ZOOM_4, TarvenFrame::onMenu4)
    EVT_MENU(ID_ZOOM_8, TarvenFrame::onMenu8)
    EVT_MENU(ID_ZOOM_16, TarvenFrame::onMenu16)
    EVT_MENU(ID_ZOOM_32, TarvenFrame::onMenu32)
    EVT_MENU(ID_LMB + 1, TarvenFrame::onMenuTerrain)
    EVT_MENU(ID_LMB + 2, TarvenFrame::onMenuElevation)
    EVT_MENU(ID_LMB + 3, TarvenFrame::onMenuElevationTerrain)
    EVT_MENU(ID_LMB + 4, TarvenFrame::onMenuZoomin)
    EVT_MENU(ID_LMB + 5, TarvenFrame::onMenuZoomout)
    EVT_MENU(ID_LMB + 6, TarvenFrame::onMenuPopup)
    EVT_MENU(ID_MMB + 1, TarvenFrame::onMenuTerrain2)
    EVT_MENU(ID_MMB + 2, TarvenFrame::onMenuElevation2)
    EVT_MENU(ID_MMB + 3, TarvenFrame::onMenuElevationTerrain2)
    EVT_MENU(ID_MMB + 4, TarvenFrame::onMenuZoomin2)
    EVT_MENU(ID_MMB + 5, TarvenFrame::onMenuZoomout2)
    EVT_MENU(ID_MMB + 6, TarvenFrame::onMenuPopup2)
    EVT_MENU(ID_RMB + 1, TarvenFrame::onMenuTerrain3)
    EVT_MENU(ID_RMB + 2, TarvenFrame::onMenuElevation3)
    EVT_MENU(ID_RMB + 3, TarvenFrame::onMenuElevationTerrain3)
    EVT_MENU(ID_RMB + 4, TarvenFrame::onMenuZoomin3)
    EVT_MENU(ID_RMB + 5, TarvenFrame::onMenuZoomout3)
    EVT_MENU(ID_RMB + 6, TarvenFrame::onMenuPopup3)
    EVT_MENU(ID_SIZE_1, TarvenFrame::onMenu12)
    EVT_MENU(ID_SIZE_2, TarvenFrame::onMenu22)
    EVT_MENU(ID_SIZE_4, TarvenFrame::onMenu42)
    EVT_MENU(ID_SIZE_8, TarvenFrame::onMenu82)
    EVT_MENU(ID_SIZE_16, TarvenFrame::onMenu162)
    EVT_MENU(ID_ABOUT, TarvenFrame::onMenuAbout)
wxEND_EVENT_TABLE()

TarvenFrame::TarvenFrame() : wxFrame(nullptr, -1, "Tarven", wxDefaultPosition, wxSize(640, 480)) {
    CreateStatusBar(1);
    hxmv = new WrappedHxMapView(1, 1, this, -1, wxDefaultPosition, wxDefaultSize);

    mb = new wxMenuBar;
    auto* file = new wxMenu;
    file->Append(ID_CLEAR_MAP, "Clear map", "\tClears the map, and lets you spesify new size");
    file->Append(ID_NEW_WINDOW, "New Window", "Opens new map window (keeping this one intact)");
    file->Append(ID_LOAD_MAP, "Load map", " \tLets you select a new map to load in this window");
    file->Append(ID_SAVE_MAP, "Save map", " \tLets you write the present map to disk");
    file->Append(ID_CLOSE_WINDOW, "Close Window", "Closes this window");
    file->Append(ID_EXIT, "Exit", "\tQuits the program");
    auto* generate = new wxMenu;
    generate->Append(ID_SET_PARAMETERS, "Set parameters", "Lets you set parameters for generation");
    generate->Append(ID_START_GENERATION, "Start generation",
                     "Generate using set parameters (creates new window in end)");
    auto* help = new wxMenu;
    help->Append(ID_ABOUT, "About", "");
    mb->Append(file, "File");
    mb->Append(generate, "Generate");
    mb->Append(makeZoomMenu(), "Zoom");
    mb->Append(makeToolMenu(), "Tool");
    mb->Append(help, "Help");
    SetMenuBar(mb);

    showBanner();
    CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT, -1);
    setIcons();
    ignoreSizeWhileHidden();
}

wxToolBar* TarvenFrame::OnCreateToolBar(long style, wxWindowID, const wxString&) {
    tb = new HxToolBar(this, static_cast<int>(style));
    return tb;
}

void TarvenFrame::onSize(wxSizeEvent&) {
    int w = 0, h = 0;
    GetClientSize(&w, &h);
    if (hxmv) hxmv->SetSize(0, 0, w, h, wxSIZE_AUTO);
}

void TarvenFrame::setIcons() { SetIcons(tarvenIcons()); }

void TarvenFrame::ignoreSizeWhileHidden() {
#ifdef __WXGTK__
    // On its first showing under a window manager, the toolkit realizes the
    // window at 2 x 1 pixels while it waits for the size of the window
    // manager's frame. GTK would lay the menu bar and toolbar out in that
    // size, with warnings on standard error. A window that is not shown yet
    // has nothing to lay out: its size is taken when it is shown.
    gboolean (*onConfigure)(GtkWidget*, GdkEventConfigure*, gpointer) = [](GtkWidget* window, GdkEventConfigure*,
                                                                         gpointer) -> gboolean {
        return !gtk_widget_get_visible(window);
    };
    g_signal_connect(GetHandle(), "configure-event", G_CALLBACK(onConfigure), nullptr);
#endif
}

void TarvenFrame::showBanner() {
    status = Status::Banner;
    if (GetStatusBar()) SetStatusText(kTarvenBanner, 0);
}

void TarvenFrame::showCell(int x, int y) {
    if (status == Status::Help || !GetStatusBar() || !hxmv) return;
    const ShownCell cell{x, y, hxmv->t(x, y), hxmv->e(x, y)};
    if (status == Status::Cell && cell == shownCell) return;
    SetStatusText(wxString::FromUTF8(cellReadout(x, y, cell.t, cell.e, hxmv->wts, hxmv->xs(), hxmv->ys())), 0);
    status = Status::Cell;
    shownCell = cell;
}

void TarvenFrame::showNoCell() {
    if (status == Status::Cell) showBanner();
}

// The toolkit's own version saves the status text when a menu opens and puts
// it back when the menu closes, unless the text changed meanwhile. GTK can
// send an item's deselection after its menu has closed (a popup's submenu
// closes before its last item is left), and that left the status bar empty.
// Here nothing is saved: the text follows from the help alone.
void TarvenFrame::DoGiveHelp(const wxString& help, bool show) {
    if (!GetStatusBar()) return;
    if (show && !help.empty()) {
        SetStatusText(help, 0);
        status = Status::Help;
    } else {
        showBanner();
    }
}

void TarvenFrame::onMenuClose(wxMenuEvent&) {
    showBanner();
    // Highlight events of the closed menu may still be queued behind this
    // one; the banner comes back after them as well.
    CallAfter(&TarvenFrame::showBanner);
}

void TarvenFrame::showError(const wxString& message) {
    wxMessageDialog dialog(this, message, "Tarven", wxOK | wxCENTRE);
    dialog.ShowModal();
}

void TarvenFrame::onMenuClear_map(wxCommandEvent&) {
    // The field starts with the present size, all selected, so that typing
    // replaces it.
    SizeEntryDialog dialog(this, "Please enter new map's dimensions (for example, 500x200)", "Clear map",
                           wxString::Format("%dx%d", hxmv->xs(), hxmv->ys()));
    if (dialog.ShowModal() != wxID_OK) return;
    int x = 0, y = 0;
    switch (parseDimensions(dialog.GetValue().ToStdString(), x, y)) {
    case DimensionsResult::Unreadable:
        showError("Error: Unable to comprehend input");
        return;
    case DimensionsResult::OutOfRange:
        showError("Error: Invalid dimensions (1x1 to 1000x1000)");
        return;
    case DimensionsResult::Ok:
        hxmv->resize(x, y, true);
        return;
    }
}

void TarvenFrame::onMenuNew_Window(wxCommandEvent&) { (new TarvenFrame)->Show(true); }

void TarvenFrame::onMenuLoad_map(wxCommandEvent&) {
    const wxString path = wxFileSelector("Select map to load", "", "", "", kMapFilter, wxFD_OPEN, nullptr);
    if (path.empty()) return;
    bool ok = false;
    bool cancelled = false;
    {
        LoadProgress progress(this, path, loadProgressDelayMs);
        LoadHooks hooks;
        hooks.progress = [&progress](std::uint64_t done, std::uint64_t total) { return progress.update(done, total); };
        ok = hxmv->loadMap(path.fn_str(), true, hooks);
        cancelled = progress.wasCancelled();
    }
    // A cancelled load leaves the window as it was, with nothing to tell.
    if (cancelled) return;
    if (!ok) {
        showError(fileMessage(hxmv->lastError()));
        return;
    }
    SetTitle("Tarven - " + path);
}

void TarvenFrame::onMenuSave_map(wxCommandEvent&) {
    const wxString chosen =
        wxFileSelector("Select file to save to", "", "", "map", kMapFilter, wxFD_SAVE, nullptr);
    if (chosen.empty()) return;
    // The selector's default extension is not added by every toolkit: a name
    // without one gets ".map" here, so that Load map's filter shows it. A
    // folder is left as chosen, for the save to refuse.
    wxString path = chosen;
    if (!wxDirExists(chosen)) {
        const wxCharBuffer bytes = chosen.fn_str();
        if (bytes.data()) path = wxString(withMapExtension(bytes.data()).c_str(), *wxConvFileName);
    }
    if (!hxmv->saveMap(path.fn_str())) {
        showError(fileMessage(hxmv->lastError()));
        return;
    }
    SetTitle("Tarven - " + path);
}

void TarvenFrame::onMenuClose_Window(wxCommandEvent&) { Destroy(); }

void TarvenFrame::onMenuExit(wxCommandEvent&) {
    std::fflush(stdout);
    std::exit(0);
}

void TarvenFrame::onMenuSet_parameters(wxCommandEvent&) {}
void TarvenFrame::onMenuStart_generation(wxCommandEvent&) {}
void TarvenFrame::onMenuAbout(wxCommandEvent&) {}

void TarvenFrame::onMenu1(wxCommandEvent&) { hxmv->setZoom(1); }
void TarvenFrame::onMenu2(wxCommandEvent&) { hxmv->setZoom(2); }
void TarvenFrame::onMenu4(wxCommandEvent&) { hxmv->setZoom(4); }
void TarvenFrame::onMenu8(wxCommandEvent&) { hxmv->setZoom(8); }
void TarvenFrame::onMenu16(wxCommandEvent&) { hxmv->setZoom(16); }
void TarvenFrame::onMenu32(wxCommandEvent&) { hxmv->setZoom(32); }

void TarvenFrame::onMenuTerrain(wxCommandEvent&) { hxmv->setMouse(0, MODE_TERRAIN); }
void TarvenFrame::onMenuElevation(wxCommandEvent&) { hxmv->setMouse(0, MODE_ELEVATION); }
void TarvenFrame::onMenuElevationTerrain(wxCommandEvent&) { hxmv->setMouse(0, MODE_ELEVATION_TERRAIN); }
void TarvenFrame::onMenuZoomin(wxCommandEvent&) { hxmv->setMouse(0, MODE_ZOOM_IN); }
void TarvenFrame::onMenuZoomout(wxCommandEvent&) { hxmv->setMouse(0, MODE_ZOOM_OUT); }
void TarvenFrame::onMenuPopup(wxCommandEvent&) { hxmv->setMouse(0, MODE_POPUP); }
void TarvenFrame::onMenuTerrain2(wxCommandEvent&) { hxmv->setMouse(1, MODE_TERRAIN); }
void TarvenFrame::onMenuElevation2(wxCommandEvent&) { hxmv->setMouse(1, MODE_ELEVATION); }
void TarvenFrame::onMenuElevationTerrain2(wxCommandEvent&) { hxmv->setMouse(1, MODE_ELEVATION_TERRAIN); }
void TarvenFrame::onMenuZoomin2(wxCommandEvent&) { hxmv->setMouse(1, MODE_ZOOM_IN); }
void TarvenFrame::onMenuZoomout2(wxCommandEvent&) { hxmv->setMouse(1, MODE_ZOOM_OUT); }
void TarvenFrame::onMenuPopup2(wxCommandEvent&) { hxmv->setMouse(1, MODE_POPUP); }
void TarvenFrame::onMenuTerrain3(wxCommandEvent&) { hxmv->setMouse(2, MODE_TERRAIN); }
void TarvenFrame::onMenuElevation3(wxCommandEvent&) { hxmv->setMouse(2, MODE_ELEVATION); }
void TarvenFrame::onMenuElevationTerrain3(wxCommandEvent&) { hxmv->setMouse(2, MODE_ELEVATION_TERRAIN); }
void TarvenFrame::onMenuZoomin3(wxCommandEvent&) { hxmv->setMouse(2, MODE_ZOOM_IN); }
void TarvenFrame::onMenuZoomout3(wxCommandEvent&) { hxmv->setMouse(2, MODE_ZOOM_OUT); }
void TarvenFrame::onMenuPopup3(wxCommandEvent&) { hxmv->setMouse(2, MODE_POPUP); }

void TarvenFrame::onMenu12(wxCommandEvent&) { hxmv->setTool(1); }
void TarvenFrame::onMenu22(wxCommandEvent&) { hxmv->setTool(2); }
void TarvenFrame::onMenu42(wxCommandEvent&) { hxmv->setTool(4); }
void TarvenFrame::onMenu82(wxCommandEvent&) { hxmv->setTool(8); }
void TarvenFrame::onMenu162(wxCommandEvent&) { hxmv->setTool(16); }

// ---------------------------------------------------------------------------
// TarvenApp

bool TarvenApp::OnInit() {
    // A save past the file size limit (ulimit -f) would otherwise end the
    // program with SIGXFSZ and every window's unsaved work with it; ignored,
    // the write fails with EFBIG and the save reports that it failed.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
    (new TarvenFrame)->Show(true);
    return true;
}
