// libFuzzer target for the TMX reader (built as tarven_fuzz_tmx) and, with
// TARVEN_FUZZ_TMJ defined, for the TMJ reader (tarven_fuzz_tmj). Beyond not
// crashing, the readers must keep their promises:
//  - a failed read or import says why;
//  - a map that imports has the size its file says, and survives export to
//    the same format, a second read and a second import cell for cell.
// External tilesets are looked for in an empty folder, and reads are held to
// small limits, so that every run stays small and fast.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "hxmap.h"
#include "mapexchange.h"
#include "tilemap.h"

namespace {

std::string folder;
exchange::Limits limits;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "tile map reader contract broken: %s\n", what);
    std::abort();
}

#ifdef TARVEN_FUZZ_TMJ
constexpr bool kJson = true;
#else
constexpr bool kJson = false;
#endif

bool parse(const std::string& text, exchange::TileMap& map, std::string& error) {
    return kJson ? exchange::parseTmj(text, folder, limits, map, error)
                 : exchange::parseTmx(text, folder, limits, map, error);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    folder = base + "/tarven-fuzz-tiles-XXXXXX";
    if (!mkdtemp(&folder[0])) broken("mkdtemp failed");
    limits.maxCells = std::uint64_t(1) << 16;
    limits.maxFileBytes = std::uint64_t(1) << 20;
    limits.maxLayerCells = limits.maxCells * 2;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    exchange::TileMap tiles;
    std::string error;
    if (!parse(text, tiles, error)) {
        if (error.empty()) broken("failed read gave no message");
        return 0;
    }
    if (tiles.width < 1 || tiles.height < 1 ||
        static_cast<std::uint64_t>(tiles.width) * static_cast<std::uint64_t>(tiles.height) > limits.maxCells)
        broken("read a map beyond the limits");
    HxMap map(1, 1);
    std::uint64_t guessed = 0;
    if (!exchange::importMap(tiles, map, guessed, error)) {
        if (error.empty()) broken("failed import gave no message");
        if (map.xs() != 1 || map.ys() != 1) broken("failed import changed the map");
        return 0;
    }
    if (map.xs() != tiles.width || map.ys() != tiles.height) broken("imported map has another size");
    if (guessed > static_cast<std::uint64_t>(map.xs()) * static_cast<std::uint64_t>(map.ys()))
        broken("more cells guessed than there are");

    const exchange::ExportedMap exported = exchange::exportMap(map, exchange::kDefaultZoom, "t.png", "e.png");
    const std::string again = kJson ? exchange::writeTmj(exported.tiles, exchange::Encoding::Zlib)
                                    : exchange::writeTmx(exported.tiles, exchange::Encoding::Zlib);
    exchange::TileMap second;
    if (!parse(again, second, error)) broken("an export does not read back");
    HxMap back(1, 1);
    if (!exchange::importMap(second, back, guessed, error)) broken("an export does not import");
    if (guessed != 0) broken("an export has guessed cells");
    if (back.xs() != map.xs() || back.ys() != map.ys()) broken("an export changed the size");
    for (int y = 0; y < map.ys(); ++y)
        for (int x = 0; x < map.xs(); ++x)
            if (back.t(x, y) != map.t(x, y) || back.e(x, y) != map.e(x, y)) broken("an export changed a cell");
    return 0;
}
