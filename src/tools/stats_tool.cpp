#include <new>
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

}  // namespace

int runStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const char* const tool = "tarven-stats";
    const std::vector<OptionSpec> known = {{"--help", false}, {"--version", false}};
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    std::string reason;
    if (!scanArguments(args, known, given, files, reason)) {
        err << tool << ": " << reason << "\n" << kUsage;
        return kMisuse;
    }
    bool help = false, version = false;
    for (const GivenOption& g : given) (g.name == "--help" ? help : version) = true;
    if (help || version) {
        if (help) out << kUsage;
        else out << tool << " (Tarven) " << TARVEN_VERSION << "\n";
        return flushed(tool, out, err) ? kDone : kFailed;
    }
    if (files.size() != 1) {
        err << tool << ": " << (files.empty() ? "a map file is needed" : "one map file at a time") << "\n"
            << kUsage;
        return kMisuse;
    }
    try {
        // Counted row by row as the file is read: no grid is held.
        CellCounts counts;
        const auto count = [&](const LoadHooks& hooks) {
            std::string error;
            return countMapFile(files[0].c_str(), hooks, counts, error);
        };
        if (!loadFor(tool, files[0], err, count)) return kFailed;
        counts.print(out);
        return flushed(tool, out, err) ? kDone : kFailed;
    } catch (const std::bad_alloc&) {
        err << tool << ": out of memory\n";
        return kFailed;
    }
}

}  // namespace tools
