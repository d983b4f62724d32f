// The one scanner of the tools' arguments: forms of options, their order
// among file names, and the reasons it gives for arguments it refuses.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "toolargs.h"
#include "tools.h"

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

// The one reader of whole numbers: refused outside the range with the
// range and the text as typed, or clamped where a tool documents that.
TEST(ToolArguments, WholeNumbersWithinTheirRange) {
    using tools::OutOfRange;
    struct NumberRow {
        const char* name;
        const char* text;
        OutOfRange out;
        bool ok;
        long long value;     // when ok
        const char* says;    // the reason, when not
    };
    const NumberRow rows[] = {
        {"plain", "42", OutOfRange::Refuse, true, 42, ""},
        {"plus sign", "+7", OutOfRange::Refuse, true, 7, ""},
        {"the ends", "100", OutOfRange::Refuse, true, 100, ""},
        {"below the range", "-5", OutOfRange::Refuse, false, 0, "--n wants a whole number from 0 to 100, not '-5'"},
        {"above the range", "101", OutOfRange::Refuse, false, 0, "from 0 to 100, not '101'"},
        {"past long long, quoted as typed", "9223372036854775808", OutOfRange::Refuse, false, 0,
         "not '9223372036854775808'"},
        {"far beyond any int", "99999999999999999999999999", OutOfRange::Refuse, false, 0, "'9999999"},
        {"clamped below", "-5", OutOfRange::Clamp, true, 0, ""},
        {"clamped above", "2147483648", OutOfRange::Clamp, true, 100, ""},
        {"clamped far past long long", "-99999999999999999999999999", OutOfRange::Clamp, true, 0, ""},
        {"clamped yet not a number", "x", OutOfRange::Clamp, false, 0, "--n wants a whole number, not 'x'"},
        {"empty", "", OutOfRange::Refuse, false, 0, "not ''"},
        {"sign alone", "-", OutOfRange::Refuse, false, 0, "not '-'"},
        {"trailing junk", "12px", OutOfRange::Refuse, false, 0, "not '12px'"},
        {"blank inside", "1 2", OutOfRange::Refuse, false, 0, "not '1 2'"},
        {"byte above 127", "1\xc3\xa9", OutOfRange::Refuse, false, 0, "not '1"},
    };
    for (const NumberRow& r : rows) {
        long long v = -1;
        std::string reason;
        EXPECT_EQ(tools::parseInteger("--n", r.text, 0, 100, v, reason, r.out), r.ok) << r.name;
        if (r.ok) {
            EXPECT_EQ(v, r.value) << r.name;
        } else {
            EXPECT_NE(reason.find(r.says), std::string::npos) << r.name << ": " << reason;
        }
    }
    // The whole range of long long, and an unbounded top said as such.
    long long v = 0;
    std::string reason;
    const long long lo = std::numeric_limits<long long>::min(), hi = std::numeric_limits<long long>::max();
    EXPECT_TRUE(tools::parseInteger("--n", "-9223372036854775808", lo, hi, v, reason));
    EXPECT_EQ(v, lo);
    EXPECT_FALSE(tools::parseInteger("--n", "0", 1, hi, v, reason));
    EXPECT_EQ(reason, "--n wants a whole number of at least 1, not '0'");
}

TEST(ToolArguments, DecimalsWithinTheirRange) {
    struct DecimalRow {
        const char* name;
        const char* text;
        bool ok;
        double value;
    };
    const DecimalRow rows[] = {
        {"whole", "10", true, 10},       {"point", "25.4", true, 25.4},   {"leading point", ".5", true, 0.5},
        {"low end", "0.5", true, 0.5},   {"below", "0.49", false, 0},     {"above", "1000.1", false, 0},
        {"sign", "-1", false, 0},        {"plus", "+1", false, 0},        {"exponent", "1e2", false, 0},
        {"two points", "1.2.3", false, 0}, {"point alone", ".", false, 0}, {"empty", "", false, 0},
        {"comma", "2,5", false, 0},      {"infinity", "inf", false, 0},   {"hex", "0x10", false, 0},
    };
    for (const DecimalRow& r : rows) {
        double v = -1;
        std::string reason;
        EXPECT_EQ(tools::parseDecimal("--mm", r.text, 0.5, 1000, v, reason), r.ok) << r.name;
        if (r.ok) {
            EXPECT_DOUBLE_EQ(v, r.value) << r.name;
        } else {
            EXPECT_EQ(reason, std::string("--mm wants a number from 0.5 to 1000, not '") + r.text + "'") << r.name;
        }
    }
}

}  // namespace

// Text from files and arguments as messages quote it: printable UTF-8 kept,
// every other byte escaped, long text cut.
TEST(ToolMessages, PrintableEscapesAndCuts) {
    struct Row {
        const char* name;
        std::string text;
        std::string shown;
        std::size_t most = 100;
    };
    const Row rows[] = {
        {"plain", "a map.map", "a map.map"},
        {"escape sequence", "\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"line end and NUL", std::string("a\nb\0c", 5), "a\\x0ab\\x00c"},
        {"delete", "\x7f", "\\x7f"},
        {"UTF-8 kept", "\xc3\x9c" "bersicht-\xe5\x9c\xb0\xe5\x9b\xb3.map", "\xc3\x9c" "bersicht-\xe5\x9c\xb0\xe5\x9b\xb3.map"},
        {"C1 control in UTF-8", "\xc2\x9b" "2J", "\\xc2\\x9b" "2J"},
        {"lone continuation byte", "\x80", "\\x80"},
        {"cut sequence", "\xe5\x9c", "\\xe5\\x9c"},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"cut after the most", std::string(10, 'z'), "zzzz... (6 more bytes)", 4},
    };
    for (const Row& r : rows) EXPECT_EQ(tools::printable(r.text, r.most), r.shown) << r.name;
}
