#ifndef TARVEN_HXMAP_H
#define TARVEN_HXMAP_H

#include <cstdint>
#include <functional>
#include <iostream>
#include <string>

#include "array2d.h"

// What a load tells as it goes, for callers that want it elsewhere than on
// standard output, or want to follow or stop a long load.
struct LoadHooks {
    // Each warning about a cell ("Invalid map elevation char at ..."),
    // without its line end. Unset: the warnings are not kept.
    std::function<void(const std::string&)> warning;
    // Called after each band of rows with the bytes read so far and the
    // file's size; false stops the load, which then fails with the message
    // "Load cancelled" (not printed) and leaves the map as it was.
    std::function<bool(std::uint64_t done, std::uint64_t total)> progress;
};

// One hex map: xs() columns by ys() rows, every cell a terrain character and
// a signed 8-bit elevation (-128..127 whatever the signedness of char). Reads outside the grid give 0 and writes outside
// it are dropped. The map also remembers the rectangle of cells written
// since the last clearXY() (the used extent).
class HxMap {
public:
    std::string name;

    // Negative sizes are taken as 0: a grid without valid cells.
    HxMap(int xs, int ys);
    // Starts as a 1 x 1 map and loads the file; a failed load keeps 1 x 1.
    explicit HxMap(const char* filename);
    HxMap(const HxMap&) = delete;
    HxMap& operator=(const HxMap&) = delete;

    int xs() const { return xsize; }
    int ys() const { return ysize; }

    bool valid(int x, int y) const {
        return x >= 0 && x < xsize && y >= 0 && y < ysize;
    }

    char t(int x, int y) const { return valid(x, y) ? terr.get(x, y) : 0; }
    signed char e(int x, int y) const {
        return valid(x, y) ? static_cast<signed char>(elev.get(x, y)) : 0;
    }

    // The xs() cells of row y side by side, column 0 first; y must be a
    // valid row. Elevation bytes are signed 8-bit values: read them through
    // signed char.
    const char* terrainRow(int y) const { return terr.row(y); }
    const char* elevationRow(int y) const { return elev.row(y); }

    void st(int x, int y, char t) {
        if (!valid(x, y)) return;
        updateXY(x, y);
        terr.get(x, y) = t;
    }
    void se(int x, int y, char e) {
        if (!valid(x, y)) return;
        updateXY(x, y);
        elev.get(x, y) = e;
    }

    void clearXY() { lowestUsedX = lowestUsedY = highestUsedX = highestUsedY = -1; }
    void updateXY(int x, int y) {
        if (lowestUsedX < 0 || lowestUsedX > x) lowestUsedX = x;
        if (lowestUsedY < 0 || lowestUsedY > y) lowestUsedY = y;
        if (highestUsedX < 0 || highestUsedX < x) highestUsedX = x;
        if (highestUsedY < 0 || highestUsedY < y) highestUsedY = y;
    }
    void usedExtent(int& lowX, int& lowY, int& highX, int& highY) const {
        lowX = lowestUsedX;
        lowY = lowestUsedY;
        highX = highestUsedX;
        highY = highestUsedY;
    }

    // Empties the used extent. A new size turns every cell into "?" at
    // elevation 0; the same size keeps the cells. Negative sizes count as 0.
    void resizeGrid(int x, int y);

    // Both return whether they succeeded; they print nothing. A failed load
    // leaves the map exactly as it was; a failed save leaves the file that
    // was there before.
    bool loadMap(const char* filename);
    bool loadMap(const char* filename, const LoadHooks& hooks);
    bool saveMap(const char* filename) const;
    // The message of the last failed loadMap or saveMap without its line
    // end; empty after a success.
    const std::string& lastError() const { return lastErr; }
    // The same message as the map format words it for standard output: with
    // its line end, except the save's "Unable to open the map file!", which
    // has none. Empty after a success or a cancelled load.
    const std::string& lastMessage() const { return lastMsg; }

    // File character to map character and back.
    static char read2real(char t) {
        if (t == '\'') return '`';
        if (t == '.' || t == '_') return ' ';
        return t;
    }
    static char real2read(char t) { return t == ' ' ? '.' : t; }

    // Percentages of the cells per elevation and terrain character.
    void statistics(std::ostream& out = std::cout) const;

private:
    // Loads parts of map files (maprows.h) into a map.
    friend class MapPartReader;
    bool readMap(const char* filename, const LoadHooks& hooks);
    // Takes the grids (swapped in) and the name of a successful load.
    void adopt(Array2d<char>& terrain, Array2d<char>& elevation, const char* filename);
    void fail(const char* message) const;

    int lowestUsedX = -1;
    int lowestUsedY = -1;
    int highestUsedX = -1;
    int highestUsedY = -1;
    int xsize = 0;
    int ysize = 0;
    Array2d<char> elev;
    Array2d<char> terr;
    mutable std::string lastErr;
    mutable std::string lastMsg;
};

#endif
