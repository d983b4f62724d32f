#include "hxtoolbar.h"

#include <wx/bitmap.h>
#include <wx/brush.h>
#include <wx/dcmemory.h>
#include <wx/pen.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

#include "hxrender.h"

namespace {

#ifdef __WXGTK__
// The theme's tool buttons are padded for large icons: at 16 x 16 pixels
// each tool would take 37 pixels and the terrains would not fit in the
// starting window. Small padding keeps them native toggle buttons, 25
// pixels wide.
const char* const kCompactToolsCss =
    "button { padding: 3px; min-width: 0; min-height: 0; }\n"
    "toolbar { padding: 0 2px; }\n";

GtkToolbar* nativeToolbar(wxToolBar* tb) {
    auto* widget = static_cast<GtkWidget*>(tb->GetHandle());
    if (GTK_IS_TOOLBAR(widget)) return GTK_TOOLBAR(widget);
    if (GTK_IS_BIN(widget)) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget));
        if (child && GTK_IS_TOOLBAR(child)) return GTK_TOOLBAR(child);
    }
    return nullptr;
}

// Gives this toolbar and each of its buttons the compact style; other
// toolbars and the rest of the program keep the theme's.
void makeToolsCompact(wxToolBar* tb) {
    GtkToolbar* bar = nativeToolbar(tb);
    if (!bar) return;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kCompactToolsCss, -1, nullptr);
    auto* provider = GTK_STYLE_PROVIDER(css);
    gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(bar)), provider,
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    const int n = gtk_toolbar_get_n_items(bar);
    for (int i = 0; i < n; ++i) {
        GtkWidget* button = gtk_bin_get_child(GTK_BIN(gtk_toolbar_get_nth_item(bar, i)));
        if (button && GTK_IS_BUTTON(button))
            gtk_style_context_add_provider(gtk_widget_get_style_context(button), provider,
                                           GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    g_object_unref(css);
}
#else
void makeToolsCompact(wxToolBar*) {}
#endif

}  // namespace

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
        useExactPixels(dc);
        dc.SetBrush(wxBrush(background, wxBRUSHSTYLE_SOLID));
        dc.SetPen(wxPen(background, 1, wxPENSTYLE_SOLID));
        dc.SetTextBackground(background);
        dc.DrawRectangle(0, 0, bm.GetWidth(), bm.GetHeight());
        wxCoord w = 0, h = 0;
        dc.GetTextExtent(label, &w, &h);
        dc.DrawText(label, (16 - w) / 2, (16 - h) / 2);
        dc.SelectObject(wxNullBitmap);
        // The label is not drawn on the toolbar (icons only); it names the
        // tool in the overflow menu of a narrow window.
        AddTool(base++, label, bm, wxNullBitmap, wxITEM_CHECK, help, wxEmptyString);
    }
    AddSeparator();
    wts->addTerrains(this, kFirstTerrainTool);
    terrainCount = wts->paintableTerrains();
    makeToolsCompact(this);
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
