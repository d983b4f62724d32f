#include "toolargs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

#include <getopt.h>

namespace tools {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// The long option an argument names, by its exact or shortened name; null
// when it names none or several.
const OptionSpec* namedBy(const std::string& arg, const std::vector<OptionSpec>& known) {
    const std::string name = arg.substr(0, arg.find('='));
    const OptionSpec* found = nullptr;
    for (const OptionSpec& s : known) {
        if (name == s.name) return &s;
        if (name.size() > 2 && std::strncmp(s.name, name.c_str(), name.size()) == 0) {
            if (found) return nullptr;
            found = &s;
        }
    }
    return found;
}

}  // namespace

bool scanArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& known,
                   std::vector<GivenOption>& options, std::vector<std::string>& files, std::string& reason) {
    // getopt_long wants a writable argv and reports options by number: the
    // index into known, past the range of characters.
    constexpr int kFirst = 256;
    std::vector<std::string> copies(args);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("tool"));
    for (std::string& a : copies) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    std::vector<option> table;
    // "-": file names come back in place, as code 1; ":": a missing value
    // is told apart from an unknown option.
    std::string shortOptions = "-:";
    for (std::size_t k = 0; k < known.size(); ++k) {
        table.push_back(option{known[k].name + 2, known[k].takesValue ? required_argument : no_argument, nullptr,
                               kFirst + static_cast<int>(k)});
        if (known[k].shortName) {
            shortOptions += known[k].shortName;
            if (known[k].takesValue) shortOptions += ':';
        }
    }
    table.push_back(option{nullptr, 0, nullptr, 0});

    auto specOf = [&](int code) -> const OptionSpec* {
        if (code >= kFirst) return &known[static_cast<std::size_t>(code - kFirst)];
        for (const OptionSpec& s : known)
            if (code > 0 && s.shortName == code) return &s;
        return nullptr;
    };
    const int argc = static_cast<int>(argv.size()) - 1;
    opterr = 0;
    optind = 0;   // a fresh scan, for each call
    for (;;) {
        const int before = optind < 1 ? 1 : optind;
        const int code = getopt_long(argc, argv.data(), shortOptions.c_str(), table.data(), nullptr);
        if (code == -1) break;
        if (code == 1) {
            files.push_back(optarg);
            continue;
        }
        // The argument getopt_long was reading when it stopped.
        const std::string arg = before < argc ? argv[before] : "";
        if (code == ':') {
            const OptionSpec* s = specOf(optopt);
            reason = std::string(s ? s->name : arg.c_str()) + " needs a value";
            return false;
        }
        if (code == '?') {
            const OptionSpec* s = arg.compare(0, 2, "--") == 0 ? namedBy(arg, known) : nullptr;
            if (s && !s->takesValue && arg.find('=') != std::string::npos) reason = std::string(s->name) + " takes no value";
            else if (optopt > 0 && optopt < kFirst && arg.compare(0, 2, "--") != 0)
                reason = "unknown option " + quoted(std::string("-") + static_cast<char>(optopt));
            else reason = "unknown option " + quoted(arg);
            return false;
        }
        const OptionSpec* s = specOf(code);
        options.push_back(GivenOption{s->name, s->takesValue && optarg ? optarg : ""});
    }
    // What follows "--" is left in place for the caller.
    for (int i = optind; i < argc; ++i) files.push_back(argv[static_cast<std::size_t>(i)]);
    return true;
}

bool scanToolArguments(const std::vector<std::string>& args, std::vector<OptionSpec> known, bool quiet,
                       std::size_t fileCount, const char* missing, ToolFlags& flags,
                       std::vector<GivenOption>& options, std::vector<std::string>& files, std::string& reason,
                       const char* tooMany) {
    known.push_back({"--help", false});
    known.push_back({"--version", false});
    if (quiet) known.push_back({"--quiet", false, 'q'});
    std::vector<GivenOption> given;
    if (!scanArguments(args, known, given, files, reason)) return false;
    for (GivenOption& g : given) {
        if (g.name == "--help") flags.help = true;
        else if (g.name == "--version") flags.version = true;
        else if (g.name == "--quiet") flags.quiet = true;
        else options.push_back(std::move(g));
    }
    if (flags.help || flags.version || files.size() == fileCount) return true;
    reason = files.size() < fileCount ? missing : tooMany;
    return false;
}

std::string wholeRange(long long low, long long high) {
    if (high == std::numeric_limits<long long>::max()) return "a whole number of at least " + std::to_string(low);
    return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

std::string decimalRange(double low, double high) {
    char text[64];
    std::snprintf(text, sizeof text, "a number from %g to %g", low, high);
    return text;
}

bool parseInteger(const std::string& option, const std::string& text, long long low, long long high,
                  long long& value, std::string& reason, OutOfRange out) {
    const auto refuse = [&] {
        reason = option + " wants " + (out == OutOfRange::Clamp ? "a whole number" : wholeRange(low, high)) +
                 ", not " + quoted(text);
        return false;
    };
    const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
    const bool negative = sign && text[0] == '-';
    std::size_t i = sign ? 1 : 0;
    if (i == text.size()) return refuse();
    // Counted in unsigned magnitude; beyond the range of long long only the
    // side it lies on matters.
    unsigned long long magnitude = 0;
    bool huge = false;
    for (; i < text.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(text[i]) - 48u;
        if (d > 9) return refuse();
        if (magnitude > (std::numeric_limits<unsigned long long>::max() - d) / 10) huge = true;
        else magnitude = magnitude * 10 + d;
    }
    constexpr unsigned long long kMax = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    bool below = false, above = false;
    long long v = 0;
    if (huge || magnitude > kMax + (negative ? 1 : 0)) {
        (negative ? below : above) = true;
    } else {
        v = negative ? (magnitude == kMax + 1 ? std::numeric_limits<long long>::min()
                                              : -static_cast<long long>(magnitude))
                     : static_cast<long long>(magnitude);
        below = v < low;
        above = v > high;
    }
    if (below || above) {
        if (out == OutOfRange::Refuse) return refuse();
        v = below ? low : high;
    }
    value = v;
    return true;
}

bool parseInteger(const std::string& option, const std::string& text, int low, int high, int& value,
                  std::string& reason, OutOfRange out) {
    long long v = 0;
    if (!parseInteger(option, text, static_cast<long long>(low), static_cast<long long>(high), v, reason, out))
        return false;
    value = static_cast<int>(v);
    return true;
}

bool parseDecimal(const std::string& option, const std::string& text, double low, double high, double& value,
                  std::string& reason) {
    int dots = 0, digits = 0;
    for (const char c : text) {
        if (c == '.') ++dots;
        else if (c >= '0' && c <= '9') ++digits;
        else digits = -1000000;
    }
    // from_chars reads the point whatever the locale says.
    double v = -1;
    if (dots <= 1 && digits > 0) std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (dots > 1 || digits <= 0 || !(v >= low && v <= high)) {
        reason = option + " wants " + decimalRange(low, high) + ", not " + quoted(text);
        return false;
    }
    value = v;
    return true;
}

}  // namespace tools
