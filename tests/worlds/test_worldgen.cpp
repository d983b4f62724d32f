// The world generator, checked on the maps it makes: the same seed makes the
// same bytes, water runs downhill and never pools on land, the shares hold,
// and the towns are joined by roads that bridge only water.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "hxmap.h"
#include "landcover.h"
#include "worldgen.h"

namespace {

using worlds::WorldOptions;
using worlds::WorldReport;

// A world made from the options: its map and the report of what was made.
struct World {
    HxMap map{0, 0};
    WorldReport report;
    explicit World(const WorldOptions& o) { worlds::generate(o, map, report); }
};

WorldOptions small(std::uint64_t seed) {
    WorldOptions o;
    o.cols = 120;
    o.rows = 90;
    o.seed = seed;
    return o;
}

std::string bytesOf(const WorldOptions& o) {
    World world(o);
    auto& [map, report] = world;
    char name[] = "/tmp/tarven-world-XXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    EXPECT_TRUE(map.saveMap(name));
    std::ifstream in(name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(name);
    return bytes;
}

bool isWater(char t) { return t == landcover::kWater || t == landcover::kBridge; }

template <class F>
void eachNeighbour(const HxMap& map, int x, int y, F f) {
    for (int k = 0; k < 6; ++k) {
        int nx, ny;
        worlds::neighbour(x, y, k, nx, ny);
        if (map.valid(nx, ny)) f(nx, ny);
    }
}

TEST(WorldGen, SameSeedSameBytesOtherSeedOtherMap) {
    const std::string a = bytesOf(small(17));
    EXPECT_EQ(a, bytesOf(small(17)));
    EXPECT_NE(a, bytesOf(small(18)));
    WorldOptions island = small(17);
    island.island = true;
    EXPECT_NE(a, bytesOf(island));
}

TEST(WorldGen, NeighboursAreOneStepAndSymmetric) {
    for (int x = 0; x < 4; ++x)
        for (int k = 0; k < 6; ++k) {
            int nx, ny, bx, by;
            worlds::neighbour(x, 5, k, nx, ny);
            EXPECT_EQ(1, worlds::hexDistance(x, 5, nx, ny));
            worlds::neighbour(nx, ny, (k + 3) % 6, bx, by);
            EXPECT_EQ(x, bx);
            EXPECT_EQ(5, by);
        }
    EXPECT_EQ(3, worlds::hexDistance(0, 0, 3, 0));
    EXPECT_EQ(4, worlds::hexDistance(2, 1, 2, 5));
}

class Worlds : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(Worlds, RiversRunDownhillToSeaLakeOrEdge) {
    WorldOptions o = small(GetParam());
    o.rivers = 8;
    World world(o);
    auto& [map, report] = world;
    ASSERT_FALSE(report.rivers.empty());
    std::set<std::uint32_t> riverCells;
    for (const auto& path : report.rivers) riverCells.insert(path.begin(), path.end());
    for (const auto& path : report.rivers) {
        for (std::size_t k = 0; k + 1 < path.size(); ++k) {
            const int x1 = static_cast<int>(path[k] % o.cols), y1 = static_cast<int>(path[k] / o.cols);
            const int x2 = static_cast<int>(path[k + 1] % o.cols), y2 = static_cast<int>(path[k + 1] / o.cols);
            ASSERT_EQ(1, worlds::hexDistance(x1, y1, x2, y2));
            ASSERT_LE(map.e(x2, y2), map.e(x1, y1)) << "uphill at " << x2 << "," << y2;
        }
        const int x = static_cast<int>(path.back() % o.cols), y = static_cast<int>(path.back() / o.cols);
        bool ends = x == 0 || y == 0 || x == o.cols - 1 || y == o.rows - 1;
        eachNeighbour(map, x, y, [&](int nx, int ny) {
            if (map.t(nx, ny) == landcover::kWater && !riverCells.count(static_cast<std::uint32_t>(ny * o.cols + nx)) &&
                map.e(nx, ny) <= map.e(x, y))
                ends = true;
        });
        EXPECT_TRUE(ends) << "a river ends on land at " << x << "," << y;
    }
}

// Every land cell can flow, never uphill, to water or the map's edge: no
// pit on land that is not a lake.
TEST_P(Worlds, NoClosedDepressionOnLand) {
    WorldOptions o = small(GetParam());
    World world(o);
    auto& [map, report] = world;
    std::vector<char> drains(static_cast<std::size_t>(o.cols) * o.rows, 0);
    std::vector<std::pair<int, int>> queue;
    for (int y = 0; y < o.rows; ++y)
        for (int x = 0; x < o.cols; ++x)
            if (isWater(map.t(x, y)) || x == 0 || y == 0 || x == o.cols - 1 || y == o.rows - 1) {
                drains[static_cast<std::size_t>(y) * o.cols + x] = 1;
                queue.emplace_back(x, y);
            }
    while (!queue.empty()) {
        const auto [x, y] = queue.back();
        queue.pop_back();
        eachNeighbour(map, x, y, [&](int nx, int ny) {
            char& d = drains[static_cast<std::size_t>(ny) * o.cols + nx];
            if (!d && map.e(nx, ny) >= map.e(x, y)) {
                d = 1;
                queue.emplace_back(nx, ny);
            }
        });
    }
    for (int y = 0; y < o.rows; ++y)
        for (int x = 0; x < o.cols; ++x)
            ASSERT_TRUE(drains[static_cast<std::size_t>(y) * o.cols + x]) << "a closed pit at " << x << "," << y;
}

TEST_P(Worlds, TownsByWaterJoinedByRoadsBridgesOnlyOverWater) {
    WorldOptions o = small(GetParam());
    o.towns = 6;
    World world(o);
    auto& [map, report] = world;
    ASSERT_EQ(6u, report.towns.size()) << (report.notes.empty() ? "" : report.notes[0]);
    // The same world without towns: its water is where the bridges may go.
    WorldOptions bare = o;
    bare.towns = 0;
    HxMap plain(0, 0);
    WorldReport plainReport;
    worlds::generate(bare, plain, plainReport);
    for (int y = 0; y < o.rows; ++y)
        for (int x = 0; x < o.cols; ++x) {
            const char t = map.t(x, y);
            if (t == landcover::kBridge) {
                EXPECT_EQ(landcover::kWater, plain.t(x, y)) << x << "," << y;
            }
            if (t == landcover::kRoad || t == landcover::kTown || t == landcover::kWall) {
                EXPECT_NE(landcover::kWater, plain.t(x, y)) << x << "," << y;
            }
            EXPECT_EQ(plain.e(x, y), map.e(x, y));
        }
    // Roads, bridges, towns and walls join every town to the first.
    auto network = [](char t) {
        return t == landcover::kRoad || t == landcover::kBridge || t == landcover::kTown || t == landcover::kWall;
    };
    std::vector<char> reached(static_cast<std::size_t>(o.cols) * o.rows, 0);
    const int sx = static_cast<int>(report.towns[0] % o.cols), sy = static_cast<int>(report.towns[0] / o.cols);
    std::vector<std::pair<int, int>> queue{{sx, sy}};
    reached[report.towns[0]] = 1;
    while (!queue.empty()) {
        const auto [x, y] = queue.back();
        queue.pop_back();
        eachNeighbour(map, x, y, [&](int nx, int ny) {
            char& r = reached[static_cast<std::size_t>(ny) * o.cols + nx];
            if (!r && network(map.t(nx, ny))) {
                r = 1;
                queue.emplace_back(nx, ny);
            }
        });
    }
    int walls = 0;
    for (std::uint32_t town : report.towns) {
        const int x = static_cast<int>(town % o.cols), y = static_cast<int>(town / o.cols);
        EXPECT_EQ(landcover::kTown, map.t(x, y));
        EXPECT_TRUE(reached[town]) << "town at " << x << "," << y << " not joined";
        int nearest = 99;
        for (int wy = std::max(0, y - 2); wy <= std::min(o.rows - 1, y + 2); ++wy)
            for (int wx = std::max(0, x - 2); wx <= std::min(o.cols - 1, x + 2); ++wx)
                if (plain.t(wx, wy) == landcover::kWater) nearest = std::min(nearest, worlds::hexDistance(x, y, wx, wy));
        EXPECT_LE(nearest, 2) << "town at " << x << "," << y;
    }
    for (int y = 0; y < o.rows; ++y)
        for (int x = 0; x < o.cols; ++x) walls += map.t(x, y) == landcover::kWall;
    EXPECT_GT(walls, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Worlds, ::testing::Values(1u, 2u, 3u, 20261209u));

// Options asking for these shares (-1: the default).
WorldOptions withShares(double water, double forest, double mountains, double rough) {
    WorldOptions o;
    o.water = water;
    o.forest = forest;
    o.mountains = mountains;
    o.rough = rough;
    return o;
}

struct ShareCase {
    const char* name;
    int cols, rows;
    double water, forest, mountains, rough;
    bool island;
};

class Shares : public ::testing::TestWithParam<ShareCase> {};

TEST_P(Shares, MetWithinTolerance) {
    const ShareCase& c = GetParam();
    WorldOptions o = withShares(c.water, c.forest, c.mountains, c.rough);
    o.cols = c.cols;
    o.rows = c.rows;
    o.seed = 99;
    o.island = c.island;
    worlds::Shares asked;
    std::string reason;
    ASSERT_TRUE(worlds::settleShares(o, asked, reason)) << reason;
    World world(o);
    auto& [map, report] = world;
    long long water = 0, forest = 0, mountains = 0, rough = 0;
    for (int y = 0; y < map.ys(); ++y)
        for (int x = 0; x < map.xs(); ++x) {
            const char t = map.t(x, y);
            water += isWater(t);
            forest += t == landcover::kLightForest || t == landcover::kHeavyForest;
            mountains += t == landcover::kMountain;
            rough += t == landcover::kRough;
        }
    const double n = static_cast<double>(map.xs()) * map.ys() / 100;
    EXPECT_NEAR(asked.water, water / n, 1.0);
    EXPECT_NEAR(asked.forest, forest / n, 2.0);
    EXPECT_NEAR(asked.mountains, mountains / n, 2.0);
    EXPECT_NEAR(asked.rough, rough / n, 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Shares,
    ::testing::Values(ShareCase{"defaults", 200, 150, -1, -1, -1, -1, false},
                      ShareCase{"dry", 150, 100, 5, 40, 10, 10, false},
                      ShareCase{"wet_island", 160, 120, 60, 15, 5, 5, true},
                      ShareCase{"no_water", 80, 80, 0, 30, 20, 20, false},
                      ShareCase{"all_water", 60, 40, 100, 0, 0, 0, false},
                      ShareCase{"wide_strip", 400, 12, 35, 20, 5, 10, false},
                      ShareCase{"full_land", 100, 100, 10, 50, 20, 20, false}),
    [](const ::testing::TestParamInfo<ShareCase>& info) { return std::string(info.param.name); });

struct SumCase {
    const char* name;
    double water, forest, mountains, rough;
    bool fits;
    const char* says;
};

class ShareSums : public ::testing::TestWithParam<SumCase> {};

TEST_P(ShareSums, RefusedWithTheArithmetic) {
    const SumCase& c = GetParam();
    const WorldOptions o = withShares(c.water, c.forest, c.mountains, c.rough);
    worlds::Shares s;
    std::string reason;
    EXPECT_EQ(c.fits, worlds::settleShares(o, s, reason));
    if (!c.fits) {
        EXPECT_NE(std::string::npos, reason.find(c.says)) << reason;
    } else {
        EXPECT_LE(s.water + s.forest + s.mountains + s.rough, 100 + 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShareSums,
    ::testing::Values(SumCase{"water_and_forest", 80, 50, -1, -1, false, "--water 80% + --forest 50% = 130%"},
                      SumCase{"four_given", 40, 30, 20, 20, false, "= 110%"},
                      SumCase{"exactly_full", 40, 30, 20, 10, true, ""},
                      SumCase{"defaults_shrink", 90, 8, -1, -1, true, ""},
                      SumCase{"default_water_counts", -1, 60, 15, -1, false, "water 30% + --forest 60%"}),
    [](const ::testing::TestParamInfo<SumCase>& info) { return std::string(info.param.name); });

}  // namespace
