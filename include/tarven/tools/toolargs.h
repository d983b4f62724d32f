// Reading a command-line tool's arguments: one scanner, on getopt_long, for
// every tool, so that they all take their options the same way.
#ifndef TARVEN_TOOLARGS_H
#define TARVEN_TOOLARGS_H

#include <string>
#include <vector>

namespace tools {

struct OptionSpec {
    const char* name;       // the long name with its dashes: "--zoom"
    bool takesValue;
    char shortName = 0;     // a one-letter form such as 'q', or 0
};

struct GivenOption {
    std::string name;       // always the long name: "-q" comes as "--quiet"
    std::string value;      // empty for options without a value
};

// Splits the arguments (without the program's name) into options and file
// names. Options may stand anywhere among the file names, in the forms
// "--name value" and "--name=value", and long names may be shortened while
// they stay unambiguous; "--" ends the options, and "-" alone is a file
// name. Options come back in the order given. False with the reason, for
// example "unknown option '--zom'", "--zoom needs a value" or "--legend
// takes no value".
bool scanArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& known,
                   std::vector<GivenOption>& options, std::vector<std::string>& files, std::string& reason);

// The options every tool takes, read by scanToolArguments; each tool's
// options derive from it.
struct ToolFlags {
    bool help = false, version = false, quiet = false;
};

// scanArguments for a tool: --help and --version, and -q/--quiet where
// `quiet` is true, are added to `known` and come back in `flags`, not in
// `options`. Unless help or version was asked, exactly `fileCount` file
// names must be given: fewer is refused with `missing` as the reason, more
// with `tooMany`.
bool scanToolArguments(const std::vector<std::string>& args, std::vector<OptionSpec> known, bool quiet,
                       std::size_t fileCount, const char* missing, ToolFlags& flags,
                       std::vector<GivenOption>& options, std::vector<std::string>& files, std::string& reason,
                       const char* tooMany = "too many file names");

// What a number outside its range comes to: refused, or taken as the
// nearest end where a tool documents that (tarven-render's --zoom).
enum class OutOfRange { Refuse, Clamp };

// The one reader of whole numbers in the tools' options: decimal digits
// with an optional sign, nothing else. Outside low..high it is refused, or
// with OutOfRange::Clamp taken as the nearest end. False with the reason,
// which quotes the text as typed and names the range:
// "--max-pitch wants a whole number from 1 to 64, not '99'".
bool parseInteger(const std::string& option, const std::string& text, long long low, long long high,
                  long long& value, std::string& reason, OutOfRange out = OutOfRange::Refuse);
// The same into an int; low..high must lie within int.
bool parseInteger(const std::string& option, const std::string& text, int low, int high, int& value,
                  std::string& reason, OutOfRange out = OutOfRange::Refuse);

// The one reader of decimal numbers: digits with at most one point ("25.4",
// "10", ".5"), no sign, no exponent, within low..high. False with the reason
// naming the range: "--dpi wants a number from 1 to 100000, not '0'".
bool parseDecimal(const std::string& option, const std::string& text, double low, double high, double& value,
                  std::string& reason);

// What a value of an option must be, for messages: "a whole number from 1
// to 64", "a whole number of at least 1", "a number from 0.5 to 1000".
std::string wholeRange(long long low, long long high);
std::string decimalRange(double low, double high);

}  // namespace tools

#endif
