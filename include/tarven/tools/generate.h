// tarven-generate: a world from a seed, written as a Tarven map; apart from
// its thin entry point so that tests can run it in-process.
#ifndef TARVEN_GENERATE_H
#define TARVEN_GENERATE_H

#include <iosfwd>
#include <string>
#include <vector>

#include "worldgen.h"

#include "toolargs.h"

namespace tools {

struct GenerateOptions : ToolFlags {
    worlds::WorldOptions world;
    bool seedGiven = false;
    std::string output;
};

// Reads tarven-generate's arguments (without the program's name). False
// with the reason, which names the valid range, when they cannot be used;
// shares that add up to more than 100% are refused with the arithmetic.
bool parseGenerateArguments(const std::vector<std::string>& args, GenerateOptions& options, std::string& reason);

// The tool: the seed (when made up), notes and messages on `err`; help and
// version on `out`. The result is the exit code (tools.h).
int runGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools

#endif
