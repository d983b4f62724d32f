// The command-line tools tarven-render and tarven-stats: their options and
// what they do, apart from their thin entry points so that tests can run
// them in-process.
#ifndef TARVEN_TOOLS_H
#define TARVEN_TOOLS_H

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "hexgeometry.h"
#include "hxpicture.h"

class HxMap;
struct LoadHooks;

namespace tools {

class Progress;

// Exit codes of both tools.
constexpr int kDone = 0, kFailed = 1, kMisuse = 2;

// The largest picture tarven-render draws unless --max-pixels allows more:
// ten thousand million pixels, a few minutes of work. A 1000 x 1000 map at
// zoom 64 (65022 x 65032) fits; an 8000 x 8000 one (520022 x 520032) does not.
constexpr long long kDefaultMaxPixels = 10000000000LL;

// The widest and highest picture a PNG file of tarven-render can hold.
constexpr long long kMaxPictureWidth = 1000000;
constexpr long long kMaxPictureHeight = 0x7fffffff;

struct RenderOptions {
    int zoom = 8;             // already clamped to 0..64
    bool wholeMap = true;     // false: the cells below
    int cellX = 0, cellY = 0, cellW = 0, cellH = 0;
    long long maxPixels = kDefaultMaxPixels;
    bool quiet = false;
    std::string input, output;
    bool help = false, version = false;

    // Pictures to publish. `given` holds the long names of the options on
    // the command line, so that options that do not suit the output's
    // format are refused.
    std::vector<std::string> given;
    double hexMm = 25.4;      // across the flats
    bool fitPage = false;     // a PDF is one page unless --hex-mm or --poster
    bool poster = false;      // --poster: a PDF at --hex-mm 25.4
    std::string paper = "a4";
    double marginMm = 10, overlapMm = 10;
    double maxPages = 100;
    double dpi = 0;           // 0: no physical resolution
    int fitW = 0, fitH = 0;   // --fit; 0: not asked
    hxpic::Pixel background = 0;
    bool backgroundGiven = false;
    bool legend = false, numbers = false;
    bool has(const std::string& option) const;
};

// What tarven-render writes, by the output's extension.
enum class Format { None, Png, Pdf, Svg };
Format formatOf(const std::string& path);

// Reads tarven-render's arguments (without the program's name). False with
// the reason when they cannot be used.
bool parseRenderArguments(const std::vector<std::string>& args, RenderOptions& options, std::string& reason);

// What the cells X..X+W-1, Y..Y+H-1 of the options come to on this map: the
// range clamped to the map, possibly empty.
hexgeom::CellRange renderCells(const RenderOptions& options, const HxMap& map);
// The same on a map of cols x rows cells.
hexgeom::CellRange renderCells(const RenderOptions& options, int cols, int rows);

// A picture's size in pixels, exact for any map.
struct PictureSize {
    long long width = 0, height = 0;
};

// The size of the file picture of `cells` at `zoom`: the view is scrolled
// to (cells.x1, cells.y1) and the picture reaches to the last pixel the
// cells draw.
PictureSize pictureSize(int zoom, const hexgeom::CellRange& cells);

// Whether a picture of that size may be drawn: within what a PNG file can
// hold and not above `maxPixels`. False with the reason, which names the
// side or the count of pixels at fault.
bool checkPictureSize(const PictureSize& size, long long maxPixels, std::string& reason);

// Draws that picture into the PNG file `path`, through a temporary file
// beside it that is renamed over it at the end. bandRows 0 lets the writer
// choose. False with a message in `error` on failure; no file is left.
// `progress`, when given, follows the rows drawn.
bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, std::string& error, Progress* progress = nullptr);

// The hex zoom (8..64) whose hexes come closest to `hexMm` at `dpi`.
int zoomForSize(double hexMm, double dpi);

// The extras of a PNG ready to publish.
struct PngExtras {
    hxpic::Pixel background = 0;   // 0: transparent
    double dpi = 0;                // 0: no pHYs chunk
    bool legend = false, numbers = false;
    // Where the map sits in the whole map, for the hex numbers: cell (x, y)
    // of the map drawn is (x + numberDx, y + numberDy) of a map of mapW x
    // mapH cells; mapW 0: the map drawn is the whole map.
    int numberDx = 0, numberDy = 0, mapW = 0, mapH = 0;
};
// The size of the PNG of the map picture `mapSize` with the legend strip
// of `cells` below it: as wide as the key needs when the map is narrower.
PictureSize withLegend(const HxMap& map, const hexgeom::CellRange& cells, const PictureSize& mapSize, double dpi);
bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, const PngExtras& extras, std::string& error, Progress* progress = nullptr);

// The tools: messages and usage on `err`, reports on `out`. Warnings about
// cells go to `err`, the first few in full and then their count; the map
// model's other load messages go to standard output as it prints them. The
// result is the exit code; a report, help or version text that could not
// be written is a failure.
int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Loads `file` into `map` with the warnings about cells summarised on
// `err` (the first few in full, then how many more there were), each line
// starting with `tool`.
bool loadMapFor(const char* tool, const std::string& file, HxMap& map, std::ostream& err);
// The same for any load of `file` through the model's reader: `load` is
// given the hooks to read with.
bool loadFor(const char* tool, const std::string& file, std::ostream& err,
             const std::function<bool(const LoadHooks&)>& load);

// Flushes `out` after a report, help or version text; false with a message
// on `err` when it could not be written.
bool flushed(const char* tool, std::ostream& out, std::ostream& err);

// For the programs' entry points: standard input, output and error that
// are closed are opened on a placeholder that refuses writes, so that no
// file the tool opens takes their place and a report written there fails.
void holdStandardStreams();
// Threads started from now on get small stacks and share one heap, so that
// they fit under a tight address-space limit (ulimit -v).
void frugalThreads();
// Whether the text library (Pango and fontconfig) can start: under an
// address-space limit they end the process instead of failing when there
// is no room for their memory and threads. False: do not start them.
bool roomForFonts();
// Flushes and closes standard output; a failure turns `code` into 1 with a
// message on standard error.
int closeStandardOutput(const char* tool, int code);

}  // namespace tools

#endif
