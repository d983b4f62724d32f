// The command-line tools: tarven-render's and tarven-stats' options and
// work, apart from their thin entry points so that tests can run them
// in-process, and the runner that every tool's entry point goes through.
#ifndef TARVEN_TOOLS_H
#define TARVEN_TOOLS_H

#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "hexgeometry.h"
#include "hxpicture.h"
#include "hxvector.h"

#include "toolargs.h"

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

// The most shapes (corners of colour regions, outline lines and glyphs) a
// PDF or SVG holds unless --max-shapes allows more: about 150 MB of SVG,
// which cairo holds in memory whole before it writes it.
constexpr long long kDefaultMaxShapes = 5000000;

struct RenderOptions : ToolFlags {
    int zoom = 8;             // already clamped to 0..64
    bool wholeMap = true;     // false: the cells below
    int cellX = 0, cellY = 0, cellW = 0, cellH = 0;
    long long maxPixels = kDefaultMaxPixels;
    std::string input, output;

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
    // Regular hexagons or the window's; pixels across the flats of a
    // regular PNG (0: none asked); a virtual tabletop's scene beside it.
    hxvec::Shape shape = hxvec::Shape::Regular;
    int gridPx = 0;
    std::string vtt;
    long long maxShapes = kDefaultMaxShapes;
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
    // of the map drawn is (x + dx, y + dy) of a map of mapW x mapH cells;
    // mapW 0: the map drawn is the whole map.
    hxvec::Numbering numbering;
};
// The size of the PNG of the map picture `mapSize` with the legend strip
// of `cells` below it: as wide as the key needs when the map is narrower.
PictureSize withLegend(const HxMap& map, const hexgeom::CellRange& cells, const PictureSize& mapSize, double dpi);
bool writePicture(const HxMap& map, int zoom, const hexgeom::CellRange& cells, const std::string& path,
                  int bandRows, const PngExtras& extras, std::string& error, Progress* progress = nullptr);

// A PNG of regular hexes `across` pixels from flat to flat, drawn with the
// vector drawing; with `foundry` the picture starts half a hex higher, so
// that Foundry VTT's grid of that size lands on its hexes.
struct RegularPng {
    double across = 100;
    bool foundry = false;
};
PictureSize regularPictureSize(const hexgeom::CellRange& cells, const RegularPng& png);
bool writeRegularPicture(const HxMap& map, const hexgeom::CellRange& cells, const RegularPng& png,
                         const std::string& path, const PngExtras& extras, std::string& error,
                         Progress* progress = nullptr);
// The Foundry VTT scene of such a picture (named `image`, its file name),
// as JSON text.
std::string foundryScene(const std::string& name, const std::string& image, const PictureSize& size,
                         const hexgeom::CellRange& cells, int gridPx);

// The tools: messages and usage on `err`, reports on `out`. Warnings about
// cells go to `err`, the first few in full and then their count, as does a
// failed load's message. The result is the exit code; a report, help or
// version text that could not be written is a failure.
int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Loads `file` into `map` with the warnings about cells summarised on
// `err` (the first few in full, then how many more there were), each line
// starting with `tool`, and the failure, if any, after them.
bool loadMapFor(const char* tool, const std::string& file, HxMap& map, std::ostream& err);
// The same for any load of `file` through the model's reader: `load` is
// given the hooks to read with, and leaves the failure's message in `error`.
using Load = std::function<bool(const LoadHooks& hooks, std::string& error)>;
bool loadFor(const char* tool, const std::string& file, std::ostream& err, const Load& load);

// Text from a file or the command line as a message may quote it: bytes
// that are not printable (control characters, bytes that are not UTF-8)
// shown as \xNN, so that no file can send control sequences to the
// terminal, and cut after about `most` bytes with the count of those left
// out, so that no file can make a message of megabytes.
std::string printable(const std::string& text, std::size_t most = 400);

// Flushes `out` after a report, help or version text; false with a message
// on `err` when it could not be written.
bool flushed(const char* tool, std::ostream& out, std::ostream& err);

// The one runner of every tool. A tool has a name, a help text, a reader of
// its arguments and its work; the runner owns the rest:
// - help and version, written to `out` and checked;
// - misuse: "tarven-x: REASON" and "Try 'tarven-x --help'." on `err`, exit 2;
// - every exception: "tarven-x: out of memory" for bad_alloc, its text for
//   any other (a thread that cannot start among them), exit 1.
// Messages start with the tool's name and ": ".
struct Tool {
    const char* name;    // "tarven-render"
    const char* usage;   // the help text
};

// What the arguments ask for.
enum class Request { Run, Help, Version };
template <class Options>
Request requestOf(const Options& o) {
    return o.help ? Request::Help : o.version ? Request::Version : Request::Run;
}

// Thrown by a tool's work for a misuse found only once the input is known
// (cells outside the map): exit 2 as for one in the arguments.
struct Misuse : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads the arguments: false with the reason for a misuse.
using ReadArguments = std::function<bool(Request& request, std::string& reason)>;
// Does the work; the result is the exit code.
using Work = std::function<int()>;

int runTool(const Tool& tool, std::ostream& out, std::ostream& err, const ReadArguments& read, const Work& work);

// The usual shape: options read by parse() into an Options value with help
// and version fields, then work(options, out, err).
template <class Options, class Parse, class DoWork>
int runTool(const Tool& tool, const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            Parse parse, DoWork work) {
    Options options;
    return runTool(
        tool, out, err,
        [&](Request& request, std::string& reason) {
            if (!parse(args, options, reason)) return false;
            request = requestOf(options);
            return true;
        },
        [&] { return work(options, out, err); });
}

// A program's main: holds the standard streams (closed ones are opened on
// a placeholder), sets up the signal clean-up of temporary files and small
// thread stacks, runs `run` on the arguments with standard output and
// error, and flushes and closes standard output (a failure there is exit 1
// with a message). An exception that escapes a thread ends the tool with
// exit 1, a message and its temporary files removed, never a signal.
int toolMain(const char* name, int argc, char** argv,
             int (*run)(const std::vector<std::string>&, std::ostream&, std::ostream&));

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
