#ifndef TARVEN_WXTERRAINS_H
#define TARVEN_WXTERRAINS_H

#include <cstdint>

#include <wx/colour.h>

#include "hxterrains.h"

class wxToolBar;

// The terrain catalogue with every colour it can show cached as toolkit
// colours: one entry per character code (0..255) and elevation (0..10), so
// that painting a cell is a table read.
class wxTerrainSet : public HxTerrainSet {
public:
    static constexpr int kCodes = 256;
    static constexpr int kElevations = 11;   // 0..10
    static constexpr int kAnyElevation = -666;

    wxTerrainSet();

    // Colour of terrain c at elevation elev. -666 gives elevation 0; an
    // elevation outside 0..10 gives the colour of code 0 (black).
    const wxColour* getTerrain(char c, int elev) const {
        if (elev == kAnyElevation) elev = 0;
        if (elev < 0 || elev >= kElevations) return &temp[0][0];
        return &temp[static_cast<unsigned char>(c)][elev];
    }

    // The same colour as an opaque 32-bit pixel, 0xFFRRGGBB, for drawing in
    // memory.
    std::uint32_t packed(char c, int elev) const {
        if (elev == kAnyElevation) elev = 0;
        if (elev < 0 || elev >= kElevations) return pixels[0][0];
        return pixels[static_cast<unsigned char>(c)][elev];
    }

    // The n-th distinct terrain (first record of each character), or null.
    // n = -1 (or n beyond the count) stores the count in uniqTC.
    const HxTerrainInfo* UniqTerrain(int n);

    // Adds one 16 x 16 toggle tool per distinct paintable terrain, ids
    // base, base + 1, ... in catalogue order. Code 0 gets no tool: a map
    // file cannot hold it. Each tool's label is the terrain's name (its
    // character when it has none), shown only in the toolbar's overflow menu.
    void addTerrains(wxToolBar* tb, int base);

    // Number of terrains that addTerrains offers as tools.
    int paintableTerrains() const;

    int uniqTC = 0;

private:
    wxColour temp[kCodes][kElevations];
    std::uint32_t pixels[kCodes][kElevations];
};

#endif
