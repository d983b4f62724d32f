// A shown map window for tests, destroyed with the test, and a way to send
// it a menu command as the menu bar would.
#ifndef TARVEN_TESTS_MAPWINDOW_H
#define TARVEN_TESTS_MAPWINDOW_H

#include "harness.h"
#include "tarven.h"

struct MapWindow {
    TarvenFrame* frame = new TarvenFrame;
    MapWindow() {
        frame->Show();
        waitFor([&] { return frame->hxmv->GetClientSize().GetWidth() > 50; });
        pump(5);
    }
    ~MapWindow() {
        if (wxTopLevelWindows.Find(frame)) frame->Destroy();
        pump(3);
    }
    MapWindow(const MapWindow&) = delete;
    MapWindow& operator=(const MapWindow&) = delete;
    void command(int id) {
        wxCommandEvent event(wxEVT_MENU, id);
        event.SetEventObject(frame);
        frame->ProcessWindowEvent(event);
        pump(2);
    }
};

#endif
