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

bool parseShare(const std::string& text, double& value) {
    if (text.empty() || text.size() > 32) return false;
    std::string t = text;
    if (t.back() == '%') t.pop_back();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(t.c_str(), &end);
    if (t.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < 0 || v > 100) return false;
    value = v;
    return true;
}

bool parseCount(const std::string& text, int high, int& value) {
    long long v = 0;
    if (!parseInteger(text, LLONG_MIN, LLONG_MAX, v) || v < 0 || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

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
    if (!parseInteger(text.substr(0, x), LLONG_MIN, LLONG_MAX, w) ||
        !parseInteger(text.substr(x + 1), LLONG_MIN, LLONG_MAX, h))
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
    const std::vector<OptionSpec> known = {
        {"--help", false},     {"--version", false}, {"--quiet", false, 'q'}, {"--size", true},
        {"--seed", true},      {"--water", true},    {"--forest", true},      {"--mountains", true},
        {"--rough", true},     {"--rivers", true},   {"--towns", true},       {"--island", false}};
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanArguments(args, known, given, files, reason)) return false;
    for (const GivenOption& g : given) {
        const std::string& v = g.value;
        worlds::WorldOptions& w = o.world;
        if (g.name == "--help") {
            o.help = true;
        } else if (g.name == "--version") {
            o.version = true;
        } else if (g.name == "--quiet") {
            o.quiet = true;
        } else if (g.name == "--island") {
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
            if (!parseCount(v, high, g.name == "--rivers" ? w.rivers : w.towns)) {
                reason = g.name + " must be a whole number from 0 to " + std::to_string(high) + ", not " + quoted(v);
                return false;
            }
        } else {
            double& share = g.name == "--water"    ? w.water
                            : g.name == "--forest" ? w.forest
                            : g.name == "--mountains" ? w.mountains
                                                      : w.rough;
            if (!parseShare(v, share)) {
                reason = g.name + " must be a percentage from 0 to 100, not " + quoted(v);
                return false;
            }
        }
    }
    if (o.help || o.version) return true;
    if (files.size() != 1) {
        reason = files.empty() ? "an output file is needed" : "one output file at a time";
        return false;
    }
    o.output = files[0];
    if (extensionOf(o.output) != "map") {
        reason = "the output " + quoted(o.output) + " is not a .map file";
        return false;
    }
    worlds::Shares shares;
    return worlds::settleShares(o.world, shares, reason);
}

int runGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const char* const tool = "tarven-generate";
    GenerateOptions o;
    std::string reason;
    if (!parseGenerateArguments(args, o, reason)) {
        err << tool << ": " << reason << "\n" << kUsage;
        return kMisuse;
    }
    if (o.help || o.version) {
        if (o.help) out << kUsage;
        else out << tool << " (Tarven) " << TARVEN_VERSION << "\n";
        return flushed(tool, out, err) ? kDone : kFailed;
    }
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
    try {
        Progress progress("Generating " + quoted(o.output), o.quiet);
        HxMap map(0, 0);
        worlds::WorldReport report;
        worlds::generate(o.world, map, report, [&](double f) { progress.update(0.9 * f); });
        if (!o.quiet)
            for (const std::string& note : report.notes) err << tool << ": note: " << note << "\n";
        // The model's save, through a temporary file of its own that the
        // signal cleanup does not know: the signals wait until it is done.
        sigset_t stop, before;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        sigaddset(&stop, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &stop, &before);
        const bool saved = map.saveMap(o.output.c_str());
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        std::fflush(stdout);
        if (!saved) {
            err << tool << ": cannot write " << quoted(o.output) << ": " << map.lastError() << "\n";
            return kFailed;
        }
        progress.finish();
        return kDone;
    } catch (const std::bad_alloc&) {
        err << tool << ": out of memory for a map of " << o.world.cols << " x " << o.world.rows << " cells\n";
        return kFailed;
    } catch (const std::system_error& e) {
        err << tool << ": cannot start the noise's second thread: " << e.what() << "\n";
        return kFailed;
    }
}

}  // namespace tools
