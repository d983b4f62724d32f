// The drawing toolbar under real clicks.
#include <wx/uiaction.h>

#include "harness.h"
#include "hxtoolbar.h"
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
