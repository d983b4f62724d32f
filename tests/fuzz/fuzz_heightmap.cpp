// libFuzzer target for the heightmap import (built as tarven_fuzz_heightmap).
// The first byte picks the kind of raster (GeoTIFF, PNG or ASCII grid) and
// the import's options; the rest is the file, held in GDAL's in-memory file
// system. Beyond not crashing, the import must keep its promises:
//  - a failed import says why and leaves the map as it was;
//  - a map that imports lies within the cell limit, every elevation 0..9,
//    every terrain one that an import makes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <cpl_vsi.h>

#include "heightmap.h"
#include "hxmap.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "heightmap import contract broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t pick = data[0];
    static const char* const names[] = {"/vsimem/fuzz.tif", "/vsimem/fuzz.png", "/vsimem/fuzz.asc"};
    const std::string name = names[pick % 3];
    VSILFILE* f = VSIFileFromMemBuffer(name.c_str(), const_cast<GByte*>(data + 1), size - 1, FALSE);
    if (!f) return 0;
    VSIFCloseL(f);

    exchange::HeightmapOptions o;
    o.maxCells = std::uint64_t(1) << 14;
    o.maxSamples = std::uint64_t(1) << 18;
    o.cols = (pick >> 2) & 1 ? 1 + ((pick >> 4) & 7) * 5 : 0;
    o.quantile = (pick >> 3) & 1;
    o.seaLevelGiven = (pick >> 7) & 1;
    o.seaLevel = 10;
    HxMap map(1, 1);
    exchange::HeightmapReport report;
    std::string error;
    const bool ok = exchange::importHeightmap(name, o, map, report, error);
    VSIUnlink(name.c_str());
    if (!ok) {
        if (error.empty()) broken("failed import gave no message");
        if (map.xs() != 1 || map.ys() != 1) broken("failed import changed the map");
        return 0;
    }
    if (map.xs() < 1 || map.ys() < 1 ||
        static_cast<std::uint64_t>(map.xs()) * static_cast<std::uint64_t>(map.ys()) > o.maxCells)
        broken("imported map beyond the limits");
    const std::string made = " %^~?";
    for (int y = 0; y < map.ys(); ++y)
        for (int x = 0; x < map.xs(); ++x) {
            if (map.e(x, y) < 0 || map.e(x, y) > 9) broken("elevation outside 0..9");
            if (made.find(map.t(x, y)) == std::string::npos) broken("a terrain an import does not make");
        }
    return 0;
}
