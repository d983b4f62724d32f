// tarven-tiles: a map as a zoomable web map, a folder with a pyramid of
// 256 x 256 PNG tiles, a page and the viewer library it needs.
#ifndef TARVEN_TILESTOOL_H
#define TARVEN_TILESTOOL_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "toolargs.h"

class HxMap;

namespace tools {

constexpr int kTileSize = 256;
// Cells per side of one block of cell data the page loads for the cell
// under the pointer.
constexpr int kCellBlock = 64;

struct TilesOptions : ToolFlags {
    int maxPitch = 32;                 // pitch of the deepest level, a power of two 1..64
    std::uint64_t maxTiles = 100000;   // refuse pyramids with more tiles
    std::string leaflet = "/usr/share/javascript/leaflet";
    std::string input, outdir;
};

bool parseTilesArguments(const std::vector<std::string>& args, TilesOptions& options, std::string& reason);

// One level of the pyramid: level 0 is the coarsest. Its picture is the map
// at `pitch` (zoom pitch - 1) seen from cell (0, 0); cols x rows tiles cover
// it and the deepest level's extent scaled to this level.
struct TileLevel {
    int pitch;
    long long width, height;   // the picture, in pixels
    long long cols, rows;      // tiles
};

// The levels for a map of mapW x mapH cells: the deepest at maxPitch, each
// one above at half the pitch, up to the first that fits one tile or has
// pitch 1. Empty for a map without cells.
std::vector<TileLevel> planLevels(int mapW, int mapH, int maxPitch);
std::uint64_t tileCount(const std::vector<TileLevel>& levels);

// The page, index.html, of a map of columns x rows cells: the readout's
// hex numbers are as wide as that map needs; all else that differs comes
// from map.js beside it.
std::string webPage(int columns, int rows);

// Writes the whole folder: everything into a new hidden folder inside
// OUTDIR, then put in the place of the old page, tiles, cells and library
// in one short step at the end, so that a failed or ended run leaves the
// old map whole. Nothing is written outside OUTDIR and no link in it is
// followed. Messages on `err`, progress on the terminal.
int runTiles(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools

#endif
