// tarven-convert: a Tarven map to a Tiled TMX or TMJ map and back, apart from
// its thin entry point so that tests can run it in-process.
#ifndef TARVEN_CONVERT_H
#define TARVEN_CONVERT_H

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "hxpicture.h"
#include "mapexchange.h"

namespace tools {

struct ConvertOptions {
    int zoom = exchange::kDefaultZoom;
    exchange::Encoding encoding = exchange::Encoding::Zlib;
    bool quiet = false;
    std::string input, output;
    bool help = false, version = false;
};

// Reads tarven-convert's arguments (without the program's name). False with
// the reason when they cannot be used: among them a zoom at which Tiled
// would not draw the cells where Tarven does.
bool parseConvertArguments(const std::vector<std::string>& args, ConvertOptions& options, std::string& reason);

// The tileset image written beside an exported map: "maps/a.tmx" and
// "terrains" give "maps/a-terrains.png".
std::string tilesetImagePath(const std::string& mapPath, const char* which);

// The tool: messages on `err`, help and version on `out`. The result is the
// exit code (tools.h).
int runConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools

#endif
