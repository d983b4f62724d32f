// The command-line tools tarven-render and tarven-stats: their options and
// what they do, apart from their thin entry points so that tests can run
// them in-process.
#ifndef TARVEN_TOOLS_H
#define TARVEN_TOOLS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "hexgeometry.h"
#include "hxpicture.h"

class HxMap;

namespace tools {

// Exit codes of both tools.
constexpr int kDone = 0, kFailed = 1, kMisuse = 2;

// What tarven-render writes, by the output's extension.
enum class Format { None, Png, Pdf, Svg };
Format formatOf(const std::string& path);

struct RenderOptions {
    int zoom = 8;             // already clamped to 0..64
    bool wholeMap = true;     // false: the cells below
    int cellX = 0, cellY = 0, cellW = 0, cellH = 0;
    std::string input, output;
    bool help = false, version = false;

    // Pictures to publish. `given` holds the long names of the options on
    // the command line, so that options that do not suit the output's
    // format are refused.
    std::vector<std::string> given;
    double hexMm = 25.4;      // across the flats
    bool fitPage = false;
    std::string paper = "a4";
    double marginMm = 10, overlapMm = 10;
    double maxPages = 500;
    double dpi = 0;           // 0: no physical resolution
    int fitW = 0, fitH = 0;   // --fit; 0: not asked
    hxpic::Pixel background = 0;
    bool backgroundGiven = false;
    bool legend = false, numbers = false;
    bool has(const std::string& option) const;
};

// Reads tarven-render's arguments (without the program's name). False with
// the reason when they cannot be used.
bool parseRenderArguments(const std::vector<std::string>& args, RenderOptions& options, std::string& reason);

// What the cells X..X+W-1, Y..Y+H-1 of the options come to on this map: the
// range clamped to the map, possibly empty.
hexgeom::CellRange renderCells(const RenderOptions& options, const HxMap& map);

// The size of the file picture of `cells` at `zoom`: the view is scrolled
// to (cells.x1, cells.y1) and the picture reaches to the last pixel the
// cells draw.
hexgeom::Point pictureSize(int zoom, const hexgeom::CellRange& cells);

// Draws that picture into the PNG file `path`, through a temporary file
// beside it that is renamed over it at the end. bandRows 0 lets the writer
// choose. False with a message in `error` on failure; no file is left.
bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, std::string& error);

// The zoom whose picture of `cells`, with a legend strip of `extraRows`
// below it, is the largest that fits in w x h pixels; -1 when none fits.
int fitZoom(const hexgeom::CellRange& cells, int w, int h, int extraRows);
// The hex zoom (8..64) whose hexes come closest to `hexMm` at `dpi`.
int zoomForSize(double hexMm, double dpi);

// The extras of a PNG ready to publish.
struct PngExtras {
    hxpic::Pixel background = 0;   // 0: transparent
    double dpi = 0;              // 0: no pHYs chunk
    bool legend = false, numbers = false;
};
bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, const PngExtras& extras, std::string& error);

// The tools: messages and usage on `err`, reports on `out`; the map
// model's load messages go to standard output as it prints them. The
// result is the exit code.
int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools

#endif
