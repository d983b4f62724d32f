#include "mapexchange.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "hexgeometry.h"
#include "hxmap.h"
#include "hxterrains.h"
#include "tilemapread.h"

namespace exchange {

namespace {

// What a tile says about a cell.
struct Meaning {
    int terrain = -1;     // byte 0..255 from the tile's properties, or -1
    bool hasElevation = false;
    int elevation = 0;
    int guess = -1;       // terrain whose name matches the tile's, or -1
};

const Property* findProperty(const std::vector<Property>& list, const char* name) {
    for (const Property& p : list)
        if (p.name == name) return &p;
    return nullptr;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

Meaning meaningOf(const Tile* tile, const HxTerrainSet& terrains) {
    Meaning m;
    if (!tile) return m;
    long long v = 0;
    if (const Property* code = findProperty(tile->properties, "code")) {
        if (parseInteger(code->value.c_str(), 0, 255, v)) m.terrain = static_cast<int>(v);
    }
    if (m.terrain < 0) {
        const Property* t = findProperty(tile->properties, "terrain");
        if (t && t->value.size() == 1) m.terrain = static_cast<unsigned char>(t->value[0]);
    }
    if (const Property* e = findProperty(tile->properties, "elevation")) {
        if (parseInteger(e->value.c_str(), -128, 127, v)) {
            m.hasElevation = true;
            m.elevation = static_cast<int>(v);
        }
    }
    if (m.terrain < 0 && !m.hasElevation) {
        const Property* name = findProperty(tile->properties, "name");
        for (const HxTerrainInfo& info : terrains.records()) {
            if (info.name.empty()) continue;
            if (sameName(info.name, tile->type) || (name && sameName(info.name, name->value))) {
                m.guess = static_cast<unsigned char>(info.c);
                break;
            }
        }
    }
    return m;
}

// Gid to meaning, each distinct gid worked out once.
class Resolver {
public:
    // Tilesets that share their tiles (one file named many times) share
    // their index too.
    Resolver(const TileMap& map, const HxTerrainSet& terrains) : map_(map), terrains_(terrains) {
        std::unordered_map<const std::vector<Tile>*, std::size_t> indexOf;
        for (const Tileset& ts : map.tilesets) {
            const std::vector<Tile>* list = &ts.tileList();
            const auto known = indexOf.find(list);
            if (known != indexOf.end()) {
                indexFor_.push_back(known->second);
                continue;
            }
            std::unordered_map<std::uint32_t, const Tile*> byId;
            for (const Tile& t : *list) byId.emplace(t.id, &t);
            indexOf.emplace(list, tiles_.size());
            indexFor_.push_back(tiles_.size());
            tiles_.push_back(std::move(byId));
        }
    }

    // False when no tileset holds the gid.
    bool resolve(std::uint32_t gid, Meaning& m) {
        const auto hit = cache_.find(gid);
        if (hit != cache_.end()) {
            m = hit->second;
            return true;
        }
        const std::uint32_t id = gid & ~kGidFlags;
        const auto& sets = map_.tilesets;
        auto it = std::upper_bound(sets.begin(), sets.end(), id,
                                   [](std::uint32_t g, const Tileset& ts) { return g < ts.firstgid; });
        if (it == sets.begin()) return false;
        --it;
        const std::uint32_t local = id - it->firstgid;
        if (local >= it->tilecount) return false;
        const auto& byId = tiles_[indexFor_[static_cast<std::size_t>(it - sets.begin())]];
        const auto tile = byId.find(local);
        m = meaningOf(tile == byId.end() ? nullptr : tile->second, terrains_);
        cache_.emplace(gid, m);
        return true;
    }

private:
    const TileMap& map_;
    const HxTerrainSet& terrains_;
    std::vector<std::unordered_map<std::uint32_t, const Tile*>> tiles_;
    std::vector<std::size_t> indexFor_;   // each tileset's entry in tiles_
    std::unordered_map<std::uint32_t, Meaning> cache_;
};

std::string propertyText(int v) { return std::to_string(v); }

}  // namespace

bool exportZoomWorks(int zoom) {
    if (zoom < 8 || zoom > hexgeom::kMaxZoom) return false;
    const int p = hexgeom::pitch(zoom);
    return p % 2 == 0 && (4 * p / 3) % 2 == 0;
}

std::vector<int> nearestExportZooms(int zoom) {
    std::vector<int> list;
    for (int z = std::min(zoom, hexgeom::kMaxZoom + 1) - 1; z >= 8; --z)
        if (exportZoomWorks(z)) {
            list.push_back(z);
            break;
        }
    for (int z = std::max(zoom, 7) + 1; z <= hexgeom::kMaxZoom; ++z)
        if (exportZoomWorks(z)) {
            list.push_back(z);
            break;
        }
    return list;
}

ExportedMap exportMap(const HxMap& map, int zoom, const std::string& terrainImage,
                      const std::string& elevationImage) {
    ExportedMap out;
    out.zoom = zoom;
    const HxTerrainSet terrains;
    const int p = hexgeom::pitch(zoom);
    const int w = 4 * p / 3;

    // The catalogue's terrains first, in its order, then the other
    // characters of the map by code; elevations by value.
    bool used[256] = {};
    bool usedElevation[256] = {};
    for (int y = 0; y < map.ys(); ++y) {
        const char* t = map.terrainRow(y);
        const char* e = map.elevationRow(y);
        for (int x = 0; x < map.xs(); ++x) {
            used[static_cast<unsigned char>(t[x])] = true;
            usedElevation[static_cast<signed char>(e[x]) + 128] = true;
        }
    }
    int tileOfTerrain[256];
    std::fill(std::begin(tileOfTerrain), std::end(tileOfTerrain), -1);
    std::vector<std::string> names;
    for (const HxTerrainInfo& info : terrains.records()) {
        const unsigned char c = static_cast<unsigned char>(info.c);
        if (tileOfTerrain[c] >= 0) continue;
        tileOfTerrain[c] = static_cast<int>(out.terrains.size());
        out.terrains.push_back(info.c);
        names.push_back(info.name);
    }
    for (int c = 0; c < 256; ++c)
        if (used[c] && tileOfTerrain[c] < 0) {
            tileOfTerrain[c] = static_cast<int>(out.terrains.size());
            out.terrains.push_back(static_cast<char>(c));
            names.push_back(std::string());
        }
    int tileOfElevation[256];
    for (int e = -128; e < 128; ++e) {
        tileOfElevation[e + 128] = -1;
        if (!usedElevation[e + 128]) continue;
        tileOfElevation[e + 128] = static_cast<int>(out.elevations.size());
        out.elevations.push_back(e);
    }

    TileMap& tm = out.tiles;
    tm.width = map.xs();
    tm.height = map.ys();
    tm.tilewidth = w;
    tm.tileheight = p;
    tm.hexsidelength = 2 * p - w;
    tm.properties.push_back(Property{kFormatProperty, "int", propertyText(kFormatVersion)});
    tm.properties.push_back(Property{"tarven-zoom", "int", propertyText(zoom)});

    auto tileset = [&](const char* name, std::size_t count, const std::string& image, std::uint32_t firstgid) {
        Tileset ts;
        ts.firstgid = firstgid;
        ts.name = name;
        ts.tilewidth = w;
        ts.tileheight = p;
        ts.tilecount = static_cast<std::uint32_t>(count);
        ts.columns = static_cast<int>(std::min<std::size_t>(count, kImageColumns));
        ts.image = image;
        ts.imagewidth = ts.columns * w;
        ts.imageheight = static_cast<int>((count + kImageColumns - 1) / kImageColumns) * p;
        return ts;
    };
    Tileset terrainSet = tileset("terrains", out.terrains.size(), terrainImage, 1);
    std::vector<Tile> terrainTiles, elevationTiles;
    for (std::size_t k = 0; k < out.terrains.size(); ++k) {
        Tile tile;
        tile.id = static_cast<std::uint32_t>(k);
        const unsigned char c = static_cast<unsigned char>(out.terrains[k]);
        tile.type = names[k];
        tile.properties.push_back(Property{"code", "int", propertyText(c)});
        if (c >= 32 && c < 127) tile.properties.push_back(Property{"terrain", "string", std::string(1, static_cast<char>(c))});
        if (!names[k].empty()) tile.properties.push_back(Property{"name", "string", names[k]});
        terrainTiles.push_back(std::move(tile));
    }
    terrainSet.tiles = std::make_shared<const std::vector<Tile>>(std::move(terrainTiles));
    Tileset elevationSet =
        tileset("elevations", out.elevations.size(), elevationImage, 1 + static_cast<std::uint32_t>(out.terrains.size()));
    for (std::size_t k = 0; k < out.elevations.size(); ++k) {
        Tile tile;
        tile.id = static_cast<std::uint32_t>(k);
        tile.properties.push_back(Property{"elevation", "int", propertyText(out.elevations[k])});
        elevationTiles.push_back(std::move(tile));
    }
    if (!elevationTiles.empty())
        elevationSet.tiles = std::make_shared<const std::vector<Tile>>(std::move(elevationTiles));
    const std::uint32_t elevationBase = elevationSet.firstgid;
    tm.tilesets.push_back(std::move(terrainSet));
    tm.tilesets.push_back(std::move(elevationSet));

    Layer terrainLayer;
    terrainLayer.name = "terrain";
    Layer elevationLayer;
    elevationLayer.name = "elevation";
    elevationLayer.visible = false;
    const std::size_t cells = static_cast<std::size_t>(tm.width) * static_cast<std::size_t>(tm.height);
    terrainLayer.gids.resize(cells);
    elevationLayer.gids.resize(cells);
    std::size_t i = 0;
    for (int y = 0; y < map.ys(); ++y) {
        const char* t = map.terrainRow(y);
        const char* e = map.elevationRow(y);
        for (int x = 0; x < map.xs(); ++x, ++i) {
            terrainLayer.gids[i] = 1 + static_cast<std::uint32_t>(tileOfTerrain[static_cast<unsigned char>(t[x])]);
            elevationLayer.gids[i] =
                elevationBase + static_cast<std::uint32_t>(tileOfElevation[static_cast<signed char>(e[x]) + 128]);
        }
    }
    tm.layers.push_back(std::move(terrainLayer));
    tm.layers.push_back(std::move(elevationLayer));
    return out;
}

int zoomOf(const TileMap& tiles) {
    long long v = 0;
    if (const Property* zoom = findProperty(tiles.properties, "tarven-zoom"))
        if (parseInteger(zoom->value.c_str(), 0, hexgeom::kMaxZoom, v) && exportZoomWorks(static_cast<int>(v)))
            return static_cast<int>(v);
    const int z = tiles.tileheight - 1;
    if (exportZoomWorks(z) && tiles.tilewidth == 4 * tiles.tileheight / 3 &&
        tiles.hexsidelength == 2 * tiles.tileheight - tiles.tilewidth)
        return z;
    return 0;
}

bool importMap(const TileMap& tiles, HxMap& map, std::uint64_t& guessed, std::string& error) {
    guessed = 0;
    if (const Property* version = findProperty(tiles.properties, kFormatProperty)) {
        long long v = 0;
        if (parseInteger(version->value.c_str(), LLONG_MIN, LLONG_MAX, v) && v > kFormatVersion) {
            error = "the map was written by a newer Tarven (format " + version->value + "; this one reads " +
                    std::to_string(kFormatVersion) + ")";
            return false;
        }
    }
    const HxTerrainSet terrains;
    Resolver resolver(tiles, terrains);
    const std::size_t cells = static_cast<std::size_t>(tiles.width) * static_cast<std::size_t>(tiles.height);
    for (const Layer& layer : tiles.layers)
        if (layer.gids.size() != cells) {
            error = "the layer '" + layer.name + "' does not hold one gid per cell";
            return false;
        }

    // Every gid is looked up before the map is touched, so that a gid no
    // tileset holds leaves the map as it was.
    Meaning m;
    for (const Layer& layer : tiles.layers)
        for (std::size_t i = 0; i < cells; ++i) {
            const std::uint32_t gid = layer.gids[i];
            if ((gid & ~kGidFlags) != 0 && !resolver.resolve(gid, m)) {
                const std::size_t w = static_cast<std::size_t>(tiles.width);
                error = "the gid " + std::to_string(gid & ~kGidFlags) + " in layer '" + layer.name +
                        "' at cell (" + std::to_string(i % w) + ", " + std::to_string(i / w) +
                        ") lies beyond the tilesets";
                return false;
            }
        }

    map.resizeGrid(tiles.width, tiles.height);
    std::uint64_t guesses = 0;
    std::size_t i = 0;
    for (int y = 0; y < tiles.height; ++y)
        for (int x = 0; x < tiles.width; ++x, ++i) {
            int terrain = -1, guess = -1, elevation = 0;
            bool hasElevation = false;
            for (const Layer& layer : tiles.layers) {
                const std::uint32_t gid = layer.gids[i];
                if ((gid & ~kGidFlags) == 0) continue;
                resolver.resolve(gid, m);
                if (terrain < 0 && m.terrain >= 0) terrain = m.terrain;
                if (!hasElevation && m.hasElevation) {
                    hasElevation = true;
                    elevation = m.elevation;
                }
                if (guess < 0 && m.guess >= 0) guess = m.guess;
            }
            if (terrain < 0) {
                ++guesses;
                terrain = guess >= 0 ? guess : '?';
            }
            map.st(x, y, static_cast<char>(terrain));
            map.se(x, y, static_cast<char>(elevation));
        }
    guessed = guesses;
    return true;
}

}  // namespace exchange
