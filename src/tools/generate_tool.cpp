#include "generate.h"

#include <cerrno>
#include <cstring>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <ostream>
#include <random>
#include <system_error>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "hxmap.h"
#include "landcover.h"
#include "outputfile.h"
#include "progress.h"
#include "toolargs.h"
#include "tools.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-generate [OPTIONS] OUTPUT.map\n"
    "Makes a world from a seed: hills from fractal noise, sea, lakes and\n"
    "rivers that run downhill, mountains, rough, forest and grassland, towns\n"
    "by the water and roads between them. The same options and seed make the\n"
    "same file on every machine.\n"
    "\n"
    "  --size WxH        columns and rows, 4..16384 each and at most 100000000\n"
    "                    cells (default 200x150)\n"
    "  --seed N          0..18446744073709551615 (default: a fresh one, told on\n"
    "                    standard error)\n"
    "  --water P         percent of the cells under water: sea, lakes, rivers\n"
    "                    (0..100, default 30)\n"
    "  --forest P        percent of the cells in forest (default 25 in every 70\n"
    "                    of land)\n"
    "  --mountains P     percent of the cells in mountains (default 5 in 70)\n"
    "  --rough P         percent of the cells in rough (default 10 in 70)\n"
    "  --rivers N        0..1000 (default: one for every 5000 cells, 1..200)\n"
    "  --towns N         0..1000 (default: one for every 3750 cells, 2..200)\n"
    "  --island          land in the middle, sea at the edges\n"
    "  -q, --quiet       no progress and no notes (a fresh seed is still told)\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 failed (nothing written), 2 bad arguments.\n";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool parseSeed(const std::string& text, std::uint64_t& seed) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0) return false;
    seed = v;
    return true;
}

bool parseSize(const std::string& text, int& cols, int& rows) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    long long w = 0, h = 0;
    std::string unused;
    if (!parseInteger("--size", text.substr(0, x), LLONG_MIN, LLONG_MAX, w, unused) ||
        !parseInteger("--size", text.substr(x + 1), LLONG_MIN, LLONG_MAX, h, unused))
        return false;
    if (w < worlds::kMinSide || h < worlds::kMinSide || w > worlds::kMaxSide || h > worlds::kMaxSide ||
        w * h > worlds::kMaxCells)
        return false;
    cols = static_cast<int>(w);
    rows = static_cast<int>(h);
    return true;
}

std::uint64_t freshSeed() {
    std::random_device device;
    std::uint64_t s = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    s ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return s;
}

}  // namespace

bool parseGenerateArguments(const std::vector<std::string>& args, GenerateOptions& o, std::string& reason) {
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanToolArguments(args,
                           {{"--size", true}, {"--seed", true}, {"--water", true}, {"--forest", true},
                            {"--mountains", true}, {"--rough", true}, {"--rivers", true}, {"--towns", true},
                            {"--island", false}},
                           true, 1, "an output file is needed", o, given, files, reason, "one output file at a time"))
        return false;
    for (const GivenOption& g : given) {
        const std::string& v = g.value;
        worlds::WorldOptions& w = o.world;
        if (g.name == "--island") {
            w.island = true;
        } else if (g.name == "--size") {
            if (!parseSize(v, w.cols, w.rows)) {
                reason = "the size must be COLUMNSxROWS, each 4..16384 and at most 100000000 cells, not " + quoted(v);
                return false;
            }
        } else if (g.name == "--seed") {
            if (!parseSeed(v, w.seed)) {
                reason = "the seed must be a whole number from 0 to 18446744073709551615, not " + quoted(v);
                return false;
            }
            o.seedGiven = true;
        } else if (g.name == "--rivers" || g.name == "--towns") {
            const int high = g.name == "--rivers" ? worlds::kMaxRivers : worlds::kMaxTowns;
            if (!parseInteger(g.name, v, 0, high, g.name == "--rivers" ? w.rivers : w.towns, reason)) return false;
        } else {
            double& share = g.name == "--water"    ? w.water
                            : g.name == "--forest" ? w.forest
                            : g.name == "--mountains" ? w.mountains
                                                      : w.rough;
            // A percentage, with or without its sign.
            const std::string number = !v.empty() && v.back() == '%' ? v.substr(0, v.size() - 1) : v;
            if (!parseDecimal(g.name, number, 0, 100, share, reason)) return false;
        }
    }
    if (o.help || o.version) return true;
    o.output = files[0];
    if (extensionOf(o.output) != "map") {
        reason = "the output " + quoted(o.output) + " is not a .map file";
        return false;
    }
    worlds::Shares shares;
    return worlds::settleShares(o.world, shares, reason);
}

namespace {

int generate(GenerateOptions o, std::ostream&, std::ostream& err) {
    const char* const tool = "tarven-generate";
    std::string error;
    if (!checkOutput(o.output, {}, error)) {
        err << tool << ": " << error << "\n";
        return kFailed;
    }
    // A folder the map cannot go into is found before the work, not after.
    const std::size_t slash = o.output.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : o.output.substr(0, slash);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        err << tool << ": cannot write " << quoted(o.output) << ": " << std::strerror(errno) << "\n";
        return kFailed;
    }
    if (!o.seedGiven) {
        o.world.seed = freshSeed();
        err << tool << ": seed " << o.world.seed << " (--seed " << o.world.seed << " makes this map again)\n";
    }
    Progress progress("Generating " + quoted(o.output), o.quiet);
    HxMap map(0, 0);
    worlds::WorldReport report;
    worlds::generate(o.world, map, report, [&](double f) { progress.update(0.9 * f); });
    if (!o.quiet)
        for (const std::string& note : report.notes) err << tool << ": note: " << note << "\n";
    // The model's safe save: its temporary file is removed on a signal.
    if (!map.saveMap(o.output.c_str())) {
        err << tool << ": cannot write " << quoted(o.output) << ": " << map.lastError() << "\n";
        return kFailed;
    }
    progress.finish();
    return kDone;
}

}  // namespace

int runGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return runTool<GenerateOptions>(Tool{"tarven-generate", kUsage}, args, out, err, parseGenerateArguments, generate);
}

}  // namespace tools
