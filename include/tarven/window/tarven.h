#ifndef TARVEN_TARVEN_H
#define TARVEN_TARVEN_H

#include <memory>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/menu.h>

#include "hxmapview.h"
#include "hxtoolbar.h"

// Menu command identifiers, shared by the frame's menu bar and the view's
// popup menu.
enum TarvenCommand {
    ID_CLEAR_MAP = 101, ID_NEW_WINDOW, ID_LOAD_MAP, ID_SAVE_MAP, ID_CLOSE_WINDOW, ID_EXIT,
    ID_SET_PARAMETERS = 108, ID_START_GENERATION,
    ID_POPUP_ZOOM = 110,
    ID_ZOOM_1 = 111, ID_ZOOM_2, ID_ZOOM_4, ID_ZOOM_8, ID_ZOOM_16, ID_ZOOM_32,
    ID_POPUP_TOOL = 117,
    ID_LMB = 118,                 // 119..124: its six modes
    ID_MMB = 125,                 // 126..131
    ID_RMB = 132,                 // 133..138
    ID_SIZE = 139,
    ID_SIZE_1 = 140, ID_SIZE_2, ID_SIZE_4, ID_SIZE_8, ID_SIZE_16,
    ID_ABOUT = 146,
};

// Mouse modes a button can carry.
enum MouseMode { MODE_TERRAIN = 0, MODE_ELEVATION, MODE_ELEVATION_TERRAIN, MODE_ZOOM_IN, MODE_ZOOM_OUT, MODE_POPUP };

// Builds the "Zoom" and "Tool" menus, item for item the same for the menu
// bar and the popup menu.
wxMenu* makeZoomMenu();
wxMenu* makeToolMenu();

// The map view of a window, with editing: each mouse button carries a mode,
// applied at the pointer on release and at every motion while held.
class WrappedHxMapView : public HxMapView {
public:
    WrappedHxMapView(int xs, int ys, wxWindow* parent, int i, const wxPoint& pos, const wxSize& size);
    WrappedHxMapView(const char* filename, wxWindow* parent, int i, const wxPoint& pos, const wxSize& size);
    WrappedHxMapView();
    ~WrappedHxMapView() override;

    void setMouse(int but, int val) { mouse[but] = val; }
    int getMouse(int but) const { return mouse[but]; }
    void setTool(int i) { toolsize = i; }
    int getTool() const { return toolsize; }
    void resetMouseToDefaults();
    wxMenu* popupMenu() const { return popup_menu.get(); }

    void onMouseLeftUp(wxMouseEvent& event);
    void onMouseMiddleUp(wxMouseEvent& event);
    void onMouseRightUp(wxMouseEvent& event);
    void onMouseMotion(wxMouseEvent& event);
    void onMouseLeave(wxMouseEvent& event);
    void onScroll(wxScrollWinEvent& event);
    void onMouseWheel(wxMouseEvent& event);
    void generalMouseUp(int but, wxMouseEvent& event);

    // Tells the frame which cell lies under the client pixel p (the one a
    // brush would paint there), or that there is none.
    void showCellAt(const wxPoint& p);

private:
    void buildMenus();
    void showCellUnderPointer();
    void mouseAction(int x, int y, int but);
    void brushPass(int dx, int dy, int but);

    std::unique_ptr<wxMenu> popup_menu;
    int mouse[3] = {MODE_TERRAIN, MODE_ELEVATION, MODE_POPUP};
    int elev = -1;
    int terr = -1;
    int toolsize = 1;

    wxDECLARE_DYNAMIC_CLASS(WrappedHxMapView);
    wxDECLARE_EVENT_TABLE();
};

// One map window: its view, drawing toolbar, menu bar and status bar.
class TarvenFrame : public wxFrame {
public:
    TarvenFrame();

    wxToolBar* OnCreateToolBar(long style, wxWindowID id, const wxString& name) override;
    void onSize(wxSizeEvent& event);
    void onMenuClose(wxMenuEvent& event);

    // The status bar's readout of the cell under the pointer: its column,
    // row, terrain and elevation. The text is set only when one of them
    // changes. A menu item's help, while shown, is not replaced.
    void showCell(int x, int y);
    // No cell under the pointer: the banner comes back.
    void showNoCell();

    void onMenuClear_map(wxCommandEvent& event);
    void onMenuNew_Window(wxCommandEvent& event);
    void onMenuLoad_map(wxCommandEvent& event);
    void onMenuSave_map(wxCommandEvent& event);
    void onMenuClose_Window(wxCommandEvent& event);
    void onMenuExit(wxCommandEvent& event);
    void onMenuSet_parameters(wxCommandEvent& event);
    void onMenuStart_generation(wxCommandEvent& event);
    void onMenu1(wxCommandEvent& event);
    void onMenu2(wxCommandEvent& event);
    void onMenu4(wxCommandEvent& event);
    void onMenu8(wxCommandEvent& event);
    void onMenu16(wxCommandEvent& event);
    void onMenu32(wxCommandEvent& event);
    void onMenuTerrain(wxCommandEvent& event);
    void onMenuElevation(wxCommandEvent& event);
    void onMenuElevationTerrain(wxCommandEvent& event);
    void onMenuZoomin(wxCommandEvent& event);
    void onMenuZoomout(wxCommandEvent& event);
    void onMenuPopup(wxCommandEvent& event);
    void onMenuTerrain2(wxCommandEvent& event);
    void onMenuElevation2(wxCommandEvent& event);
    void onMenuElevationTerrain2(wxCommandEvent& event);
    void onMenuZoomin2(wxCommandEvent& event);
    void onMenuZoomout2(wxCommandEvent& event);
    void onMenuPopup2(wxCommandEvent& event);
    void onMenuTerrain3(wxCommandEvent& event);
    void onMenuElevation3(wxCommandEvent& event);
    void onMenuElevationTerrain3(wxCommandEvent& event);
    void onMenuZoomin3(wxCommandEvent& event);
    void onMenuZoomout3(wxCommandEvent& event);
    void onMenuPopup3(wxCommandEvent& event);
    void onMenu12(wxCommandEvent& event);
    void onMenu22(wxCommandEvent& event);
    void onMenu42(wxCommandEvent& event);
    void onMenu82(wxCommandEvent& event);
    void onMenu162(wxCommandEvent& event);
    void onMenuAbout(wxCommandEvent& event);

    WrappedHxMapView* hxmv = nullptr;
    HxToolBar* tb = nullptr;
    // A map load that runs longer than this shows a progress dialog.
    long loadProgressDelayMs = 500;
    wxMenuBar* mb = nullptr;

protected:
    // The status bar shows a highlighted item's help while it has one and
    // the banner at every other time.
    void DoGiveHelp(const wxString& help, bool show) override;

private:
    void showError(const wxString& message);
    void showBanner();
    void setIcons();
    void ignoreSizeWhileHidden();

    // What the status bar shows now, and for a cell, which cell with which
    // contents.
    enum class Status { Banner, Help, Cell };
    Status status = Status::Banner;
    struct ShownCell {
        int x, y;
        char t;
        int e;
        bool operator==(const ShownCell& o) const { return x == o.x && y == o.y && t == o.t && e == o.e; }
    };
    ShownCell shownCell{-1, -1, 0, 0};

    wxDECLARE_DYNAMIC_CLASS(TarvenFrame);
    wxDECLARE_EVENT_TABLE();
};

class TarvenApp : public wxApp {
public:
    bool OnInit() override;
};

wxDECLARE_APP(TarvenApp);

extern const char* const kTarvenBanner;

#endif
