// A Tarven map as a Tiled hexagonal tile map and back.
//
// Tiled's staggered-x hexagonal layout with the even columns lower is
// Tarven's. At a zoom with pitch p = zoom + 1 and hex width w = 4p/3, tiles
// of w x p with a hex side of 2p - w put every cell where Tarven draws it,
// as long as Tiled keeps both numbers as they are: it rounds tile sizes down
// to even numbers, so only zooms where p and w are both even can be used.
//
// An exported map has two tilesets and two layers:
//  - "terrains": a hexagon tile per terrain of the catalogue and per other
//    character the map uses, each with the properties "code" (the byte, an
//    int), "terrain" (the character, where it is printable ASCII) and "name";
//    the layer "terrain" shows every cell's terrain at elevation 0.
//  - "elevations": a tile per elevation the map uses, with the property
//    "elevation" (an int); the layer "elevation", hidden.
// The map property "tarven-format" tells which version of this layout wrote
// the map. Reading goes by the tiles' properties, not by tileset or layer
// names or order, so a map that Tiled has re-saved comes back exactly.
#ifndef TARVEN_MAPEXCHANGE_H
#define TARVEN_MAPEXCHANGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tilemap.h"

class HxMap;

namespace exchange {

constexpr int kFormatVersion = 1;
constexpr const char* kFormatProperty = "tarven-format";
constexpr int kDefaultZoom = 31;
// Tile images are laid out this many to a row.
constexpr int kImageColumns = 16;

// Whether Tiled draws the map at this zoom exactly where Tarven does:
// hexagons (zoom 8 and above), pitch and hex width both even.
bool exportZoomWorks(int zoom);
// The zooms that work closest below and above `zoom` (one of them may be
// missing at the ends of the range), for a message.
std::vector<int> nearestExportZooms(int zoom);

struct ExportedMap {
    TileMap tiles;
    int zoom = kDefaultZoom;
    std::vector<char> terrains;     // the terrain of each tile of "terrains"
    std::vector<int> elevations;    // the elevation of each tile of "elevations"
};

// The tile map of `map` at a zoom that works; the tileset images are named
// as given (relative to the map file) and must be drawn by the caller, tile
// k at column k % kImageColumns and row k / kImageColumns.
ExportedMap exportMap(const HxMap& map, int zoom, const std::string& terrainImage,
                      const std::string& elevationImage);

// The zoom a tile map's tiles were drawn at, so that converting it again
// keeps its tile size: its "tarven-zoom" property, or else the zoom whose
// tiles have the map's tile size; 0 when neither is a zoom that works.
int zoomOf(const TileMap& tiles);

// Fills `map` (resized to the tile map's size) from the tiles' properties.
// A cell whose tiles carry no terrain of Tarven's takes the terrain whose
// name matches the class or the "name" property of the lowest of its tiles
// that has such a match, or else "?";
// such cells are counted in `guessed`. A cell without an elevation tile has
// elevation 0. False with a message for a gid that no tileset holds, or a
// map written by a newer Tarven; the map is then unchanged.
bool importMap(const TileMap& tiles, HxMap& map, std::uint64_t& guessed, std::string& error);

}  // namespace exchange

#endif
