// PNG files written a band of rows at a time: the picture is drawn in bands
// straight into the encoder, so that only a few bands ever exist in memory
// whatever the picture's size. The calling thread and the shared worker
// threads (workqueue.h) draw, pack and compress bands of their own; the
// bands' compressed data are joined into the file's one stream in order.
// Each thread keeps its compressor and band buffers from one picture to the
// next, so that many small pictures cost no more than one large one.
#ifndef TARVEN_PNGBANDS_H
#define TARVEN_PNGBANDS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "hxpicture.h"

namespace pngbands {

// Fills rows top..top+rows-1 of the picture into `pixels` (rows x width
// pixels, stride width). The pixels arrive cleared to 0, transparent.
// Called from several threads at once, for different bands.
using DrawBand = std::function<void(int top, int rows, hxpic::Pixel* pixels)>;
// The same as palette indices (positions in paletteOrder(colours)), one
// byte a pixel, `stride` bytes from one row to the next. They arrive
// cleared to index 0, which is transparent when transparent is listed.
using DrawIndexBand = std::function<void(int top, int rows, std::uint8_t* indices, std::ptrdiff_t stride)>;

struct Settings {
    // The colours the picture can hold, transparent (0) among them or not.
    // Up to 256 give an indexed picture; more, or none, give RGBA.
    std::vector<hxpic::Pixel> colours;
    // Rows per band; 0 picks them from the picture's width (about 1 MiB of
    // pixels per band, and at least a few rows however wide the picture).
    int bandRows = 0;
    int zlibLevel = 1;
    // When set and the picture is indexed, bands are drawn as palette
    // indices through it instead of as pixels through write()'s `draw`.
    DrawIndexBand drawIndices;
    // Threads that draw and compress, the calling one among them; 0: one
    // per core; 1: the calling thread alone. When no worker thread can be
    // started (under a tight memory limit, say), or all are busy with other
    // pictures, the calling thread does everything.
    int threads = 0;
    // Told the share of the rows in the file (0..1) after each band, by
    // whichever thread put it there, one call at a time.
    std::function<void(double)> progress;
    // The physical resolution written in the pHYs chunk, in pixels per
    // metre; 0 writes none.
    unsigned pixelsPerMetre = 0;
};

enum class Result {
    Written,
    // A pixel outside Settings::colours turned up; nothing useful was
    // written. Writing again with no colours gives an RGBA picture.
    ColourMissing,
    Failed,
};

// Widest and highest picture written: wider rows would not fit the band
// budget, and common readers refuse more.
constexpr int kMaxWidth = 1000000;
constexpr int kMaxHeight = 0x7fffffff;

// Writes a width x height picture (both at least 1 and within the limits
// above) to `file` as a PNG. `error` gets a message on failure. An
// exception from drawing (out of memory, say) stops every thread and is
// passed on.
Result write(std::FILE* file, int width, int height, const Settings& settings, const DrawBand& draw,
             std::string& error);

// The distinct colours of a list, transparent first when present; the order
// of the palette an indexed picture gets.
std::vector<hxpic::Pixel> paletteOrder(const std::vector<hxpic::Pixel>& colours);

}  // namespace pngbands

#endif
