// tarven-generate as a tool: its refusals name the valid range, a fresh seed
// is told and makes the same map again, notes say what could not be done.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "generate.h"
#include "hxmap.h"
#include "tempdir.h"
#include "tools.h"

namespace {

using tarventest::TempDir;

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun generate(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = tools::runGenerate(args, out, err);
    return ToolRun{code, out.str(), err.str()};
}

std::string bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct BadArgs {
    const char* name;
    std::vector<std::string> args;
    const char* says;
};

class GenerateMisuse : public ::testing::TestWithParam<BadArgs> {};

TEST_P(GenerateMisuse, ExitTwoNamingTheRange) {
    TempDir dir;
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args)
        if (a == "@") a = dir / "w.map";
    const ToolRun run = generate(args);
    EXPECT_EQ(tools::kMisuse, run.code);
    EXPECT_NE(std::string::npos, run.err.find(GetParam().says)) << run.err;
    EXPECT_TRUE(dir.entries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, GenerateMisuse,
    ::testing::Values(
        BadArgs{"size_too_small", {"--size", "3x10", "@"}, "each 4..16384"},
        BadArgs{"size_not_a_size", {"--size", "big", "@"}, "COLUMNSxROWS"},
        BadArgs{"size_too_many_cells", {"--size", "16384x16384", "@"}, "at most 100000000 cells"},
        BadArgs{"water_above_100", {"--water", "101", "@"}, "--water wants a number from 0 to 100"},
        BadArgs{"forest_negative", {"--forest", "-1", "@"}, "from 0 to 100"},
        BadArgs{"mountains_nan", {"--mountains", "nan", "@"}, "from 0 to 100"},
        BadArgs{"rivers_too_many", {"--rivers", "1001", "@"}, "--rivers wants a whole number from 0 to 1000"},
        BadArgs{"towns_not_a_number", {"--towns", "some", "@"}, "from 0 to 1000"},
        BadArgs{"seed_negative", {"--seed", "-1", "@"}, "from 0 to 18446744073709551615"},
        BadArgs{"seed_too_large", {"--seed", "18446744073709551616", "@"}, "from 0 to 18446744073709551615"},
        BadArgs{"shares_too_large", {"--water", "80", "--forest", "50", "@"}, "--water 80% + --forest 50% = 130%"},
        BadArgs{"not_a_map", {"out.png"}, "is not a .map file"},
        BadArgs{"no_output", {"--seed", "1"}, "an output file is needed"}),
    [](const ::testing::TestParamInfo<BadArgs>& info) { return std::string(info.param.name); });

TEST(Generate, FreshSeedIsToldAndMakesTheMapAgain) {
    TempDir dir;
    const ToolRun first = generate({"--size", "60x40", "--quiet", dir / "a.map"});
    ASSERT_EQ(0, first.code) << first.err;
    const std::size_t at = first.err.find("--seed ");
    ASSERT_NE(std::string::npos, at) << first.err;
    const std::string seed = first.err.substr(at + 7, first.err.find(' ', at + 7) - at - 7);
    ASSERT_EQ(0, generate({"--size", "60x40", "--seed", seed, dir / "b.map"}).code);
    EXPECT_EQ(bytes(dir / "a.map"), bytes(dir / "b.map"));
    EXPECT_EQ(std::vector<std::string>({"a.map", "b.map"}), dir.entries());
}

TEST(Generate, MissingFolderRefusedBeforeTheWork) {
    TempDir dir;
    const ToolRun run = generate({"--seed", "1", dir / "none/w.map"});
    EXPECT_EQ(tools::kFailed, run.code);
    EXPECT_NE(std::string::npos, run.err.find("cannot write '" + dir / "none/w.map" + "'")) << run.err;
    EXPECT_TRUE(dir.entries().empty());
}

TEST(Generate, TooManyTownsGetANoteUnlessQuiet) {
    TempDir dir;
    const ToolRun loud = generate({"--size", "30x20", "--seed", "5", "--towns", "500", dir / "t.map"});
    ASSERT_EQ(0, loud.code);
    EXPECT_NE(std::string::npos, loud.err.find("of 500 towns")) << loud.err;
    EXPECT_EQ(std::string::npos, loud.err.find("seed 5"));   // a seed given is not told
    const ToolRun quiet = generate({"--size", "30x20", "--seed", "5", "--towns", "500", "-q", dir / "t.map"});
    EXPECT_EQ("", quiet.err);
    HxMap map(1, 1);
    ASSERT_TRUE(map.loadMap((dir / "t.map").c_str()));
    EXPECT_EQ(30, map.xs());
    EXPECT_EQ(20, map.ys());
}

}  // namespace
