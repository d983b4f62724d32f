#include "hxterrains.h"

#include <utility>

HxTerrainInfo::HxTerrainInfo(int r, int g, int b, char c, int e, std::string name)
    : r(r), g(g), b(b), c(c), e(e), name(std::move(name)) {}

HxTerrainSet::HxTerrainSet() {
    data.reserve(16);
    data.emplace_back(0, 128, 0, '"', -1, "Heavy forest");
    data.emplace_back(0, 192, 0, '`', -1, "Light forest");
    data.emplace_back(255, 255, 0, '%', -1, "Rough");
    data.emplace_back(0, 255, 0, ' ', -1, "Grassland");
    data.emplace_back(192, 192, 192, '#', -1, "Road");
    data.emplace_back(128, 128, 255, '=', -1, "Wall");
    data.emplace_back(64, 64, 128, '/', -1, "Bridge");
    data.emplace_back(255, 0, 0, '@', 3, "Building");
    data.emplace_back(192, 0, 0, '@', 6, "");
    data.emplace_back(128, 0, 0, '@', 9, "");
    data.emplace_back(0, 0, 255, '~', 0, "Water");
    data.emplace_back(0, 0, 128, '~', 6, "");
    data.emplace_back(244, 170, 100, '^', 3, "Mountain");
    data.emplace_back(128, 100, 30, '^', 9, "");
    data.emplace_back(0, 255, 255, '?', -1, "");   // every fresh cell
    data.emplace_back(0, 0, 0, '\0', -1, "");      // outside the map
}

std::size_t HxTerrainSet::findBase(char c) const {
    std::size_t i = 0;
    while (i < data.size() && data[i].c != c) ++i;
    return i;
}

void HxTerrainSet::getTerrainColor(char c, int e, int& r, int& g, int& b) const {
    const std::size_t bi = findBase(c);
    if (bi == data.size()) return;
    const HxTerrainInfo& base = data[bi];
    std::size_t ui = bi;
    if (base.e >= 0 && e != kAnyElevation) {
        // The upper point: the first record of the run whose key lies above
        // e, else the run's last record (the formula then extrapolates).
        while (data[ui].e <= e && ui + 1 < data.size() && data[ui + 1].c == c) ++ui;
    }
    const HxTerrainInfo& upper = data[ui];
    if (ui == bi || upper.e == base.e) {
        r = base.r;
        g = base.g;
        b = base.b;
        return;
    }
    // The lower point is always the main record, also above a middle record.
    // 64-bit intermediates keep absurd elevations from overflowing; for the
    // elevations a map holds the result is that of int arithmetic.
    const long long above = static_cast<long long>(upper.e) - e;
    const long long below = static_cast<long long>(e) - base.e;
    const long long span = upper.e - base.e;
    r = static_cast<int>((above * base.r + below * upper.r) / span);
    g = static_cast<int>((above * base.g + below * upper.g) / span);
    b = static_cast<int>((above * base.b + below * upper.b) / span);
}

const HxTerrainInfo* HxTerrainSet::getTerrain(char c, int e) const {
    const std::size_t bi = findBase(c);
    if (bi == data.size()) return nullptr;
    const HxTerrainInfo& base = data[bi];
    if (base.e < 0 || e == kAnyElevation || base.e >= e) return &base;
    for (std::size_t i = bi + 1; i < data.size() && data[i].c == c; ++i)
        if (data[i].e < 0 || data[i].e >= e) return &data[i];
    return nullptr;
}

std::string HxTerrainSet::displayName(char c) const {
    const std::size_t bi = findBase(c);
    if (bi < data.size() && !data[bi].name.empty()) return data[bi].name;
    const auto code = static_cast<unsigned char>(c);
    if (code > ' ' && code < 0x7f) return std::string(1, c);
    if (code == ' ') return "blank";
    return "code " + std::to_string(code);
}
