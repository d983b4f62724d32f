// The drawing toolbar under real clicks.
#include <gtk/gtk.h>

#include <wx/uiaction.h>

#include "harness.h"
#include "hxtoolbar.h"
#include "mapwindow.h"
#include "tarven.h"

namespace {

int itemIndex(int toolId) {
    return toolId <= HxToolBar::kLastElevationTool ? toolId - HxToolBar::kFirstElevationTool
                                                   : toolId - HxToolBar::kFirstTerrainTool + 11;
}

struct ToolbarWindow {
    TarvenFrame* frame = new TarvenFrame;
    ToolbarWindow() {
        // Wide enough for every tool: a narrower toolbar moves the last ones
        // into its overflow menu.
        frame->SetSize(900, 480);
        frame->Show();
        waitFor([&] { return frame->tb && frame->tb->GetSize().GetWidth() > 200; });
        pump(10);
    }
    ~ToolbarWindow() {
        frame->Destroy();
        pump(2);
    }
    void click(int toolId) {
        const wxPoint at = toolCentre(frame->tb, itemIndex(toolId));
        ASSERT_NE(at, wxDefaultPosition);
        wxUIActionSimulator sim;
        sim.MouseMove(at);
        pump(3);
        sim.MouseClick();
        pump(5);
    }
    std::vector<int> pressed() const {
        std::vector<int> ids;
        for (int id = HxToolBar::kFirstElevationTool;
             id < HxToolBar::kFirstTerrainTool + frame->tb->terrainTools(); ++id)
            if (frame->tb->GetToolState(id)) ids.push_back(id);
        return ids;
    }
};

}  // namespace

TEST(Toolbar, StartsWithNothingChosen) {
    ToolbarWindow w;
    EXPECT_EQ(w.frame->tb->elev, -1);
    EXPECT_EQ(w.frame->tb->terr, -1);
    EXPECT_TRUE(w.pressed().empty());
    // Ten elevations, a separator and eleven terrains: code 0 is not offered.
    EXPECT_EQ(w.frame->tb->terrainTools(), 11);
    EXPECT_EQ(w.frame->tb->GetToolsCount(), 22u);
    EXPECT_EQ(w.frame->tb->FindById(HxToolBar::kFirstTerrainTool + 11), nullptr);
    EXPECT_EQ(w.frame->tb->GetToolShortHelp(1239), "Use elevation 5 for drawing");
    EXPECT_EQ(w.frame->tb->GetToolShortHelp(1244), "Use Heavy forest terrain for drawing");
    EXPECT_EQ(w.frame->tb->GetToolShortHelp(1254), "Use  terrain for drawing");
}

TEST(Toolbar, ClicksChooseOneElevationAndOneTerrain) {
    ToolbarWindow w;
    struct Step { int click; int elev; int terr; std::vector<int> pressed; };
    const Step steps[] = {
        {1239, 5, -1, {1239}},
        {1246, 5, '%', {1239, 1246}},   // third distinct terrain
        {1241, 7, '%', {1241, 1246}},
        {1241, 7, '%', {1241, 1246}},   // the pressed tool stays pressed
        {1244, 7, '"', {1241, 1244}},
        {1247, 7, ' ', {1241, 1247}},
        {1254, 7, '?', {1241, 1254}},
        {1234, 0, '?', {1234, 1254}},
    };
    for (const Step& s : steps) {
        w.click(s.click);
        EXPECT_EQ(w.frame->tb->elev, s.elev) << "after " << s.click;
        EXPECT_EQ(w.frame->tb->terr, s.terr) << "after " << s.click;
        EXPECT_EQ(w.pressed(), s.pressed) << "after " << s.click;
    }
}

namespace {

GtkToolbar* nativeBar(wxToolBar* tb) {
    auto* widget = static_cast<GtkWidget*>(tb->GetHandle());
    if (GTK_IS_TOOLBAR(widget)) return GTK_TOOLBAR(widget);
    return GTK_IS_BIN(widget) ? GTK_TOOLBAR(gtk_bin_get_child(GTK_BIN(widget))) : nullptr;
}

}  // namespace

TEST(Toolbar, EveryToolShowsAtTheStartSizeAndTheOverflowMenuNamesThem) {
    MapWindow w;   // the frame's own start size, 640 x 480
    ASSERT_EQ(w.frame->GetSize(), wxSize(640, 480));
    GtkToolbar* bar = nativeBar(w.frame->tb);
    ASSERT_NE(bar, nullptr);
    const char* names[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "",
                           "Heavy forest", "Light forest", "Rough", "Grassland", "Road", "Wall",
                           "Bridge", "Building", "Water", "Mountain", "?"};
    ASSERT_EQ(gtk_toolbar_get_n_items(bar), 22);
    const int width = w.frame->tb->GetSize().GetWidth();
    for (int i = 0; i < 22; ++i) {
        GtkWidget* item = GTK_WIDGET(gtk_toolbar_get_nth_item(bar, i));
        GtkAllocation a;
        gtk_widget_get_allocation(item, &a);
        EXPECT_TRUE(gtk_widget_get_child_visible(item) && gtk_widget_get_mapped(item)) << names[i];
        EXPECT_LE(a.x + a.width, width) << names[i];
        if (i == 10) continue;
        GtkWidget* button = gtk_bin_get_child(GTK_BIN(item));
        EXPECT_TRUE(GTK_IS_TOGGLE_BUTTON(button)) << names[i];
        EXPECT_EQ(w.frame->tb->FindById(w.frame->tb->GetToolByPos(i)->GetId())->GetNormalBitmap().GetSize(),
                  wxSize(16, 16));
    }
    // Names are for the overflow menu only.
    EXPECT_EQ(gtk_toolbar_get_style(bar), GTK_TOOLBAR_ICONS);

    w.frame->SetSize(200, 480);
    pump(10);
    int hidden = 0;
    for (int i = 0; i < 22; ++i) {
        GtkToolItem* item = gtk_toolbar_get_nth_item(bar, i);
        if (gtk_widget_get_child_visible(GTK_WIDGET(item))) continue;
        ++hidden;
        GtkWidget* proxy = gtk_tool_item_retrieve_proxy_menu_item(item);
        ASSERT_TRUE(proxy && GTK_IS_MENU_ITEM(proxy)) << i;
        if (i == 10) continue;
        EXPECT_TRUE(GTK_IS_CHECK_MENU_ITEM(proxy)) << names[i];
        const gchar* label = gtk_menu_item_get_label(GTK_MENU_ITEM(proxy));
        EXPECT_STREQ(label ? label : "", names[i]);
    }
    EXPECT_GE(hidden, 11) << "every terrain tool should have gone to the overflow menu";
}

TEST(Toolbar, IconsHaveExactPixels) {
    ToolbarWindow w;
    HxToolBar* tb = w.frame->tb;
    auto hex = [](const wxColour& c) { return c.GetAsString(wxC2S_HTML_SYNTAX).ToStdString(); };
    const wxColour background = tb->GetBackgroundColour();
    wxTerrainSet terrains;
    // An elevation icon is the background square with its black digit, the
    // rim background to the last corner pixel; a terrain icon is its colour
    // with a black label inside two black outlines, the whole 16 x 16 square
    // and the 15 x 15 one from the same corner, so that its right and bottom
    // edges are two pixels wide. Nothing in between: no blending.
    for (int id = HxToolBar::kFirstElevationTool; id < HxToolBar::kFirstTerrainTool + tb->terrainTools(); ++id) {
        const bool elevation = id <= HxToolBar::kLastElevationTool;
        const wxColour fill =
            elevation ? background : *terrains.getTerrain(terrains.UniqTerrain(id - HxToolBar::kFirstTerrainTool)->c, 0);
        const wxImage icon = tb->FindById(id)->GetNormalBitmap().ConvertToImage();
        ASSERT_EQ(icon.GetSize(), wxSize(16, 16));
        int black = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const wxColour p = pixel(icon, x, y);
                const bool edge = x == 0 || y == 0 || x == 15 || y == 15 ||
                                  (!elevation && (x == 14 || y == 14));
                const wxColour& rim = elevation ? fill : *wxBLACK;
                if (edge) {
                    EXPECT_EQ(hex(p), hex(rim)) << id << " at " << x << "," << y;
                } else {
                    EXPECT_TRUE(p == fill || p == *wxBLACK) << id << " at " << x << "," << y << ": " << hex(p);
                    if (p == *wxBLACK && fill != *wxBLACK) ++black;
                }
            }
        if (id != HxToolBar::kFirstTerrainTool + 3) {   // the blank's label is invisible
            EXPECT_GT(black, 0) << id << ": its label";
        }
    }
}
