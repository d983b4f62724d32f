// Tile maps as Tiled keeps them: TMX (XML) and TMJ (JSON), cut down to what a
// hexagonal map with tile layers needs. Plain C++ on tinyxml2, nlohmann-json,
// zlib, libzstd and GLib's base64; no toolkit and no drawing.
//
// Reading never expands or fetches XML entities, reads only regular files,
// and takes no memory beyond what the file itself justifies: layer data is
// decoded and decompressed as it comes, never past width x height gids per
// layer nor past Limits::maxLayerCells gids for all layers together, and
// each external tileset file is read once however often the map names it.
#ifndef TARVEN_TILEMAP_H
#define TARVEN_TILEMAP_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace exchange {

// How a layer's gids are written: Tiled's csv, base64 of the little-endian
// 32-bit gids, and base64 of them compressed with zlib, gzip or zstd.
enum class Encoding { Csv, Base64, Zlib, Gzip, Zstd };
bool parseEncoding(const std::string& name, Encoding& encoding);
const char* encodingName(Encoding encoding);

// Flip and rotation flags in the top four bits of a gid.
constexpr std::uint32_t kGidFlags = 0xf0000000u;

struct Property {
    std::string name;
    std::string type;    // "string", "int", "bool", ...; empty reads as string
    std::string value;
};

struct Tile {
    std::uint32_t id = 0;
    std::string type;    // the tile's class (called type before Tiled 1.9)
    std::vector<Property> properties;
};

struct Tileset {
    std::uint32_t firstgid = 1;
    std::string name;
    int tilewidth = 0, tileheight = 0;
    std::uint32_t tilecount = 0;
    int columns = 0;
    std::string image;   // file name relative to the map; empty: none
    int imagewidth = 0, imageheight = 0;
    // Only the tiles that carry something; shared by every reference to the
    // same external tileset. Empty (null): none.
    std::shared_ptr<const std::vector<Tile>> tiles;
    const std::vector<Tile>& tileList() const;
};

struct Layer {
    std::string name;
    bool visible = true;
    std::vector<std::uint32_t> gids;   // width x height, row by row
};

struct TileMap {
    int width = 0, height = 0;
    int tilewidth = 0, tileheight = 0, hexsidelength = 0;
    std::vector<Property> properties;
    std::vector<Tileset> tilesets;   // by rising firstgid
    std::vector<Layer> layers;       // tile layers only, groups flattened
};

// What a read may take on.
struct Limits {
    // The most cells a map may have: what the map grid and the decoded
    // layers can be trusted with.
    std::uint64_t maxCells = std::uint64_t(1) << 28;
    // The most gids all tile layers may hold together: the two layers,
    // terrain and elevation, of the largest map. A map with more layers or
    // data is refused before its layers are decoded.
    std::uint64_t maxLayerCells = std::uint64_t(1) << 29;
    // The largest map or tileset file read.
    std::uint64_t maxFileBytes = std::uint64_t(2) << 30;
};

// Reads a TMX or TMJ file (told apart by its first character, so that the
// extension does not matter), with its external tilesets (.tsx or .tsj)
// taken relative to the map's folder. False with a message on failure.
bool readTileMap(const std::string& path, const Limits& limits, TileMap& map, std::string& error);

// The same from text already in memory; `folder` is where external tilesets
// are looked for (empty: the current folder).
bool parseTmx(const std::string& text, const std::string& folder, const Limits& limits, TileMap& map,
              std::string& error);
bool parseTmj(const std::string& text, const std::string& folder, const Limits& limits, TileMap& map,
              std::string& error);

// The document text of a map with embedded tilesets, as Tiled writes it.
std::string writeTmx(const TileMap& map, Encoding encoding);
std::string writeTmj(const TileMap& map, Encoding encoding);

// Layer data, for the readers and writers and for tests. `cells` is the
// number of gids the layer must hold.
std::string encodeGids(const std::vector<std::uint32_t>& gids, Encoding encoding, int width);
bool decodeCsv(const char* text, std::size_t length, std::uint64_t cells, std::vector<std::uint32_t>& gids,
               std::string& error);
// compression: "", "zlib", "gzip" or "zstd".
bool decodeBase64(const char* text, std::size_t length, const std::string& compression, std::uint64_t cells,
                  std::vector<std::uint32_t>& gids, std::string& error);

// A whole regular file, at most maxBytes long. False with a message that
// quotes the name.
bool readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& text, std::string& error);

}  // namespace exchange

#endif
