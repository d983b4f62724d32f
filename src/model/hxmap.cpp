#include "hxmap.h"

#include "mapreader.h"
#include "maprows.h"
#include "savefile.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The reading itself is in mapreader.cpp, shared with the loads of parts of
// maps and the counting of cells. The rows fill fresh grids in one pass;
// they replace the map's only when every row is there.

using mapfile::format;
using mapfile::kClass;

namespace {

// A save writes at most this many rows per write call.
constexpr int kBand = 64;

// Characters of one cell as written: a terrain that is NUL or white space
// would end the row early and is written as "?", an elevation character that
// would do the same as "0". Everything else is written exactly.
// Both as tables by the cell's unsigned byte, for the save loop.
struct CellWriteTable {
    char terrain[256] = {};
    char elevation[256] = {};
    constexpr CellWriteTable() {
        for (int i = 0; i < 256; ++i) {
            const char t = i == ' ' ? '.' : static_cast<char>(i);
            terrain[i] = kClass.stop(t) ? '?' : t;
            const char e = static_cast<char>((i + 48) & 0xff);
            elevation[i] = kClass.stop(e) ? '0' : e;
        }
    }
};
constexpr CellWriteTable kWrite;

}  // namespace

HxMap::HxMap(int xs, int ys)
    : xsize(xs < 0 ? 0 : xs), ysize(ys < 0 ? 0 : ys),
      elev(xsize, ysize, 0), terr(xsize, ysize, '?') {
    clearXY();
}

HxMap::HxMap(const char* filename) : xsize(1), ysize(1), elev(1, 1, 0), terr(1, 1, '?') {
    loadMap(filename);
}

void HxMap::resizeGrid(int x, int y) {
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    clearXY();
    xsize = x;
    ysize = y;
    elev.resize(x, y, 0);
    terr.resize(x, y, '?');
}

void HxMap::fail(const char* message) const {
    lastMsg = message;
    lastErr = message;
    if (!lastErr.empty() && lastErr.back() == '\n') lastErr.pop_back();
}

// Memory runs out only for absurd files; that is reported like any other
// unreadable file instead of ending the program.
bool HxMap::loadMap(const char* filename) { return loadMap(filename, LoadHooks{}); }

bool HxMap::loadMap(const char* filename, const LoadHooks& hooks) {
    try {
        return readMap(filename, hooks);
    } catch (const std::bad_alloc&) {
        fail(mapfile::outOfMemory(filename).c_str());
        return false;
    }
}

namespace {

// Rows straight into fresh grids.
class GridSink : public mapfile::RowSink {
public:
    void begin(int cols, int rows) override {
        // Every cell is written, so the grids start zero rather than "?".
        Array2d<char>(cols, rows).swap(elev);
        Array2d<char>(cols, rows).swap(terr);
    }
    char* terrainRow(int y) override { return terr.row(y); }
    char* elevationRow(int y) override { return elev.row(y); }

    Array2d<char> elev{0, 0};
    Array2d<char> terr{0, 0};
};

}  // namespace

bool HxMap::readMap(const char* filename, const LoadHooks& hooks) {
    GridSink grids;
    std::string message;
    switch (mapfile::readRows(filename, hooks, grids, message)) {
    case mapfile::Outcome::Failed:
        fail(message.c_str());
        return false;
    case mapfile::Outcome::Cancelled:
        lastErr = mapfile::kCancelled;
        lastMsg.clear();
        return false;
    case mapfile::Outcome::Done:
        break;
    }
    adopt(grids.terr, grids.elev, filename);
    return true;
}

void HxMap::adopt(Array2d<char>& terrain, Array2d<char>& elevation, const char* filename) {
    std::string newName(filename);
    // From here on nothing can fail.
    elev.swap(elevation);
    terr.swap(terrain);
    xsize = elev.xs();
    ysize = elev.ys();
    name.swap(newName);
    lastMsg.clear();
    // As if every cell had gone through st and se.
    lowestUsedX = 0;
    lowestUsedY = 0;
    highestUsedX = xsize - 1;
    highestUsedY = ysize - 1;
    lastErr.clear();
}

// The map is written through a SaveFile (savefile.h): a failure at any
// point leaves the old file as it was. A file that cannot be replaced is an
// open failure; any later one a write failure.
bool HxMap::saveMap(const char* filename) const {
    const char* const openFailure = "Unable to open the map file!";
    const auto writeFailure = [&] {
        fail(format("Error writing file %s : the map was not saved!\n", filename).c_str());
        return false;
    };
    // Rows go through one buffer, a band of rows at a time; the band is
    // narrower for very wide maps, down to one row, so that the buffer stays
    // near 1 MiB unless a single row is longer.
    const std::size_t rowLen = 2 * static_cast<std::size_t>(xsize) + 1;
    const std::size_t budget = std::size_t(1) << 20;
    int bandRows = static_cast<int>(budget / rowLen);
    if (bandRows < 1) bandRows = 1;
    if (bandRows > kBand) bandRows = kBand;
    std::vector<char> out;
    try {
        out.resize(rowLen * static_cast<std::size_t>(bandRows));
    } catch (const std::bad_alloc&) {
        return writeFailure();
    }

    SaveFile file;
    std::string why;
    if (!filename || !file.open(filename, why)) {
        fail(openFailure);
        return false;
    }
    const std::string header = format("%d %d\n", ysize, xsize);
    bool ok = file.write(header.data(), header.size(), why);
    for (int y0 = 0; ok && y0 < ysize; y0 += bandRows) {
        const int n = ysize - y0 < bandRows ? ysize - y0 : bandRows;
        for (int k = 0; k < n; ++k) {
            const char* trow = terr.row(y0 + k);
            const char* erow = elev.row(y0 + k);
            char* cell = out.data() + rowLen * static_cast<std::size_t>(k);
            for (int x = 0; x < xsize; ++x, cell += 2) {
                cell[0] = kWrite.terrain[static_cast<unsigned char>(trow[x])];
                cell[1] = kWrite.elevation[static_cast<unsigned char>(erow[x])];
            }
        }
        for (int k = 0; k < n; ++k) out[rowLen * static_cast<std::size_t>(k) + rowLen - 1] = '\n';
        ok = file.write(out.data(), rowLen * static_cast<std::size_t>(n), why);
    }
    if (!ok || !file.commit(why)) return writeFailure();
    lastErr.clear();
    lastMsg.clear();
    return true;
}

void HxMap::statistics(std::ostream& out) const {
    CellCounts counts;
    for (int y = 0; y < ysize; ++y) counts.addRow(terr.row(y), elev.row(y), xsize);
    counts.print(out);
}
