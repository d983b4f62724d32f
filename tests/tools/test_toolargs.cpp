// The one scanner of the tools' arguments: forms of options, their order
// among file names, and the reasons it gives for arguments it refuses.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "toolargs.h"

namespace {

const std::vector<tools::OptionSpec> kSpecs = {
    {"--zoom", true}, {"--quiet", false, 'q'}, {"--max-pixels", true}, {"--max-pages", true}, {"--legend", false}};

// Options as "name=value" and file names as "file:name", in order.
std::string scan(const std::vector<std::string>& args) {
    std::vector<tools::GivenOption> options;
    std::vector<std::string> files;
    std::string reason;
    if (!tools::scanArguments(args, kSpecs, options, files, reason)) return "refused: " + reason;
    std::string seen;
    for (const tools::GivenOption& o : options) seen += o.name + "=" + o.value + " ";
    for (const std::string& f : files) seen += "file:" + f + " ";
    return seen;
}

struct Row {
    const char* name;
    std::vector<std::string> args;
    const char* expected;
};

TEST(ToolArguments, TableOfForms) {
    const Row rows[] = {
        {"value apart", {"--zoom", "8", "a.map", "b.png"}, "--zoom=8 file:a.map file:b.png "},
        {"value joined", {"--zoom=8", "a.map"}, "--zoom=8 file:a.map "},
        {"empty joined value", {"--zoom=", "a.map"}, "--zoom= file:a.map "},
        {"options after files", {"a.map", "b.png", "-q", "--legend"}, "--quiet= --legend= file:a.map file:b.png "},
        {"short name comes as long", {"-q", "a.map"}, "--quiet= file:a.map "},
        {"shortened name", {"--leg", "--zo", "3"}, "--legend= --zoom=3 "},
        {"value that looks like an option", {"--zoom", "-3"}, "--zoom=-3 "},
        {"dash alone is a file", {"-", "b.png"}, "file:- file:b.png "},
        {"double dash ends options", {"--", "--zoom", "-q"}, "file:--zoom file:-q "},
        {"repeated option kept twice", {"--zoom", "1", "--zoom", "2"}, "--zoom=1 --zoom=2 "},
        {"unknown long", {"--zom", "a.map"}, "refused: unknown option '--zom'"},
        {"unknown short in a group", {"-qx"}, "refused: unknown option '-x'"},
        {"ambiguous shortening", {"--max", "5"}, "refused: unknown option '--max'"},
        {"missing value at the end", {"a.map", "--zoom"}, "refused: --zoom needs a value"},
        {"missing value, shortened", {"--max-pa"}, "refused: --max-pages needs a value"},
        {"value on a flag", {"--legend=yes"}, "refused: --legend takes no value"},
        {"value on a shortened flag", {"--qui=1"}, "refused: --quiet takes no value"},
    };
    for (const Row& r : rows) EXPECT_EQ(scan(r.args), r.expected) << r.name;
}

TEST(ToolArguments, ScansAgainFromTheStart) {
    // Each call starts afresh, even after one that stopped half-way.
    EXPECT_EQ(scan({"--zom", "x"}), "refused: unknown option '--zom'");
    EXPECT_EQ(scan({"a", "--zoom", "2"}), "--zoom=2 file:a ");
    EXPECT_EQ(scan({"-q"}), "--quiet= ");
}

}  // namespace

namespace {

TEST(ToolArguments, WholeNumbersSaturateToTheirRange) {
    struct NumberRow {
        const char* name;
        const char* text;
        bool ok;
        long long value;
    };
    const NumberRow rows[] = {
        {"plain", "42", true, 42},
        {"plus sign", "+7", true, 7},
        {"below the range", "-5", true, 0},
        {"above the range", "1000", true, 100},
        {"far beyond any int", "99999999999999999999999999", true, 100},
        {"empty", "", false, 0},
        {"sign alone", "-", false, 0},
        {"trailing junk", "12px", false, 0},
        {"blank inside", "1 2", false, 0},
        {"byte above 127", "1\xc3\xa9", false, 0},
    };
    for (const NumberRow& r : rows) {
        long long v = -1;
        EXPECT_EQ(tools::parseInteger(r.text, 0, 100, v), r.ok) << r.name;
        if (r.ok) {
            EXPECT_EQ(v, r.value) << r.name;
        }
    }
    int i = 0;
    EXPECT_TRUE(tools::parseInt("-99999999999", i));
    EXPECT_EQ(i, std::numeric_limits<int>::min());
}

}  // namespace
