// Reading a map file without holding the whole map: a rectangle of its
// cells, or counts of its cells taken row by row. Both read through the same
// reader as HxMap::loadMap, and print and report exactly what a load of the
// same file does.
#ifndef TARVEN_MAPROWS_H
#define TARVEN_MAPROWS_H

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "hexgeometry.h"
#include "hxmap.h"

// How a map's cells divide among elevations and terrain characters, for the
// statistics report. Terrain codes 0..254 and elevations 0..9 have
// counters; cells outside them (terrain negative as a signed char,
// elevation outside 0..9) get no column but count in the total.
class CellCounts {
public:
    CellCounts();
    // Counts n cells side by side (a map row's terrain and elevation bytes).
    void addRow(const char* terrain, const char* elevation, int n);
    long long total() const { return total_; }
    // The report: percentages of all cells counted.
    void print(std::ostream& out) const;

private:
    void flush() const;
    mutable std::vector<long long> kinds_;
    mutable std::vector<std::uint32_t> quads_;
    mutable long long pending_ = 0;   // cells in quads_
    long long total_ = 0;
};

// Counts the cells of a map file row by row, holding one row. Prints the
// warnings and the failure message a load of the file prints; on failure
// (false) `error` holds that message without its line end, or "Load
// cancelled" when the progress hook stopped it.
bool countMapFile(const char* filename, const LoadHooks& hooks, CellCounts& counts, std::string& error);

// Where a part of a map file sits in the whole map.
struct MapPart {
    int cols = 0, rows = 0;   // the whole map's size
    // Cell (x, y) of the part is cell (x + dx, y + dy) of the whole map. dx
    // is even, so that every column keeps the parity that places its hexes.
    int dx = 0, dy = 0;
    // The cells picked, in the part's coordinates; possibly empty.
    hexgeom::CellRange cells{0, 0, -1, -1};
    // Only the rows picked were read from the file.
    bool rowsOnly = false;
};

// Chooses the cells wanted once the map's size is known; the range must lie
// inside the map or be empty.
using PartPick = std::function<hexgeom::CellRange(int cols, int rows)>;

// Loads into `map` the cells that `pick` chooses of the map in `filename`.
// A file whose rows all have the same length, each ended by "\n" (the last
// one optionally), is read at computed offsets, only the rows picked, and
// each row read is checked as a load checks it, along its whole length, with
// the same warnings; the map then holds the columns picked (from an even one)
// of those rows. Any other file, or a row that breaks the pattern, is loaded
// whole by HxMap::loadMap. On failure (false) the map is unchanged and the
// messages and lastError() are a load's.
bool loadMapPart(HxMap& map, const char* filename, const PartPick& pick, const LoadHooks& hooks, MapPart& part);

#endif
