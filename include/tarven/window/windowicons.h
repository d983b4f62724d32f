#ifndef TARVEN_WINDOWICONS_H
#define TARVEN_WINDOWICONS_H

#include <cstddef>

#include <wx/iconbndl.h>

// Tarven's hexagon as PNG files, drawn from the same artwork as the desktop
// entry's icon (data/tarven.svg), built into the program.
struct EmbeddedIcon {
    int size;   // width and height in pixels
    const unsigned char* png;
    std::size_t length;
};
extern const EmbeddedIcon kTarvenIcons[];
extern const int kTarvenIconCount;

// The window's icon at every size there is (16, 32, 48 and 256 pixels).
wxIconBundle tarvenIcons();

#endif
