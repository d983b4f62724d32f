// The boundary between the exchange library and the heightmap module
// (tarven_heightmap.so), which alone links GDAL and is loaded on the first
// import, so that programs that never read a raster never load GDAL. Both
// sides are built from this one header in one build; the version guards
// against a module left over from another.
#ifndef TARVEN_HEIGHTMAP_MODULE_H
#define TARVEN_HEIGHTMAP_MODULE_H

#include <functional>
#include <string>
#include <vector>

#include "heightmap.h"

namespace exchange {

// An imported map, row by row: terrain characters and elevations 0..9.
struct HeightmapGrid {
    int cols = 0, rows = 0;
    std::vector<char> terrain, elevation;
};

constexpr int kHeightmapModuleVersion = 1;

}  // namespace exchange

extern "C" {
// kHeightmapModuleVersion of the module.
int tarven_heightmap_version();
// Reads the raster at `path` into `grid` (with `report`); false with the
// reason in `error`. `progress` may be null.
bool tarven_heightmap_import(const char* path, const exchange::HeightmapOptions* options, exchange::HeightmapGrid* grid,
                             exchange::HeightmapReport* report, std::string* error,
                             const std::function<void(double)>* progress);
}

namespace exchange {

using HeightmapImportFunction = decltype(&tarven_heightmap_import);

// importHeightmap with the module's entry point given (the fuzz target links
// the module's code in and calls this).
bool importHeightmapThrough(HeightmapImportFunction entry, const std::string& path, const HeightmapOptions& options,
                            HxMap& map, HeightmapReport& report, std::string& error,
                            const std::function<void(double)>& progress);

}  // namespace exchange

#endif
