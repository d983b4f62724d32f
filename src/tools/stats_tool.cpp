#include <new>
#include <ostream>

#include "hxmap.h"
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
    std::vector<std::string> files;
    bool optionsEnd = false, help = false, version = false;
    for (const std::string& a : args) {
        if (optionsEnd || a.size() < 2 || a[0] != '-') files.push_back(a);
        else if (a == "--") optionsEnd = true;
        else if (a == "--help") help = true;
        else if (a == "--version") version = true;
        else {
            err << tool << ": unknown option '" << a << "'\n" << kUsage;
            return kMisuse;
        }
    }
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
        HxMap map(0, 0);
        if (!loadMapFor(tool, files[0], map, err)) return kFailed;
        map.statistics(out);
        return flushed(tool, out, err) ? kDone : kFailed;
    } catch (const std::bad_alloc&) {
        err << tool << ": out of memory\n";
        return kFailed;
    }
}

}  // namespace tools
