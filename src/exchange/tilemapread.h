// What the TMX and TMJ readers share: the map's header checks, external
// tilesets, numbers and paths.
#ifndef TARVEN_TILEMAPREAD_H
#define TARVEN_TILEMAPREAD_H

#include <cstdint>
#include <map>
#include <string>

#include "tilemap.h"

namespace exchange {

// Layer groups deeper than this are refused rather than followed.
constexpr int kMaxGroupDepth = 64;

// The map attributes that decide whether a map can be read at all.
struct MapHeader {
    std::string orientation, staggeraxis, staggerindex;
    bool infinite = false;
    long long width = 0, height = 0;
};

// Refuses other orientations and staggerings, infinite maps and sizes
// beyond the limits, naming what is unsupported; sets the map's size.
bool checkHeader(const MapHeader& header, const Limits& limits, TileMap& map, std::string& error);
// Refuses a map without tile layers, orders the tilesets and checks that
// no two start at the same gid.
bool finishMap(TileMap& map, std::string& error);

// A decimal integer from low to high, the whole text, with an optional
// minus sign and surrounding white space.
bool parseInteger(const char* text, long long low, long long high, long long& value);

// The tile count an image of tiles gives, for tilesets that do not say.
std::uint32_t countFromImage(const Tileset& ts);

// A path relative to a folder (absolute paths stay as they are).
std::string joinPath(const std::string& folder, const std::string& path);
std::string folderOf(const std::string& path);

// Refuses tile layers that together would hold more gids than the limits
// allow, before they are decoded: `layers` layers of `cells` gids each.
bool checkLayerCells(std::uint64_t layers, std::uint64_t cells, const Limits& limits, std::string& error);

// External tilesets already read, by the real path of their file: a map
// that names one file many times reads it once and keeps one copy of its
// tiles.
using TilesetCache = std::map<std::string, Tileset>;

// A .tsx or .tsj file, told apart by its first character.
bool readExternalTileset(const std::string& path, const Limits& limits, TilesetCache& cache, Tileset& ts,
                         std::string& error);
bool readTsx(const std::string& text, Tileset& ts, std::string& error);
bool readTsj(const std::string& text, Tileset& ts, std::string& error);

}  // namespace exchange

#endif
