#include <cstdio>
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
    "Exit status: 0 printed, 1 map not loaded, 2 bad arguments.\n";

}  // namespace

int runStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    bool optionsEnd = false, help = false, version = false;
    for (const std::string& a : args) {
        if (optionsEnd || a.size() < 2 || a[0] != '-') files.push_back(a);
        else if (a == "--") optionsEnd = true;
        else if (a == "--help") help = true;
        else if (a == "--version") version = true;
        else {
            err << "tarven-stats: unknown option '" << a << "'\n" << kUsage;
            return kMisuse;
        }
    }
    if (help) {
        out << kUsage;
        return kDone;
    }
    if (version) {
        out << "tarven-stats (Tarven) " << TARVEN_VERSION << "\n";
        return kDone;
    }
    if (files.size() != 1) {
        err << "tarven-stats: " << (files.empty() ? "a map file is needed" : "one map file at a time") << "\n"
            << kUsage;
        return kMisuse;
    }
    HxMap map(0, 0);
    const bool loaded = map.loadMap(files[0].c_str());
    std::fflush(stdout);
    if (!loaded) return kFailed;
    map.statistics(out);
    out.flush();
    return kDone;
}

}  // namespace tools
