#include "tilemapread.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace exchange {

namespace {

// The first character that is not white space: '<' for XML, '{' for JSON.
char firstMark(const std::string& text) {
    std::size_t i = 0;
    // A UTF-8 byte order mark may come first.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return c;
    }
    return 0;
}

}  // namespace

bool parseInteger(const char* text, long long low, long long high, long long& value) {
    if (!text) return false;
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
    const bool negative = *text == '-';
    if (negative) ++text;
    if (*text < '0' || *text > '9') return false;
    unsigned long long v = 0;
    bool over = false;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (v > (ULLONG_MAX - 9) / 10) over = true;
        else v = v * 10 + static_cast<unsigned>(*text - '0');
    }
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
    if (*text != 0 || over || v > static_cast<unsigned long long>(LLONG_MAX)) return false;
    const long long s = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    if (s < low || s > high) return false;
    value = s;
    return true;
}

std::uint32_t countFromImage(const Tileset& ts) {
    if (ts.tilewidth <= 0 || ts.tileheight <= 0 || ts.imagewidth <= 0 || ts.imageheight <= 0) return 0;
    const std::uint64_t n = std::uint64_t(ts.imagewidth / ts.tilewidth) * std::uint64_t(ts.imageheight / ts.tileheight);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
}

std::string joinPath(const std::string& folder, const std::string& path) {
    if (folder.empty() || (!path.empty() && path[0] == '/')) return path;
    return folder.back() == '/' ? folder + path : folder + "/" + path;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool checkHeader(const MapHeader& h, const Limits& limits, TileMap& map, std::string& error) {
    if (h.orientation != "hexagonal") {
        error = "the map's orientation is '" + h.orientation + "'; only hexagonal maps can be read";
        return false;
    }
    if (h.staggeraxis != "x") {
        error = "the map staggers its " + (h.staggeraxis.empty() ? std::string("(unnamed)") : h.staggeraxis) +
                " axis; only staggeraxis x (flat-top hexes in columns) can be read";
        return false;
    }
    if (h.staggerindex != "even") {
        error = "the map's staggerindex is '" + h.staggerindex + "'; only even (even columns lower) can be read";
        return false;
    }
    if (h.infinite) {
        error = "infinite maps are not supported";
        return false;
    }
    if (h.width < 1 || h.height < 1) {
        error = "the map's size " + std::to_string(h.width) + " x " + std::to_string(h.height) + " is not valid";
        return false;
    }
    if (h.width > INT_MAX || h.height > INT_MAX ||
        static_cast<unsigned long long>(h.width) * static_cast<unsigned long long>(h.height) > limits.maxCells) {
        error = "the map of " + std::to_string(h.width) + " x " + std::to_string(h.height) +
                " cells is larger than the " + std::to_string(limits.maxCells) + " cells a map can have";
        return false;
    }
    map.width = static_cast<int>(h.width);
    map.height = static_cast<int>(h.height);
    return true;
}

bool finishMap(TileMap& map, std::string& error) {
    // Without a layer nothing in the file speaks for its cells.
    if (map.layers.empty()) {
        error = "the map has no tile layer";
        return false;
    }
    std::stable_sort(map.tilesets.begin(), map.tilesets.end(),
                     [](const Tileset& a, const Tileset& b) { return a.firstgid < b.firstgid; });
    for (std::size_t i = 1; i < map.tilesets.size(); ++i)
        if (map.tilesets[i].firstgid == map.tilesets[i - 1].firstgid) {
            error = "two tilesets start at gid " + std::to_string(map.tilesets[i].firstgid);
            return false;
        }
    return true;
}

const std::vector<Tile>& Tileset::tileList() const {
    static const std::vector<Tile> kNone;
    return tiles ? *tiles : kNone;
}

bool checkLayerCells(std::uint64_t layers, std::uint64_t cells, const Limits& limits, std::string& error) {
    if (layers == 0 || cells <= limits.maxLayerCells / layers) return true;
    error = "the map's " + std::to_string(layers) + " tile layers of " + std::to_string(cells) +
            " cells hold more than the " + std::to_string(limits.maxLayerCells) +
            " cells all layers together can have";
    return false;
}

bool readExternalTileset(const std::string& path, const Limits& limits, TilesetCache& cache, Tileset& ts,
                         std::string& error) {
    std::string key = path;
    {
        std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), std::free);
        if (real) key = real.get();
    }
    const auto hit = cache.find(key);
    if (hit != cache.end()) {
        ts = hit->second;
        return true;
    }
    std::string text;
    // A tileset is small: a file far larger than the map is not one.
    const std::uint64_t cap = std::min<std::uint64_t>(limits.maxFileBytes, std::uint64_t(64) << 20);
    if (!readWholeFile(path, cap, text, error)) return false;
    const char mark = firstMark(text);
    const bool ok = mark == '{' ? readTsj(text, ts, error) : readTsx(text, ts, error);
    if (!ok) {
        error = "the tileset '" + path + "': " + error;
        return false;
    }
    cache.emplace(key, ts);
    return true;
}

bool readTileMap(const std::string& path, const Limits& limits, TileMap& map, std::string& error) {
    std::string text;
    if (!readWholeFile(path, limits.maxFileBytes, text, error)) return false;
    const std::string folder = folderOf(path);
    const char mark = firstMark(text);
    if (mark == '{') return parseTmj(text, folder, limits, map, error);
    if (mark == '<') return parseTmx(text, folder, limits, map, error);
    error = text.empty() ? "the file is empty" : "the file is neither XML nor JSON";
    return false;
}

}  // namespace exchange
