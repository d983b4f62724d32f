#include "wxterrains.h"

#include <wx/bitmap.h>
#include <wx/brush.h>
#include <wx/dcmemory.h>
#include <wx/pen.h>
#include <wx/toolbar.h>

#include "hxrender.h"

wxTerrainSet::wxTerrainSet() {
    for (int i = 0; i < kElevations; ++i) {
        for (int j = 0; j < kCodes; ++j) {
            int r = 0, g = 0, b = 0;
            getTerrainColor(static_cast<char>(j), i, r, g, b);
            temp[j][i] = wxColour(static_cast<unsigned char>(r & 0xff),
                                  static_cast<unsigned char>(g & 0xff),
                                  static_cast<unsigned char>(b & 0xff));
            pixels[j][i] = 0xff000000u | static_cast<std::uint32_t>(r & 0xff) << 16 |
                           static_cast<std::uint32_t>(g & 0xff) << 8 | static_cast<std::uint32_t>(b & 0xff);
        }
    }
    UniqTerrain(-1);
}

const HxTerrainInfo* wxTerrainSet::UniqTerrain(int n) {
    int count = 0;
    for (std::size_t k = 0; k < data.size(); ++k) {
        const HxTerrainInfo& rec = data[k];
        std::size_t first = 0;
        while (data[first].c != rec.c) ++first;
        if (first != k) continue;
        if (--n == -1) return &rec;
        ++count;
    }
    uniqTC = count;
    return nullptr;
}

int wxTerrainSet::paintableTerrains() const {
    // Code 0 is the catalogue's last distinct character: everything before it
    // is offered.
    int count = 0;
    for (std::size_t k = 0; k < data.size(); ++k) {
        std::size_t first = 0;
        while (data[first].c != data[k].c) ++first;
        if (first == k && data[k].c != 0) ++count;
    }
    return count;
}

void wxTerrainSet::addTerrains(wxToolBar* tb, int base) {
    wxMemoryDC dc;
    int id = base;
    for (int k = 0;; ++k) {
        const HxTerrainInfo* d = UniqTerrain(k);
        if (!d) break;
        if (d->c == 0) continue;
        const char c = d->c;
        const wxColour& colour = *getTerrain(c, kAnyElevation);
        const wxString name = wxString::FromUTF8(d->name.c_str());
        // The overflow menu of a narrow window names each tool; a terrain
        // without a name goes by its map character.
        const wxString toolName = name.empty() ? wxString::Format("%c", c) : name;

        wxBitmap bm(16, 16, -1);
        dc.SelectObject(bm);
        useExactPixels(dc);
        dc.SetPen(*wxBLACK_PEN);
        dc.SetBrush(wxBrush(colour, wxBRUSHSTYLE_SOLID));
        dc.DrawRectangle(0, 0, bm.GetWidth(), bm.GetHeight());

        const wxString label = wxString::Format("%c", c);
        const wxString help = wxString::Format("Use %s terrain for drawing", name);
        wxCoord w = 0, h = 0;
        dc.GetTextExtent(label, &w, &h);
        dc.SetTextBackground(colour);
        dc.DrawText(label, (16 - w) / 2, (16 - h) / 2);
        // A second outline, one pixel smaller, over the label: with the
        // first it makes the right and bottom edges two pixels wide.
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(0, 0, bm.GetWidth() - 1, bm.GetHeight() - 1);
        dc.SelectObject(wxNullBitmap);

        tb->AddTool(id++, toolName, bm, wxNullBitmap, wxITEM_CHECK, help, wxEmptyString);
    }
}
