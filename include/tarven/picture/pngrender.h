// The map's raster picture as a PNG file: the one path by which
// tarven-render writes its pictures, tarven-tiles its tiles and
// tarven-convert its tileset images. A request says what to draw (cells,
// zoom, the part of the view the file shows, background, labels); the
// renderer picks the palette, draws palette indices straight into the
// encoder's rows when the picture has at most 256 colours (colours and a
// pack step otherwise) and writes through pngbands on the shared threads.
#ifndef TARVEN_PNGRENDER_H
#define TARVEN_PNGRENDER_H

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "hexgeometry.h"
#include "hxpicture.h"

class HxMap;

namespace pngrender {

// Labels made once, before any drawing, so that every thread only reads
// them: the values marked used are asked of the font, the others are empty.
class MadeLabels : public hxpic::LabelFont {
public:
    MadeLabels(hxpic::LabelFont& font, const std::array<bool, 128>& used);
    const hxpic::Label& label(int value) override { return labels_[static_cast<std::size_t>(value & 127)]; }
    hxpic::Pixel ink() const override { return ink_; }
    // How many pixels a label's ink or extent reaches past the point where
    // its text's corner goes, in any direction: what a band must read
    // around itself.
    int reach() const { return reach_; }

private:
    hxpic::Pixel ink_;
    std::array<hxpic::Label, 128> labels_;
    int reach_ = 0;
};

// The elevations 1..127 that the cells carry: the labels a picture needs.
std::array<bool, 128> usedLabels(const HxMap& map, const hexgeom::CellRange& cells);

struct Request {
    const HxMap* map = nullptr;
    int zoom = 8;
    hexgeom::CellRange cells{0, 0, -1, -1};   // drawn; clamped to the map
    hexgeom::Point viewStart{0, 0};   // the view's scroll position
    // The file shows width x height client pixels from `origin`; cells are
    // drawn only inside `clip` (a tile of a larger picture passes the whole
    // picture's box, so that it holds exactly that picture's pixels).
    hexgeom::Point origin{0, 0};
    int width = 0, height = 0;
    hxpic::Clip clip{0, 0, 0, 0};
    hxpic::Pixel background = 0;              // 0: transparent
    const MadeLabels* labels = nullptr;       // needed at label zooms
    // Drawn over each band of colours after the cells (file rows
    // top..top+rows-1, `width` pixels a row): text with grey edges, so the
    // picture is written in full colour, on one thread.
    std::function<void(int top, int rows, hxpic::Pixel* pixels)> overlay;
    int bandRows = 0;        // 0: the writer chooses
    int zlibLevel = 1;
    int threads = 0;         // 0: every shared thread; 1: the calling one only
    unsigned pixelsPerMetre = 0;
    std::function<void(double)> progress;
};

class Renderer {
public:
    explicit Renderer(const hxpic::Colours& colours) : colours_(colours) {}

    // Writes the picture to `file`, which must be empty and seekable. False
    // with a message (without the file's name) in `error`. An exception
    // from drawing (out of memory) is passed on.
    bool write(std::FILE* file, const Request& request, std::string& error) const;

    // Every colour the request's picture can hold: the cells' colours where
    // the file reaches, the outline, the label ink, the background and
    // transparent.
    std::vector<hxpic::Pixel> colours(const Request& request) const;

    // A tileset image: one tile per (terrain, elevation), `columns` a row,
    // each the box of one hexagon at `zoom` (4 pitch / 3 x pitch pixels,
    // the hexagon touching its left and top edges), labelled at label zooms.
    bool writeTileset(std::FILE* file, int zoom, const std::vector<std::pair<char, int>>& tiles, int columns,
                      const MadeLabels* labels, int zlibLevel, std::string& error) const;

private:
    const hxpic::Colours& colours_;
};

}  // namespace pngrender

#endif
