// tarven-convert's heightmap import: a raster through GDAL into a map.
#include <climits>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <ostream>

#include <pthread.h>
#include <signal.h>

#include "convert.h"
#include "heightmap.h"
#include "hxmap.h"
#include "outputfile.h"
#include "progress.h"
#include "toolargs.h"
#include "tools.h"

namespace tools {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool parseNumber(const std::string& text, double& value) {
    if (text.empty() || text.size() > 64) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v)) return false;
    value = v;
    return true;
}

}  // namespace

bool parseHeightmapOption(const std::string& name, const std::string& value, ConvertOptions& o,
                          std::string& reason) {
    exchange::HeightmapOptions& h = o.heightmap;
    if (name == "--cols") {
        parseInteger(name, value, 1, 65536, h.cols, reason);
    } else if (name == "--hex-m") {
        if (!parseNumber(value, h.hexMetres) || h.hexMetres <= 0 || h.hexMetres > 1e7)
            reason = "--hex-m must be a number of metres above 0 and at most 10000000, not " + quoted(value);
    } else if (name == "--sea-level") {
        if (!parseNumber(value, h.seaLevel)) reason = "--sea-level must be a number, not " + quoted(value);
        h.seaLevelGiven = true;
    } else if (name == "--levels") {
        if (value == "linear" || value == "quantile") h.quantile = value == "quantile";
        else reason = "--levels must be linear or quantile, not " + quoted(value);
    } else {
        return false;
    }
    o.heightmapGiven.push_back(name);
    return true;
}

int runHeightmapImport(const ConvertOptions& o, std::ostream& err) {
    const char* const tool = "tarven-convert";
    std::string error;
    if (!checkOutput(o.output, {o.input}, error)) {
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    try {
        Progress progress("Converting " + quoted(o.input), o.quiet);
        HxMap map(0, 0);
        exchange::HeightmapReport report;
        if (!exchange::importHeightmap(o.input, o.heightmap, map, report, error,
                                       [&](double f) { progress.update(0.9 * f); })) {
            err << tool << ": " << quoted(o.input) << ": " << error << "\n";
            return kFailed;
        }
        if (!o.quiet && report.emptyHexes > 0)
            err << tool << ": " << quoted(o.input) << ": " << report.emptyHexes << " of "
                << static_cast<unsigned long long>(map.xs()) * static_cast<unsigned long long>(map.ys())
                << " hexes hold no data; they are '?' at elevation 0\n";
        const bool saved = map.saveMap(o.output.c_str());
        std::fflush(stdout);
        if (!saved) {
            err << tool << ": cannot write " << quoted(o.output) << ": " << map.lastError() << "\n";
            return kFailed;
        }
        progress.finish();
        return kDone;
    } catch (const std::bad_alloc&) {
        err << tool << ": " << quoted(o.input) << ": out of memory\n";
        return kFailed;
    }
}

}  // namespace tools
