#ifndef TARVEN_HXTOOLBAR_H
#define TARVEN_HXTOOLBAR_H

#include <memory>

#include <wx/toolbar.h>

#include "wxterrains.h"

// The drawing toolbar: ten elevation tools (0..9), a separator and one tool
// per paintable terrain. All are toggle tools; the click handler keeps each
// group like a radio group, so the user chooses one elevation and one
// terrain, kept in the public elev and terr (-1 until chosen).
class HxToolBar : public wxToolBar {
public:
    static constexpr int kFirstElevationTool = 1234;
    static constexpr int kLastElevationTool = 1243;
    static constexpr int kFirstTerrainTool = 1244;
    static constexpr int kLastToolId = 1334;

    HxToolBar(wxWindow* parent, int style);
    ~HxToolBar() override;

    void onToolLeftClick(wxCommandEvent& event);
    int getElev() const { return elev; }
    int getTerr() const { return terr; }

    // Number of terrain tools on the toolbar.
    int terrainTools() const { return terrainCount; }

    int elev = -1;
    int terr = -1;

private:
    std::unique_ptr<wxTerrainSet> wts;
    int antiRecurseFlag = 0;
    int terrainCount = 0;

    wxDECLARE_EVENT_TABLE();
};

#endif
