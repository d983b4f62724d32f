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

// A decimal integer with an optional sign, saturated to low..high. False
// when the text is not one.
bool parseInteger(const std::string& text, long long low, long long high, long long& value);
// The same, saturated to the range of int.
bool parseInt(const std::string& text, int& value);

}  // namespace tools

#endif
