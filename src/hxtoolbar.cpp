#include "hxtoolbar.h"

#include <wx/bitmap.h>
#include <wx/brush.h>
#include <wx/dcmemory.h>
#include <wx/pen.h>

wxBEGIN_EVENT_TABLE(HxToolBar, wxToolBar)
    EVT_TOOL_RANGE(HxToolBar::kFirstElevationTool, HxToolBar::kLastToolId, HxToolBar::onToolLeftClick)
wxEND_EVENT_TABLE()

HxToolBar::HxToolBar(wxWindow* parent, int style)
    : wxToolBar(parent, -1, wxDefaultPosition, wxDefaultSize, style, wxASCII_STR(wxToolBarNameStr)),
      wts(std::make_unique<wxTerrainSet>()) {
    SetMargins(2, 2);
    const wxColour background = GetBackgroundColour();
    wxMemoryDC dc;
    int base = kFirstElevationTool;
    for (int i = 0; i <= 9; ++i) {
        const wxString help = wxString::Format("Use elevation %d for drawing", i);
        const wxString label = wxString::Format("%d", i);
        wxBitmap bm(16, 16, -1);
        dc.SelectObject(bm);
        dc.SetBrush(wxBrush(background, wxBRUSHSTYLE_SOLID));
        dc.SetPen(wxPen(background, 1, wxPENSTYLE_SOLID));
        dc.SetTextBackground(background);
        dc.DrawRectangle(0, 0, bm.GetWidth(), bm.GetHeight());
        wxCoord w = 0, h = 0;
        dc.GetTextExtent(label, &w, &h);
        dc.DrawText(label, (16 - w) / 2, (16 - h) / 2);
        dc.SelectObject(wxNullBitmap);
        AddTool(base++, wxEmptyString, bm, wxNullBitmap, wxITEM_CHECK, help, wxEmptyString);
    }
    AddSeparator();
    wts->addTerrains(this, kFirstTerrainTool);
    terrainCount = wts->paintableTerrains();
    Realize();
}

HxToolBar::~HxToolBar() = default;

void HxToolBar::onToolLeftClick(wxCommandEvent& event) {
    ++antiRecurseFlag;
    const int id = event.GetId();
    const bool isElevation = id <= kLastElevationTool;
    if (antiRecurseFlag == 1) {
        if (isElevation) {
            elev = id - kFirstElevationTool;
        } else if (const HxTerrainInfo* d = wts->UniqTerrain(id - kFirstTerrainTool)) {
            terr = d->c;
        }
        // Only the tools that exist are asked about; the toolkit asserts on
        // a missing one.
        for (int i = kFirstElevationTool; i < kFirstTerrainTool + terrainCount; ++i) {
            const bool sameGroup = (i <= kLastElevationTool) == isElevation;
            if (sameGroup && i != id && GetToolState(i)) ToggleTool(i, false);
        }
    }
    if (FindById(id) && !GetToolState(id)) ToggleTool(id, true);
    --antiRecurseFlag;
}
