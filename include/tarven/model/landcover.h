// What covers the land of a made map: mountains on the highest land, rough
// below them, forest where it is wettest, grassland elsewhere. One rule for
// every way a map is made (from noise or from a heightmap), so that the same
// heights give the same cover. Shares are met exactly: the cells are ranked
// by 16-bit keys, and cells with equal keys are taken in index order.
#ifndef TARVEN_LANDCOVER_H
#define TARVEN_LANDCOVER_H

#include <cstdint>
#include <vector>

namespace landcover {

// The terrain characters of a made map.
constexpr char kGrass = ' ', kLightForest = '`', kHeavyForest = '"', kRough = '%', kMountain = '^', kWater = '~',
               kRoad = '#', kBridge = '/', kTown = '@', kWall = '=';

// The default shares, in percent of all cells, for a map with the default
// share of water. Without water they are shares of the land scaled by
// 100 / (100 - kDefaultWater): a map without moisture gets mountains on the
// highest 1/14 of its land and rough on the next 1/7.
constexpr double kDefaultWater = 30, kDefaultForest = 25, kDefaultMountains = 5, kDefaultRough = 10;
// Heavy forest is the wettest part of the forest, in percent of it.
constexpr int kHeavyOfForest = 40;

// Cells to give each kind of cover; more than there are land cells means all.
struct Quotas {
    std::uint64_t mountains = 0, rough = 0, forest = 0;
};

// The quotas of `land` cells covered by elevation alone (no moisture): the
// default mountain and rough shares of the land.
Quotas elevationQuotas(std::uint64_t land);

// The `count` highest keys of a histogram of 65536 bins: every key above a
// threshold, and the first few at it (in the order take() is asked).
class TopPick {
public:
    TopPick() = default;
    TopPick(const std::vector<std::uint64_t>& histogram, std::uint64_t count);
    bool take(std::uint16_t key) {
        if (key > threshold_) return true;
        if (key == threshold_ && ties_ > 0) {
            --ties_;
            return true;
        }
        return false;
    }

private:
    int threshold_ = 65536;   // above every key: takes none
    std::uint64_t ties_ = 0;
};

// Covers the land cells among 0..n-1. isLand(i) says which cells are land to
// cover, height(i) and wet(i) give their 16-bit keys, put(i, c) receives the
// terrain. Three passes over the cells, in index order; memory: a few
// histograms.
template <class IsLand, class Height, class Wet, class Put>
void assign(std::uint64_t n, const Quotas& q, IsLand isLand, Height height, Wet wet, Put put) {
    std::vector<std::uint64_t> heights(65536, 0);
    for (std::uint64_t i = 0; i < n; ++i)
        if (isLand(i)) ++heights[height(i)];
    const TopPick mountains(heights, q.mountains), high(heights, q.mountains + q.rough);
    // By height: 2 mountain, 1 rough, 0 lower land.
    auto byHeight = [](TopPick& m, TopPick& h, std::uint16_t key) {
        const bool inHigh = h.take(key);
        const bool inTop = m.take(key);
        return inTop ? 2 : inHigh ? 1 : 0;
    };
    std::vector<std::uint64_t> wets(65536, 0);
    {
        TopPick m = mountains, h = high;
        for (std::uint64_t i = 0; i < n; ++i)
            if (isLand(i) && byHeight(m, h, height(i)) == 0) ++wets[wet(i)];
    }
    std::uint64_t lower = 0;
    for (std::uint64_t c : wets) lower += c;
    const std::uint64_t forestCount = q.forest < lower ? q.forest : lower;
    const TopPick forest(wets, forestCount), heavy(wets, forestCount * kHeavyOfForest / 100);
    TopPick m = mountains, h = high, f = forest, hv = heavy;
    for (std::uint64_t i = 0; i < n; ++i) {
        if (!isLand(i)) continue;
        const int k = byHeight(m, h, height(i));
        if (k == 2) {
            put(i, kMountain);
        } else if (k == 1) {
            put(i, kRough);
        } else {
            const std::uint16_t w = wet(i);
            const bool inForest = f.take(w);
            const bool inHeavy = hv.take(w);
            put(i, inHeavy ? kHeavyForest : inForest ? kLightForest : kGrass);
        }
    }
}

}  // namespace landcover

#endif
