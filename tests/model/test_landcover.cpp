// The land cover rule: exact counts by rank, ties in index order, water
// left alone, quotas beyond the land taking all of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "landcover.h"

namespace {

struct CoverCase {
    const char* name;
    std::vector<int> height, wet;   // height -1: not land
    landcover::Quotas quotas;
    std::string cover;              // '.' for cells not land
};

class Cover : public ::testing::TestWithParam<CoverCase> {};

TEST_P(Cover, ByRank) {
    const CoverCase& c = GetParam();
    std::string got(c.height.size(), '.');
    landcover::assign(
        c.height.size(), c.quotas, [&](std::uint64_t i) { return c.height[i] >= 0; },
        [&](std::uint64_t i) { return static_cast<std::uint16_t>(c.height[i]); },
        [&](std::uint64_t i) { return static_cast<std::uint16_t>(c.wet[i]); },
        [&](std::uint64_t i, char t) { got[i] = t; });
    EXPECT_EQ(c.cover, got);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Cover,
    ::testing::Values(
        CoverCase{"highest_first", {1, 5, 3, 9, 7}, {0, 0, 0, 0, 0}, {1, 2, 0}, " % ^%"},
        CoverCase{"ties_in_index_order", {4, 4, 4, 4}, {0, 0, 0, 0}, {1, 2, 0}, "^%% "},
        CoverCase{"water_left_alone", {-1, 8, -1, 2}, {0, 0, 0, 0}, {1, 0, 0}, ".^. "},
        CoverCase{"forest_on_the_wettest", {1, 1, 1, 1, 1}, {50, 10, 90, 70, 30}, {0, 0, 5}, "``\"\"`"},
        CoverCase{"quotas_beyond_the_land", {3, 2}, {0, 0}, {5, 5, 5}, "^^"},
        CoverCase{"nothing_asked", {3, 2, 1}, {9, 9, 9}, {0, 0, 0}, "   "}),
    [](const ::testing::TestParamInfo<CoverCase>& info) { return std::string(info.param.name); });

TEST(Cover, ElevationQuotasAreDefaultSharesOfLand) {
    const landcover::Quotas q = landcover::elevationQuotas(700);
    EXPECT_EQ(50u, q.mountains);
    EXPECT_EQ(100u, q.rough);
    EXPECT_EQ(0u, q.forest);
}

}  // namespace
