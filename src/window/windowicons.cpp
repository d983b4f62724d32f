#include "windowicons.h"

#include <wx/icon.h>
#include <wx/image.h>
#include <wx/mstream.h>

wxIconBundle tarvenIcons() {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxIconBundle icons;
    for (int i = 0; i < kTarvenIconCount; ++i) {
        wxMemoryInputStream in(kTarvenIcons[i].png, kTarvenIcons[i].length);
        const wxImage image(in, wxBITMAP_TYPE_PNG);
        if (!image.IsOk()) continue;
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(image));
        icons.AddIcon(icon);
    }
    return icons;
}
