// The map's two pictures (outlined hexagons, dot squares) drawn into a block
// of pixels that the caller owns. Plain C++ and cairo: no toolkit, no
// display. The window and the command-line renderer both draw through it, so
// there is one picture and one code path.
//
// Coordinates are the view's client pixels, as in hexgeometry.h: a picture
// of cells seen from scroll position viewStart at a zoom.
#ifndef TARVEN_HXPICTURE_H
#define TARVEN_HXPICTURE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hexgeometry.h"

class HxMap;
class HxTerrainSet;

namespace hxpic {

// 0xAARRGGBB in a native 32-bit word: cairo's ARGB32 layout. Cells only ever
// write opaque pixels; what they do not cover is left as it was.
using Pixel = std::uint32_t;
constexpr Pixel kOpaque = 0xff000000u;
constexpr Pixel kBlack = kOpaque;

// The colour of every terrain code (0..255) at elevations 0..10 as opaque
// pixels. An elevation outside 0..10 gives code 0 at elevation 0 (black);
// kAnyElevation (-666) gives elevation 0.
class Colours {
public:
    explicit Colours(const HxTerrainSet& terrains);
    Pixel at(char terrain, int elevation) const;

    // The colour of a cell as the map stores it: the elevation byte read as
    // a signed 8-bit value, whatever the signedness of char. One table read.
    Pixel cell(char terrain, char elevation) const {
        return flat[static_cast<unsigned char>(terrain) * kSlots + slot[static_cast<unsigned char>(elevation)]];
    }

private:
    // Slots 0..10 hold elevations 0..10; slot 11 the colour of any other
    // elevation (code 0 at elevation 0).
    static constexpr int kSlots = 16;
    Pixel flat[256 * kSlots];
    unsigned char slot[256];
};

// The palette index of every colour a picture can take, for pictures drawn
// one byte a pixel: cells as Colours gives them, the outline (black) and the
// label ink. A colour missing from the palette gets index 0: the palette
// must hold every colour that the cells drawn, the outline and the ink take.
class Indices {
public:
    // `palette`: at most 256 colours, each at its index.
    Indices(const Colours& colours, const std::vector<Pixel>& palette, Pixel ink);
    std::uint8_t cell(char terrain, char elevation) const {
        return flat[static_cast<unsigned char>(terrain) * kSlots + slot[static_cast<unsigned char>(elevation)]];
    }
    std::uint8_t black() const { return black_; }
    std::uint8_t ink() const { return ink_; }
    // The index of transparent (0), what nothing drawn leaves.
    std::uint8_t clear() const { return clear_; }

private:
    static constexpr int kSlots = 16;
    std::uint8_t flat[256 * kSlots];
    unsigned char slot[256];
    std::uint8_t black_ = 0, ink_ = 0, clear_ = 0;
};

// A block of pixels owned by the caller: width x height pixels, stride
// pixels from one row to the next. pixels[0] is client pixel `origin`.
struct Target {
    Pixel* pixels;
    int width, height;
    std::ptrdiff_t stride;
    hexgeom::Point origin;
};

// The same as one byte a pixel, a palette index each.
struct IndexTarget {
    std::uint8_t* pixels;
    int width, height;
    std::ptrdiff_t stride;
    hexgeom::Point origin;
};

// A horizontal run of pixels x0..x1 (inclusive) on row y, relative to some
// origin.
struct Span {
    int y, x0, x1;
};

// An elevation label as a font draws it: its text extent w x h (what the
// centring rule uses) and its inked pixels, relative to the point where the
// text's top-left corner goes.
struct Label {
    int w = 0, h = 0;
    std::vector<Span> ink;
};

// Where labels come from: the window asks the toolkit's default font, the
// command-line renderer a font of its own. Must give the same Label for the
// same value every time.
class LabelFont {
public:
    virtual ~LabelFont() = default;
    virtual const Label& label(int value) = 0;   // value 1..127
    virtual Pixel ink() const = 0;               // the text colour
};

// What to draw. `cells` must already be clamped to the map. `labels` may be
// null below zoom 16 (no labels are drawn there) and must be set above it.
struct Picture {
    const HxMap& map;
    const Colours& colours;
    int zoom;
    hexgeom::Point viewStart;
    hexgeom::CellRange cells;
    LabelFont* labels;
};

// The paint's clip box, in client pixels: the columns clipLeft..clipRight-1
// (and rows clipTop..clipBottom-1). A hexagon cut by the left or right edge
// of the clip box is rasterized as the reference drawing cuts it. A window
// paint passes its update box, a file picture its whole extent.
struct Clip {
    int left, top, right, bottom;
};

// Draws the picture's cells, row after row, into the part of `target` that
// lies inside `clip`: exactly the pixels the cell-by-cell reference drawing
// gives for that clip box. Pixels no cell covers are left as they were.
// Only the cells that reach into that part are read, so a large picture can
// be drawn band by band: targets of successive rows with the same clip give
// the pixels of one whole target. The stamps are shared and guarded, so
// several threads may draw at once (each with its own target and font).
void draw(const Picture& picture, const Clip& clip, Target& target);
// The same picture as palette indices: every pixel drawn gets the index of
// the colour the drawing above gives it (picture.colours is not used).
void draw(const Picture& picture, const Indices& indices, const Clip& clip, IndexTarget& target);

// Draws the listed cells one after another, each over what is there: what
// single-cell repaints in that order give. picture.cells is not used; cells
// outside the map are skipped.
void drawCells(const Picture& picture, const std::vector<hexgeom::Point>& cells, const Clip& clip,
               Target& target);

// Every pixel that drawing `cells` can touch at this zoom and scroll
// position, labels aside: the bounding box of the squares or of the
// hexagons with their outlines, with no empty margin. A window's repaint box
// for those cells, and a file picture's size (cells seen with viewStart =
// (cells.x1, cells.y1)) come from here. An empty range gives 0 x 0.
// A label wider or taller than its hexagon's box can reach past this box;
// its ink there is drawn only where the target and clip reach.
hexgeom::PixelRect pictureBox(int zoom, const hexgeom::CellRange& cells, hexgeom::Point viewStart);

}  // namespace hxpic

#endif
