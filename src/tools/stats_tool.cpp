#include <ostream>

#include "hxmap.h"
#include "maprows.h"
#include "toolargs.h"
#include "tools.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-stats INPUT.map\n"
    "Prints how the map's cells divide among elevations and terrains, as\n"
    "percentages of all cells.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 printed, 1 map not loaded or report not written,\n"
    "2 bad arguments.\n";

struct StatsOptions : ToolFlags {
    std::string input;
};

bool parseStatsArguments(const std::vector<std::string>& args, StatsOptions& o, std::string& reason) {
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanToolArguments(args, {}, false, 1, "a map file is needed", o, given, files, reason,
                           "one map file at a time"))
        return false;
    if (o.help || o.version) return true;
    o.input = files[0];
    return true;
}

int stats(const StatsOptions& o, std::ostream& out, std::ostream& err) {
    const char* const tool = "tarven-stats";
    // Counted row by row as the file is read: no grid is held.
    CellCounts counts;
    const auto count = [&](const LoadHooks& hooks, std::string& error) {
        return countMapFile(o.input.c_str(), hooks, counts, error);
    };
    if (!loadFor(tool, o.input, err, count)) return kFailed;
    counts.print(out);
    return flushed(tool, out, err) ? kDone : kFailed;
}

}  // namespace

int runStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return runTool<StatsOptions>(Tool{"tarven-stats", kUsage}, args, out, err, parseStatsArguments, stats);
}

}  // namespace tools
