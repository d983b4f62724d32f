// Heightmaps into hex maps: a raster that GDAL reads (a GeoTIFF elevation
// model, an 8- or 16-bit greyscale PNG, an ASCII grid) laid under Tarven's
// hexes. Each hex takes the mean of the samples whose centres fall inside
// it, read block by block, never the whole raster at once.
#ifndef TARVEN_HEIGHTMAP_H
#define TARVEN_HEIGHTMAP_H

#include <cstdint>
#include <functional>
#include <string>

class HxMap;

namespace exchange {

// The hexes are regular (in metres, where the raster says how large its
// samples are; else in samples) and flat-topped, in Tarven's layout: even
// columns half a hex lower, the first column's left corner on the raster's
// left edge, the odd columns' tops on its top edge. As many columns and rows
// as fit whole centres on the raster.
struct HeightmapOptions {
    int cols = 0;            // columns across the raster's width; 0: not given
    double hexMetres = 0;    // hexes this many metres across the flats; 0: not given
    bool seaLevelGiven = false;
    double seaLevel = 0;     // in the raster's units: hexes below are water
    bool quantile = false;   // levels by tenths of the hexes, not linearly
    std::uint64_t maxCells = std::uint64_t(1) << 26;      // 8192 x 8192
    std::uint64_t maxSamples = std::uint64_t(1) << 34;    // of the raster, all read once
};

// Without --cols and --hex-m: one column for every 8 samples across, at
// least 8 and at most 400 columns (and never more than the samples).
int defaultHeightmapColumns(int rasterWidth);

struct HeightmapReport {
    int rasterWidth = 0, rasterHeight = 0;
    double low = 0, high = 0;             // the lowest and highest hex means
    std::uint64_t emptyHexes = 0;          // hexes with no data: '?' at 0
    std::uint64_t waterHexes = 0;
};

// Whether a file name's extension is one this import reads.
bool isHeightmapExtension(const std::string& ext);

// Reads the raster `path` into `map`. False with the reason (the map left
// as it was) for a raster GDAL cannot read, one without data, a layout that
// gives no hex or more than maxCells. Elevation 0..9: round(9 t), t from 0
// at the lowest hex mean to 1 at the highest, or the tenth of the hexes a
// mean falls in; water below the sea level; the land covered by elevation
// (landcover.h): mountains on the highest, rough below, grassland elsewhere.
bool importHeightmap(const std::string& path, const HeightmapOptions& options, HxMap& map, HeightmapReport& report,
                     std::string& error, const std::function<void(double)>& progress = {});

}  // namespace exchange

#endif
