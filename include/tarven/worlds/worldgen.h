// Worlds from a seed: elevation from fractal gradient noise laid on the hex
// centres, a sea level that meets the water share asked for, depressions
// filled (a priority flood) and the deep ones made lakes, rivers that run
// from high land down to the sea, a lake or the map's edge, land cover from
// elevation and an independent moisture field, towns by the water and roads
// between them. The same options and seed give the same map on every
// machine: the random numbers come from a fixed generator (random.h), and the
// noise is turned into 16-bit heights at once; everything after that is
// integer arithmetic.
#ifndef TARVEN_WORLDGEN_H
#define TARVEN_WORLDGEN_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class HxMap;

namespace worlds {

constexpr int kMinSide = 4, kMaxSide = 16384;
constexpr long long kMaxCells = 100000000;   // 10 000 x 10 000
constexpr int kMaxRivers = 1000, kMaxTowns = 1000;

struct WorldOptions {
    int cols = 200, rows = 150;
    std::uint64_t seed = 0;
    // Shares in percent of all cells; negative: the default (landcover.h),
    // which for forest, mountains and rough is a share of the land.
    double water = -1, forest = -1, mountains = -1, rough = -1;
    int rivers = -1, towns = -1;   // negative: the default for the size
    bool island = false;           // land in the middle, sea at the edges
};

// The shares a map is made with, in percent of all cells.
struct Shares {
    double water = 0, forest = 0, mountains = 0, rough = 0;
};

// Fills in the defaults: water 30%; forest 25, mountains 5 and rough 10
// parts of every 70 of land, shrunk together when the shares given leave
// less room. False, with the arithmetic, when the shares given add up to
// more than 100%.
bool settleShares(const WorldOptions& options, Shares& shares, std::string& reason);
// One river for every 5000 cells (1..200), one town for every 3750 (2..200):
// 6 rivers and 8 towns on the default 200 x 150.
int defaultRivers(int cols, int rows);
int defaultTowns(int cols, int rows);

struct WorldReport {
    Shares asked, made;
    int lakes = 0;
    // Each river's cells (index y * cols + x), from its source to its last
    // cell before the sea, a lake or the edge; a river that meets another
    // goes on along it.
    std::vector<std::vector<std::uint32_t>> rivers;
    std::vector<std::uint32_t> towns;   // the centre of each town
    std::vector<std::string> notes;     // what could not be done as asked
};

// Makes the world into `map`, which takes the size asked for. The options
// must have passed settleShares and lie within the limits above. progress
// gets fractions from 0 to 1. Throws std::bad_alloc when memory runs out.
void generate(const WorldOptions& options, HxMap& map, WorldReport& report,
              const std::function<void(double)>& progress = {});

// Tarven's hex layout: columns of hexes, even columns half a hex lower.
// Direction k of cell (x, y): 0 north, 1 north-east, 2 south-east, 3 south,
// 4 south-west, 5 north-west; the way back from a neighbour is (k + 3) % 6.
void neighbour(int x, int y, int k, int& nx, int& ny);
int hexDistance(int x1, int y1, int x2, int y2);

}  // namespace worlds

#endif
