// The random numbers of the world generator, the same on every machine:
// xoshiro256** (Blackman and Vigna), its state filled by splitmix64 from one
// 64-bit seed, and ranges drawn by rejection, so that every value of a range
// is equally likely and no standard-library distribution (which differ
// between implementations) is involved.
#ifndef TARVEN_RANDOM_H
#define TARVEN_RANDOM_H

#include <cstdint>

namespace worlds {

inline std::uint64_t splitmix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

class Random {
public:
    // `stream` tells apart the independent sequences of one seed.
    Random(std::uint64_t seed, std::uint64_t stream) {
        std::uint64_t s = seed ^ (stream * 0xd1b54a32d192ed03ULL);
        for (std::uint64_t& word : state_) word = splitmix64(s);
    }
    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }
    // 0..n-1, each equally likely; n > 0.
    std::uint64_t below(std::uint64_t n) {
        const std::uint64_t limit = (0 - n) % n;   // 2^64 mod n
        for (;;) {
            const std::uint64_t r = next();
            if (r >= limit) return r % n;
        }
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t state_[4];
};

}  // namespace worlds

#endif
