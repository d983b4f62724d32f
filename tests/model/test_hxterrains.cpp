#include <gtest/gtest.h>

#include <string>

#include "hxterrains.h"

namespace {

struct Colour {
    int r, g, b;
    bool operator==(const Colour& o) const { return r == o.r && g == o.g && b == o.b; }
};
void PrintTo(const Colour& c, std::ostream* os) { *os << c.r << "," << c.g << "," << c.b; }

Colour colourOf(const HxTerrainSet& set, char c, int e, Colour preset = {-7, -8, -9}) {
    set.getTerrainColor(c, e, preset.r, preset.g, preset.b);
    return preset;
}

TEST(TerrainTableTest, RecordsInCatalogueOrder) {
    struct Row {
        const char* name;
        char c;
        int r, g, b, e;
    };
    const Row table[] = {
        {"Heavy forest", '"', 0, 128, 0, -1}, {"Light forest", '`', 0, 192, 0, -1},
        {"Rough", '%', 255, 255, 0, -1},      {"Grassland", ' ', 0, 255, 0, -1},
        {"Road", '#', 192, 192, 192, -1},     {"Wall", '=', 128, 128, 255, -1},
        {"Bridge", '/', 64, 64, 128, -1},     {"Building", '@', 255, 0, 0, 3},
        {"", '@', 192, 0, 0, 6},              {"", '@', 128, 0, 0, 9},
        {"Water", '~', 0, 0, 255, 0},         {"", '~', 0, 0, 128, 6},
        {"Mountain", '^', 244, 170, 100, 3},  {"", '^', 128, 100, 30, 9},
        {"", '?', 0, 255, 255, -1},           {"", '\0', 0, 0, 0, -1},
    };
    const HxTerrainSet set;
    ASSERT_EQ(set.records().size(), std::size(table));
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const HxTerrainInfo& rec = set.records()[i];
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(rec.name, table[i].name);
        EXPECT_EQ(rec.c, table[i].c);
        EXPECT_EQ(Colour({rec.r, rec.g, rec.b}), Colour({table[i].r, table[i].g, table[i].b}));
        EXPECT_EQ(rec.e, table[i].e);
    }
}

TEST(TerrainTableTest, ShadedColoursInterpolateFromTheMainRecord) {
    struct Case {
        char c;
        int e;
        Colour expected;
    };
    const Case cases[] = {
        {'@', 0, {255, 0, 0}},     {'@', 1, {255, 0, 0}},     {'@', 2, {255, 0, 0}},
        {'@', 3, {255, 0, 0}},     {'@', 4, {234, 0, 0}},     {'@', 5, {213, 0, 0}},
        {'@', 6, {191, 0, 0}},     {'@', 7, {170, 0, 0}},     {'@', 8, {149, 0, 0}},
        {'@', 9, {128, 0, 0}},     {'@', 10, {106, 0, 0}},    {'@', -666, {255, 0, 0}},
        {'@', -1, {255, 0, 0}},    {'~', 0, {0, 0, 255}},     {'~', 3, {0, 0, 191}},
        {'~', 6, {0, 0, 128}},     {'~', 10, {0, 0, 43}},     {'~', -666, {0, 0, 255}},
        {'^', 0, {244, 170, 100}}, {'^', 3, {244, 170, 100}}, {'^', 6, {186, 135, 65}},
        {'^', 9, {128, 100, 30}},  {'^', 10, {108, 88, 18}},
    };
    const HxTerrainSet set;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.c << " at " << c.e);
        EXPECT_EQ(colourOf(set, c.c, c.e), c.expected);
    }
}

TEST(TerrainTableTest, FlatColoursHoldAtEveryElevation) {
    struct Case {
        char c;
        Colour expected;
    };
    const Case cases[] = {
        {'#', {192, 192, 192}}, {'?', {0, 255, 255}}, {'\0', {0, 0, 0}},
        {' ', {0, 255, 0}},     {'"', {0, 128, 0}},   {'`', {0, 192, 0}},
    };
    const HxTerrainSet set;
    for (const Case& c : cases)
        for (int e : {-666, -1, 0, 5, 10, 100}) {
            SCOPED_TRACE(testing::Message() << int(c.c) << " at " << e);
            EXPECT_EQ(colourOf(set, c.c, e), c.expected);
        }
}

TEST(TerrainTableTest, UnknownCharactersLeaveThePresetColour) {
    const HxTerrainSet set;
    for (char c : {'x', '\'', '.', '_', static_cast<char>(200)})
        for (int e : {-666, 0, 10}) EXPECT_EQ(colourOf(set, c, e, {1, 2, 3}), Colour({1, 2, 3})) << int(c);
}

TEST(TerrainTableTest, GetTerrainFindsTheHoldingRecord) {
    struct Case {
        char c;
        int e;
        int record;   // 1-based position in the table, 0 for null
    };
    const Case cases[] = {
        {'@', -666, 8}, {'@', -1, 8}, {'@', 0, 8}, {'@', 3, 8}, {'@', 4, 9}, {'@', 6, 9},
        {'@', 7, 10},   {'@', 9, 10}, {'@', 10, 0}, {'~', 0, 11}, {'~', 1, 12}, {'~', 6, 12},
        {'~', 7, 0},    {'^', 3, 13}, {'^', 4, 14}, {'^', 10, 0}, {'%', 0, 3}, {'%', 100, 3},
        {'%', -666, 3}, {'\0', 5, 16}, {'x', 0, 0}, {'x', -666, 0},
    };
    const HxTerrainSet set;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.c) << " at " << c.e);
        const HxTerrainInfo* expected = c.record ? &set.records()[c.record - 1] : nullptr;
        EXPECT_EQ(set.getTerrain(c.c, c.e), expected);
    }
}

}  // namespace
