// tarven-convert: a Tarven map to a Tiled TMX or TMJ map and back, apart from
// its thin entry point so that tests can run it in-process.
#ifndef TARVEN_CONVERT_H
#define TARVEN_CONVERT_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "heightmap.h"
#include "hxpicture.h"
#include "mapexchange.h"

#include "toolargs.h"

namespace tools {

struct ConvertOptions : ToolFlags {
    int zoom = exchange::kDefaultZoom;
    bool zoomGiven = false;   // else a Tiled input's own zoom is kept
    exchange::Encoding encoding = exchange::Encoding::Zlib;
    std::string input, output;
    // A heightmap import (IN.tif, IN.png or IN.asc to OUT.map): its options,
    // and the long names of those given, refused for other conversions.
    exchange::HeightmapOptions heightmap;
    std::vector<std::string> heightmapGiven;
};

// Takes a heightmap import's option (--cols, --hex-m, --sea-level,
// --levels) into the options: false when the option is none of them; when
// it is one, `reason` tells a bad value.
bool parseHeightmapOption(const std::string& name, const std::string& value, ConvertOptions& options,
                          std::string& reason);
// The import itself, once the arguments are read.
int runHeightmapImport(const ConvertOptions& options, std::ostream& err);

// Reads tarven-convert's arguments (without the program's name). False with
// the reason when they cannot be used: among them a zoom at which Tiled
// would not draw the cells where Tarven does.
bool parseConvertArguments(const std::vector<std::string>& args, ConvertOptions& options, std::string& reason);

// The tileset image written beside an exported map, named after the whole
// map file and the tile size: "maps/a.tmx", "terrains" and zoom 31 give
// "maps/a.tmx-terrains-42x32.png". So no conversion replaces the images of
// another map, nor those of the same map at another size.
std::string tilesetImagePath(const std::string& mapPath, const char* which, int zoom);

// The cells a .map file cannot hold as they are, which its save changes:
// terrain codes 0 and 9 to 13 (written as '?') and elevations whose
// character would be white space or NUL (written as 0).
struct UnsavableCells {
    std::uint64_t terrains = 0, elevations = 0;
};
UnsavableCells countUnsavable(const HxMap& map);

// The tool: messages on `err`, help and version on `out`. The result is the
// exit code (tools.h).
int runConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools

#endif
