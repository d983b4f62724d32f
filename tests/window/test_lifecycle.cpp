// Opening and closing many map windows: every frame, view and toolbar must
// be gone afterwards. The sanitized run of this program checks at exit that
// none of their memory was left behind.
#include <vector>

#include <wx/uiaction.h>
#include <wx/weakref.h>

#include "harness.h"
#include "hexgeometry.h"
#include "tarven.h"

namespace {

// Each weak reference turns null when its object's destructor has run.
struct Tracked {
    wxWeakRef<TarvenFrame> frame;
    wxWeakRef<WrappedHxMapView> view;
    wxWeakRef<HxToolBar> toolbar;
};

int alive(const std::vector<Tracked>& all) {
    int n = 0;
    for (const Tracked& t : all) n += (t.frame.get() != nullptr) + (t.view.get() != nullptr) + (t.toolbar.get() != nullptr);
    return n;
}

int openTarvenFrames() {
    int n = 0;
    for (wxWindow* w : wxTopLevelWindows)
        if (dynamic_cast<TarvenFrame*>(w)) ++n;
    return n;
}

int cellsWith(const HxMap& m, char terrain) {
    int n = 0;
    for (int x = 0; x < m.xs(); ++x)
        for (int y = 0; y < m.ys(); ++y) n += m.t(x, y) == terrain;
    return n;
}

}  // namespace

TEST(Lifecycle, FiftyWindowsOpenPaintAndCloseWithoutLeftovers) {
    constexpr int kRounds = 5;
    constexpr int kPerRound = 10;
    const int framesBefore = openTarvenFrames();
    std::vector<Tracked> all;
    wxUIActionSimulator sim;

    for (int round = 0; round < kRounds; ++round) {
        std::vector<TarvenFrame*> frames;
        for (int k = 0; k < kPerRound; ++k) {
            auto* frame = new TarvenFrame;
            frame->Move(40 * k, 20 * k);
            frame->Show();
            frames.push_back(frame);
            all.push_back({frame, frame->hxmv, frame->tb});
        }
        for (int k = 0; k < kPerRound; ++k) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", window " << k);
            TarvenFrame* frame = frames[k];
            WrappedHxMapView* view = frame->hxmv;
            ASSERT_TRUE(waitFor([&] { return view->GetClientSize().GetWidth() > 100; }));
            view->resize(200, 150, true);
            ASSERT_EQ(view->xs(), 200);
            ASSERT_EQ(view->ys(), 150);
            // A real click in the view paints with the toolbar's terrain.
            frame->Raise();
            pump(3);
            frame->tb->elev = 4;
            frame->tb->terr = '#';
            const hexgeom::Point o = hexgeom::hexOrigin(view->zoom, 3, 3, view->viewStart());
            const hexgeom::HexShape s = hexgeom::hexShape(view->zoom);
            sim.MouseMove(view->ClientToScreen(wxPoint(o.x + s.hxs / 2, o.y + s.hys / 2)));
            pump(2);
            sim.MouseClick(wxMOUSE_BTN_LEFT);
            EXPECT_TRUE(waitFor([&] { return cellsWith(*view, '#') > 0; })) << "the click painted nothing";
            // And the model side directly, over the whole grid.
            for (int x = 0; x < 200; x += 7) view->st(x, 149 - x % 150, '~');
            view->se(199, 149, 9);
            EXPECT_EQ(view->e(199, 149), 9);
        }
        ASSERT_EQ(alive(all), 3 * kPerRound) << "the references do not follow the windows";
        // Half close through the menu command, half as the window manager
        // would.
        for (int k = 0; k < kPerRound; ++k) {
            if (k % 2 == 0) {
                wxCommandEvent close(wxEVT_MENU, ID_CLOSE_WINDOW);
                close.SetEventObject(frames[k]);
                frames[k]->ProcessWindowEvent(close);
            } else {
                EXPECT_TRUE(frames[k]->Close(true));
            }
        }
        EXPECT_TRUE(waitFor([&] { return alive(all) == 0; }, 10000))
            << alive(all) << " frames, views or toolbars of round " << round << " still alive";
    }
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kRounds * kPerRound));
    EXPECT_EQ(alive(all), 0);
    EXPECT_EQ(openTarvenFrames(), framesBefore);
}
