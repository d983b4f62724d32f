#include "worldgen.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <queue>
#include <thread>
#include <utility>

#include <libnoise/noise.h>

#include "hxmap.h"
#include "landcover.h"
#include "random.h"

namespace worlds {

namespace {

// Independent random sequences of one seed.
enum Stream : std::uint64_t { kNoiseSeeds = 1, kRiverSources = 2, kTownSites = 3 };

// Per-cell flags: the low three bits are the way to the cell's outlet (a
// direction 0..5, kEdge on the map's edge, kUnset before the flood).
constexpr std::uint8_t kDirMask = 7, kEdge = 6, kUnset = 7;
constexpr std::uint8_t kSea = 0x08, kLake = 0x10, kRiver = 0x20, kSeen = 0x40;
constexpr std::uint8_t kWaterBits = kSea | kLake | kRiver;

constexpr int kLevels = 65536;

using Cells = std::vector<std::uint16_t>;

// The noise, in [-2, 2) give or take, as a 16-bit height. Rounding at once
// keeps the rest of the work in integers; the few noise values that another
// machine's floating point could round the other way lie within 1e-12 of a
// step, so that a difference shows at most once in many millions of cells.
std::uint16_t quantise(double v) {
    const double s = std::floor((v + 2.0) * 16384.0 + 0.5);
    if (!(s > 0)) return 0;
    if (s > 65535) return 65535;
    return static_cast<std::uint16_t>(s);
}

// The hex centres: columns sqrt(3)/2 apart, rows 1 apart, even columns half
// a row lower, so that hexes are regular and hills round in hex steps.
constexpr double kColumnStep = 0.8660254037844386;

struct NoiseField {
    int seed;
    double frequency;
    int octaves;
    bool island;
};

// Fills `out` with the noise over the whole map, rows split between two
// threads (the values do not depend on how the rows are split).
void fillNoise(int cols, int rows, const NoiseField& field, Cells& out, const std::function<void(int)>& rowDone) {
    out.assign(static_cast<std::size_t>(cols) * rows, 0);
    const double halfW = cols * kColumnStep / 2, halfH = rows / 2.0;
    auto work = [&](int first, int step, bool report) {
        noise::module::Perlin perlin;
        perlin.SetSeed(field.seed);
        perlin.SetFrequency(field.frequency);
        perlin.SetOctaveCount(field.octaves);
        perlin.SetPersistence(0.5);
        perlin.SetLacunarity(2.0);
        perlin.SetNoiseQuality(noise::QUALITY_STD);
        for (int y = first; y < rows; y += step) {
            std::uint16_t* row = out.data() + static_cast<std::size_t>(y) * cols;
            for (int x = 0; x < cols; ++x) {
                const double cx = x * kColumnStep, cy = y + ((x & 1) == 0 ? 0.5 : 0.0);
                double v = perlin.GetValue(cx, cy, 0.5);
                if (field.island) {
                    const double dx = (cx - halfW) / halfW, dy = (cy - halfH) / halfH;
                    v = 0.8 * v + 0.45 - 1.5 * (dx * dx + dy * dy);
                }
                row[x] = quantise(v);
            }
            if (report && rowDone) rowDone(y);
        }
    };
    std::thread other(work, 1, 2, false);
    work(0, 2, true);
    other.join();
}

struct Grid {
    int cols, rows;
    std::size_t n;
    std::uint32_t at(int x, int y) const { return static_cast<std::uint32_t>(y) * cols + x; }
    int x(std::uint32_t i) const { return static_cast<int>(i % cols); }
    int y(std::uint32_t i) const { return static_cast<int>(i / cols); }
    // Neighbour k of cell i, or false outside the map.
    bool step(std::uint32_t i, int k, std::uint32_t& j) const {
        int nx, ny;
        neighbour(x(i), y(i), k, nx, ny);
        if (nx < 0 || ny < 0 || nx >= cols || ny >= rows) return false;
        j = at(nx, ny);
        return true;
    }
    bool onEdge(std::uint32_t i) const {
        const int cx = x(i), cy = y(i);
        return cx == 0 || cy == 0 || cx == cols - 1 || cy == rows - 1;
    }
};

// Priority flood from the map's edge: `filled` becomes the lowest surface
// at or above `h` from which every cell drains to the edge, and each cell's
// flags get the way it drains (never uphill on the filled surface). A bucket
// queue on the 16-bit heights makes it linear.
void flood(const Grid& g, const Cells& h, Cells& filled, std::vector<std::uint8_t>& flags) {
    filled = h;
    flags.assign(g.n, kUnset);
    std::vector<std::vector<std::uint32_t>> buckets(kLevels);
    for (std::uint32_t i = 0; i < g.n; ++i)
        if (g.onEdge(i)) {
            flags[i] = kEdge;
            buckets[h[i]].push_back(i);
        }
    for (int level = 0; level < kLevels; ++level) {
        std::vector<std::uint32_t>& b = buckets[level];
        while (!b.empty()) {
            const std::uint32_t c = b.back();
            b.pop_back();
            for (int k = 0; k < 6; ++k) {
                std::uint32_t j;
                if (!g.step(c, k, j) || (flags[j] & kDirMask) != kUnset) continue;
                filled[j] = std::max(h[j], filled[c]);
                flags[j] = static_cast<std::uint8_t>((flags[j] & ~kDirMask) | ((k + 3) % 6));
                buckets[filled[j]].push_back(j);
            }
        }
        std::vector<std::uint32_t>().swap(b);
    }
}

struct Basin {
    std::uint32_t first;
    std::uint64_t size;
    int depth;
};

// Walks the filled depression that holds `first`: the cells raised by the
// flood, at the same filled height, connected through hex neighbours.
template <class Visit>
void walkBasin(const Grid& g, const Cells& h, const Cells& filled, std::vector<std::uint8_t>& flags,
               std::uint32_t first, std::uint8_t mark, Visit visit) {
    std::vector<std::uint32_t> stack{first};
    flags[first] |= mark;
    const std::uint16_t level = filled[first];
    while (!stack.empty()) {
        const std::uint32_t c = stack.back();
        stack.pop_back();
        visit(c);
        for (int k = 0; k < 6; ++k) {
            std::uint32_t j;
            if (!g.step(c, k, j) || (flags[j] & mark) || filled[j] != level || filled[j] <= h[j]) continue;
            flags[j] |= mark;
            stack.push_back(j);
        }
    }
}

// Lake candidates: filled depressions of at least 3 cells and `minDepth`.
std::vector<Basin> findBasins(const Grid& g, const Cells& h, const Cells& filled, std::vector<std::uint8_t>& flags,
                              int minDepth) {
    std::vector<Basin> basins;
    for (std::uint32_t i = 0; i < g.n; ++i) {
        if (filled[i] <= h[i] || (flags[i] & kSeen)) continue;
        Basin b{i, 0, 0};
        walkBasin(g, h, filled, flags, i, kSeen, [&](std::uint32_t c) {
            ++b.size;
            b.depth = std::max(b.depth, filled[c] - h[c]);
        });
        if (b.size >= 3 && b.depth >= minDepth) basins.push_back(b);
    }
    for (std::uint8_t& f : flags) f &= static_cast<std::uint8_t>(~kSeen);
    // Deepest first, then largest, then first on the map.
    std::sort(basins.begin(), basins.end(), [](const Basin& a, const Basin& b) {
        if (a.depth != b.depth) return a.depth > b.depth;
        if (a.size != b.size) return a.size > b.size;
        return a.first < b.first;
    });
    return basins;
}

std::uint64_t percentOf(double share, std::size_t n) {
    return static_cast<std::uint64_t>(std::llround(share * static_cast<double>(n) / 100.0));
}

// The sea level: the height below which the land not in lakes becomes sea,
// so that sea and lakes together come closest to `wanted` cells.
int chooseSeaLevel(const std::vector<std::uint64_t>& histogram, std::uint64_t lakeCells, std::uint64_t wanted) {
    int best = 0;
    std::uint64_t below = 0;
    std::uint64_t bestGap = std::numeric_limits<std::uint64_t>::max();
    for (int level = 0; level <= kLevels; ++level) {
        const std::uint64_t water = lakeCells + below;
        const std::uint64_t gap = water > wanted ? water - wanted : wanted - water;
        if (gap < bestGap) {
            bestGap = gap;
            best = level;
        }
        if (level < kLevels) below += histogram[static_cast<std::size_t>(level)];
    }
    return best;
}

struct World {
    Grid g;
    Cells h;        // the noise heights, then the moisture
    Cells filled;
    std::vector<std::uint8_t> flags;
    int seaLevel = 0;
    int top = 0;    // the highest filled height
    bool water(std::uint32_t i) const { return (flags[i] & kWaterBits) != 0; }
    // Map elevation: the sea 0, everything else 1..9 by its filled height.
    int level(std::uint32_t i) const {
        if (flags[i] & kSea) return 0;
        const long long span = static_cast<long long>(top) - seaLevel + 1;
        const long long above = std::max(0, filled[i] - seaLevel);
        return static_cast<int>(std::min<long long>(9, 1 + above * 9 / span));
    }
};

// Runs a river from `source` along the flood's drainage until the sea, a
// lake or the edge; joins other rivers and goes on along them.
std::vector<std::uint32_t> traceRiver(const World& w, std::uint32_t source) {
    std::vector<std::uint32_t> path{source};
    std::uint32_t c = source;
    for (;;) {
        const std::uint8_t dir = w.flags[c] & kDirMask;
        if (dir >= 6) break;   // the edge
        std::uint32_t next;
        if (!w.g.step(c, dir, next)) break;
        if (w.flags[next] & (kSea | kLake)) break;
        path.push_back(next);
        c = next;
        if (path.size() > w.g.n) break;   // cannot happen: the drainage has no cycles
    }
    return path;
}

// Lays the rivers; returns the number of cells they turned into water.
std::uint64_t layRivers(World& w, const WorldOptions& o, int count, WorldReport& report) {
    report.rivers.clear();
    if (count <= 0) return 0;
    Random random(o.seed, kRiverSources);
    // Sources on the highest quarter of the land.
    std::vector<std::uint64_t> histogram(kLevels, 0);
    std::uint64_t land = 0;
    for (std::uint32_t i = 0; i < w.g.n; ++i)
        if (!w.water(i)) {
            ++histogram[w.filled[i]];
            ++land;
        }
    if (land == 0) return 0;
    int highest = kLevels - 1;
    for (std::uint64_t above = 0; highest > 0 && above + histogram[highest] < std::max<std::uint64_t>(1, land / 4);
         --highest)
        above += histogram[highest];
    const double spacing = std::max(4.0, std::sqrt(static_cast<double>(w.g.n) / count) / 3);
    const std::size_t minLength = static_cast<std::size_t>(std::max(4, std::min(w.g.cols, w.g.rows) / 20));
    std::vector<std::uint32_t> sources;
    std::uint64_t added = 0;
    const long long attempts = 400LL * count + 1000;
    for (long long a = 0; a < attempts && static_cast<int>(report.rivers.size()) < count; ++a) {
        const std::uint32_t s = static_cast<std::uint32_t>(random.below(w.g.n));
        if (w.water(s) || w.filled[s] < highest) continue;
        bool near = false;
        for (std::uint32_t t : sources)
            if (hexDistance(w.g.x(s), w.g.y(s), w.g.x(t), w.g.y(t)) < spacing) near = true;
        if (near) continue;
        std::vector<std::uint32_t> path = traceRiver(w, s);
        if (path.size() < minLength) continue;
        sources.push_back(s);
        for (std::uint32_t c : path)
            if (!(w.flags[c] & kRiver)) {
                w.flags[c] |= kRiver;
                ++added;
            }
        report.rivers.push_back(std::move(path));
    }
    return added;
}

void clearRivers(World& w) {
    for (std::uint8_t& f : w.flags) f &= static_cast<std::uint8_t>(~kRiver);
}

// Road costs of entering a cell: cheap on roads and open land, dear in
// forest, rough and mountains, dearer over water (a bridge) and the sea.
int terrainCost(char t, bool sea) {
    switch (t) {
    case landcover::kRoad: case landcover::kBridge: case landcover::kTown: return 1;
    case landcover::kGrass: return 2;
    case landcover::kLightForest: return 3;
    case landcover::kHeavyForest: return 4;
    case landcover::kRough: return 5;
    case landcover::kMountain: return 12;
    case landcover::kWater: return sea ? 40 : 12;
    default: return 4;
    }
}

// A least-cost road from a to b inside a window around them (A* on hex
// neighbours; cost of a step: the cell entered plus 3 per level climbed or
// descended). Marks the road on the map: bridges over water, towns kept.
void buildRoad(const World& w, HxMap& map, std::uint32_t a, std::uint32_t b) {
    const Grid& g = w.g;
    const int ax = g.x(a), ay = g.y(a), bx = g.x(b), by = g.y(b);
    const int margin = 8 + hexDistance(ax, ay, bx, by) / 2;
    const int x0 = std::max(0, std::min(ax, bx) - margin), x1 = std::min(g.cols - 1, std::max(ax, bx) + margin);
    const int y0 = std::max(0, std::min(ay, by) - margin), y1 = std::min(g.rows - 1, std::max(ay, by) + margin);
    const int ww = x1 - x0 + 1, wh = y1 - y0 + 1;
    const std::size_t wn = static_cast<std::size_t>(ww) * wh;
    auto local = [&](int x, int y) { return static_cast<std::uint32_t>((y - y0) * ww + (x - x0)); };
    std::vector<std::uint32_t> cost(wn, std::numeric_limits<std::uint32_t>::max());
    std::vector<std::uint8_t> from(wn, kUnset);
    using Entry = std::pair<std::uint64_t, std::uint32_t>;   // (estimate, local index)
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> open;
    const std::uint32_t start = local(ax, ay), goal = local(bx, by);
    cost[start] = 0;
    open.emplace(static_cast<std::uint64_t>(hexDistance(ax, ay, bx, by)), start);
    while (!open.empty()) {
        const auto [estimate, c] = open.top();
        open.pop();
        if (c == goal) break;
        const int cx = x0 + static_cast<int>(c % ww), cy = y0 + static_cast<int>(c / ww);
        if (estimate != cost[c] + static_cast<std::uint64_t>(hexDistance(cx, cy, bx, by))) continue;   // stale
        const std::uint32_t gc = g.at(cx, cy);
        for (int k = 0; k < 6; ++k) {
            int nx, ny;
            neighbour(cx, cy, k, nx, ny);
            if (nx < x0 || ny < y0 || nx > x1 || ny > y1) continue;
            const std::uint32_t gn = g.at(nx, ny), ln = local(nx, ny);
            const std::uint32_t step = static_cast<std::uint32_t>(
                terrainCost(map.t(nx, ny), (w.flags[gn] & kSea) != 0) + 3 * std::abs(w.level(gn) - w.level(gc)));
            const std::uint32_t total = cost[c] + step;
            if (total >= cost[ln]) continue;
            cost[ln] = total;
            from[ln] = static_cast<std::uint8_t>((k + 3) % 6);
            open.emplace(total + static_cast<std::uint64_t>(hexDistance(nx, ny, bx, by)), ln);
        }
    }
    if (cost[goal] == std::numeric_limits<std::uint32_t>::max()) return;   // cannot happen: the window is connected
    int cx = bx, cy = by;
    for (;;) {
        const char t = map.t(cx, cy);
        if (t != landcover::kTown) map.st(cx, cy, w.water(g.at(cx, cy)) ? landcover::kBridge : landcover::kRoad);
        const std::uint32_t l = local(cx, cy);
        if (l == start) break;
        int nx, ny;
        neighbour(cx, cy, from[l], nx, ny);
        cx = nx;
        cy = ny;
    }
}

}  // namespace

void neighbour(int x, int y, int k, int& nx, int& ny) {
    const bool lower = (x & 1) == 0;   // even columns sit half a hex lower
    switch (k) {
    case 0: nx = x; ny = y - 1; return;
    case 1: nx = x + 1; ny = lower ? y : y - 1; return;
    case 2: nx = x + 1; ny = lower ? y + 1 : y; return;
    case 3: nx = x; ny = y + 1; return;
    case 4: nx = x - 1; ny = lower ? y + 1 : y; return;
    default: nx = x - 1; ny = lower ? y : y - 1; return;
    }
}

int hexDistance(int x1, int y1, int x2, int y2) {
    // Axial coordinates of the layout: r = row - (col + (col & 1)) / 2.
    const long long q1 = x1, r1 = y1 - (x1 + (x1 & 1)) / 2;
    const long long q2 = x2, r2 = y2 - (x2 + (x2 & 1)) / 2;
    const long long dq = q1 - q2, dr = r1 - r2;
    return static_cast<int>((std::llabs(dq) + std::llabs(dr) + std::llabs(dq + dr)) / 2);
}

int defaultRivers(int cols, int rows) {
    const long long n = static_cast<long long>(cols) * rows;
    return static_cast<int>(std::clamp<long long>(n / 5000, 1, 200));
}

int defaultTowns(int cols, int rows) {
    const long long n = static_cast<long long>(cols) * rows;
    return static_cast<int>(std::clamp<long long>(n / 3750, 2, 200));
}

bool settleShares(const WorldOptions& o, Shares& s, std::string& reason) {
    auto show = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%g%%", v);
        return std::string(text);
    };
    s.water = o.water >= 0 ? o.water : landcover::kDefaultWater;
    double given = s.water;
    std::string sum = (o.water >= 0 ? "--water " : "water ") + show(s.water);
    const std::pair<const char*, double> asked[] = {
        {"--forest", o.forest}, {"--mountains", o.mountains}, {"--rough", o.rough}};
    for (const auto& [name, value] : asked)
        if (value >= 0) {
            given += value;
            sum += std::string(" + ") + name + " " + show(value);
        }
    if (given > 100 + 1e-9) {
        reason = "the shares cannot add up: " + sum + " = " + show(given) + " of the cells, more than 100%";
        return false;
    }
    // The defaults: their parts of the land, shrunk together to fit.
    const double land = 100 - s.water;
    const double scale = land / (100 - landcover::kDefaultWater);
    double wanted = 0;
    if (o.forest < 0) wanted += landcover::kDefaultForest * scale;
    if (o.mountains < 0) wanted += landcover::kDefaultMountains * scale;
    if (o.rough < 0) wanted += landcover::kDefaultRough * scale;
    const double room = 100 - given;
    const double shrink = wanted > room && wanted > 0 ? room / wanted : 1;
    s.forest = o.forest >= 0 ? o.forest : landcover::kDefaultForest * scale * shrink;
    s.mountains = o.mountains >= 0 ? o.mountains : landcover::kDefaultMountains * scale * shrink;
    s.rough = o.rough >= 0 ? o.rough : landcover::kDefaultRough * scale * shrink;
    return true;
}

void generate(const WorldOptions& o, HxMap& map, WorldReport& report, const std::function<void(double)>& progress) {
    auto tell = [&](double f) {
        if (progress) progress(f);
    };
    report = WorldReport{};
    Shares shares;
    std::string reason;
    settleShares(o, shares, reason);
    report.asked = shares;
    World w{Grid{o.cols, o.rows, static_cast<std::size_t>(o.cols) * o.rows}, {}, {}, {}, 0, 0};
    const Grid& g = w.g;
    const int rivers = o.rivers >= 0 ? o.rivers : defaultRivers(o.cols, o.rows);
    const int towns = o.towns >= 0 ? o.towns : defaultTowns(o.cols, o.rows);

    // Elevation: a few great hills across the shorter side, with detail down
    // to two or three hexes (at most 8 octaves).
    Random seeds(o.seed, kNoiseSeeds);
    const int heightSeed = static_cast<int>(seeds.next() & 0x7fffffff);
    const int wetSeed = static_cast<int>(seeds.next() & 0x7fffffff);
    const double wavelength = std::max(24.0, std::min(o.cols * kColumnStep, static_cast<double>(o.rows)) / 2.5);
    const int octaves = std::clamp(static_cast<int>(std::ceil(std::log2(wavelength / 2))), 3, 8);
    fillNoise(o.cols, o.rows, NoiseField{heightSeed, 1 / wavelength, octaves, o.island}, w.h,
              [&](int y) { tell(0.35 * y / o.rows); });

    flood(g, w.h, w.filled, w.flags);
    tell(0.45);
    for (std::uint32_t i = 0; i < g.n; ++i) w.top = std::max<int>(w.top, w.filled[i]);

    // Lakes: the deepest filled depressions, within a third of the water.
    const std::uint64_t wantedWater = percentOf(shares.water, g.n);
    std::vector<Basin> basins = findBasins(g, w.h, w.filled, w.flags, 300);
    std::uint64_t lakeCells = 0;
    for (const Basin& b : basins) {
        if (lakeCells + b.size > wantedWater / 3) continue;
        lakeCells += b.size;
        walkBasin(g, w.h, w.filled, w.flags, b.first, kLake, [](std::uint32_t) {});
        ++report.lakes;
    }
    std::vector<std::uint64_t> histogram(kLevels, 0);
    for (std::uint32_t i = 0; i < g.n; ++i)
        if (!(w.flags[i] & kLake)) ++histogram[w.filled[i]];

    // The sea level, then the rivers, then the sea level again with the
    // rivers' cells counted, and the rivers once more from the same sources.
    std::uint64_t riverCells = 0;
    for (int round = 0; round < 2; ++round) {
        const std::uint64_t forSea = wantedWater > riverCells ? wantedWater - riverCells : 0;
        w.seaLevel = chooseSeaLevel(histogram, lakeCells, forSea);
        for (std::uint32_t i = 0; i < g.n; ++i) {
            w.flags[i] &= static_cast<std::uint8_t>(~kSea);
            if (w.filled[i] < w.seaLevel) w.flags[i] |= kSea;
        }
        clearRivers(w);
        riverCells = wantedWater > 0 ? layRivers(w, o, rivers, report) : 0;
        // Rivers beyond the water asked for (a tolerance of half a
        // percentage point) go, the last laid first.
        const std::uint64_t tolerance = g.n / 200;
        std::uint64_t water = 0;
        for (std::uint32_t i = 0; i < g.n; ++i) water += w.water(i) ? 1 : 0;
        while (round == 1 && !report.rivers.empty() && water > wantedWater + tolerance) {
            clearRivers(w);
            report.rivers.pop_back();
            riverCells = 0;
            for (const auto& path : report.rivers)
                for (std::uint32_t c : path)
                    if (!(w.flags[c] & kRiver)) {
                        w.flags[c] |= kRiver;
                        ++riverCells;
                    }
            water = 0;
            for (std::uint32_t i = 0; i < g.n; ++i) water += w.water(i) ? 1 : 0;
        }
    }
    std::uint64_t landCells = 0, waterCells = 0;
    for (std::uint32_t i = 0; i < g.n; ++i) (w.water(i) ? waterCells : landCells) += 1;
    if (static_cast<int>(report.rivers.size()) < rivers)
        report.notes.push_back(std::to_string(report.rivers.size()) + " of " + std::to_string(rivers) + " rivers: " +
                               (wantedWater == 0  ? std::string("no water was asked for")
                                : landCells == 0 ? std::string("there is no land")
                                                 : "no more sources on high land far enough from the others and "
                                                   "far enough from the sea"));
    tell(0.55);

    // Moisture, in the place of the noise heights.
    fillNoise(o.cols, o.rows, NoiseField{wetSeed, 1.3 / wavelength, std::min(octaves, 5), false}, w.h,
              [&](int y) { tell(0.55 + 0.25 * y / o.rows); });

    map.resizeGrid(o.cols, o.rows);
    for (int y = 0; y < o.rows; ++y)
        for (int x = 0; x < o.cols; ++x) {
            const std::uint32_t i = g.at(x, y);
            map.se(x, y, static_cast<char>(w.level(i)));
            map.st(x, y, w.water(i) ? landcover::kWater : landcover::kGrass);
        }
    landcover::Quotas quotas;
    quotas.mountains = percentOf(shares.mountains, g.n);
    quotas.rough = percentOf(shares.rough, g.n);
    quotas.forest = percentOf(shares.forest, g.n);
    auto cover = [&](auto isLand) {
        landcover::assign(
            g.n, quotas, isLand, [&](std::uint64_t i) { return w.filled[i]; }, [&](std::uint64_t i) { return w.h[i]; },
            [&](std::uint64_t i, char t) { map.st(g.x(static_cast<std::uint32_t>(i)), g.y(static_cast<std::uint32_t>(i)), t); });
    };
    cover([&](std::uint64_t i) { return !w.water(static_cast<std::uint32_t>(i)); });
    tell(0.85);

    // Towns: on flat, open land within two hexes of water, spaced apart.
    Random random(o.seed, kTownSites);
    auto openLand = [&](std::uint32_t i) {
        const char t = map.t(g.x(i), g.y(i));
        return !w.water(i) && (t == landcover::kGrass || t == landcover::kLightForest || t == landcover::kHeavyForest);
    };
    auto goodSite = [&](std::uint32_t i) {
        if (!openLand(i) || g.onEdge(i)) return false;
        const int own = w.level(i);
        bool byWater = false;
        for (int k = 0; k < 6; ++k) {
            std::uint32_t j;
            if (!g.step(i, k, j)) continue;
            if (!w.water(j) && std::abs(w.level(j) - own) > 1) return false;
            if (w.water(j)) byWater = true;
            for (int m = 0; m < 6 && !byWater; ++m) {
                std::uint32_t l;
                if (g.step(j, m, l) && w.water(l)) byWater = true;
            }
        }
        return byWater;
    };
    std::vector<std::uint32_t>& placed = report.towns;
    double spacing = std::max(3.0, std::sqrt(static_cast<double>(g.n) / std::max(1, towns)) / 2);
    for (int pass = 0; pass < 3 && static_cast<int>(placed.size()) < towns; ++pass, spacing /= 2) {
        const long long attempts = 2000LL * towns + 20000;
        for (long long a = 0; a < attempts && static_cast<int>(placed.size()) < towns; ++a) {
            const std::uint32_t s = static_cast<std::uint32_t>(random.below(g.n));
            if (!goodSite(s)) continue;
            bool near = false;
            for (std::uint32_t t : placed)
                if (hexDistance(g.x(s), g.y(s), g.x(t), g.y(t)) < spacing) near = true;
            if (!near) placed.push_back(s);
        }
    }
    if (static_cast<int>(placed.size()) < towns)
        report.notes.push_back(std::to_string(placed.size()) + " of " + std::to_string(towns) + " towns: " +
                               (waterCells == 0  ? std::string("towns stand by water, and there is none")
                                : landCells == 0 ? std::string("there is no land")
                                                 : "no more flat, open land within two hexes of water and apart "
                                                   "from the others"));
    // The first town is the largest (4 to 6 cells), the others 1 to 3.
    std::vector<std::vector<std::uint32_t>> townCells;
    for (std::size_t t = 0; t < placed.size(); ++t) {
        const int size = t == 0 ? 4 + static_cast<int>(random.below(3)) : 1 + static_cast<int>(random.below(3));
        std::vector<std::uint32_t> cells{placed[t]};
        map.st(g.x(placed[t]), g.y(placed[t]), landcover::kTown);
        for (int k = 0; k < 6 && static_cast<int>(cells.size()) < size; ++k) {
            std::uint32_t j;
            if (g.step(placed[t], k, j) && openLand(j)) {
                map.st(g.x(j), g.y(j), landcover::kTown);
                cells.push_back(j);
            }
        }
        townCells.push_back(std::move(cells));
    }

    // Roads along a spanning tree of the towns, nearest first (Prim).
    const std::size_t tn = placed.size();
    if (tn > 1) {
        std::vector<int> best(tn, std::numeric_limits<int>::max());
        std::vector<std::size_t> link(tn, 0);
        std::vector<bool> joined(tn, false);
        joined[0] = true;
        std::size_t last = 0;
        for (std::size_t round = 1; round < tn; ++round) {
            for (std::size_t t = 0; t < tn; ++t) {
                if (joined[t]) continue;
                const int d = hexDistance(g.x(placed[t]), g.y(placed[t]), g.x(placed[last]), g.y(placed[last]));
                if (d < best[t]) {
                    best[t] = d;
                    link[t] = last;
                }
            }
            std::size_t next = tn;
            for (std::size_t t = 0; t < tn; ++t)
                if (!joined[t] && (next == tn || best[t] < best[next])) next = t;
            joined[next] = true;
            buildRoad(w, map, placed[link[next]], placed[next]);
            last = next;
            tell(0.85 + 0.1 * static_cast<double>(round) / static_cast<double>(tn));
        }
    }
    // Walls round the largest town, with gates where roads come in.
    if (!townCells.empty() && townCells[0].size() >= 3)
        for (std::uint32_t c : townCells[0])
            for (int k = 0; k < 6; ++k) {
                std::uint32_t j;
                if (g.step(c, k, j) && openLand(j)) map.st(g.x(j), g.y(j), landcover::kWall);
            }

    // The land cover again, around the towns and roads, so that the shares
    // hold of all cells.
    cover([&](std::uint64_t i) {
        const std::uint32_t c = static_cast<std::uint32_t>(i);
        const char t = map.t(g.x(c), g.y(c));
        return !w.water(c) && t != landcover::kTown && t != landcover::kRoad && t != landcover::kBridge &&
               t != landcover::kWall;
    });

    std::uint64_t water = 0, forest = 0, mountains = 0, rough = 0;
    for (int y = 0; y < o.rows; ++y) {
        const char* row = map.terrainRow(y);
        for (int x = 0; x < o.cols; ++x) {
            switch (row[x]) {
            case landcover::kWater: case landcover::kBridge: ++water; break;
            case landcover::kLightForest: case landcover::kHeavyForest: ++forest; break;
            case landcover::kMountain: ++mountains; break;
            case landcover::kRough: ++rough; break;
            default: break;
            }
        }
    }
    const double n = static_cast<double>(g.n);
    report.made = Shares{100.0 * water / n, 100.0 * forest / n, 100.0 * mountains / n, 100.0 * rough / n};
    if (report.made.forest + 2 < shares.forest || report.made.mountains + 2 < shares.mountains ||
        report.made.rough + 2 < shares.rough)
        report.notes.push_back("the land left after water, towns and roads could not take all the cover asked for");
    tell(1.0);
}

}  // namespace worlds
