#include "maprows.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <ostream>

#include "mapreader.h"

namespace {

constexpr int kTerrains = 255;
constexpr int kElevations = 10;

}  // namespace

// ---------------------------------------------------------------------------
// Counting

// Cells are counted per terrain code 0..127 and elevation 0..9 (the only
// signed values that have counters), in four tables taken in turn so that
// runs of one kind of cell do not wait on one counter, and 32-bit counts
// that are added into the totals before they could overflow.
namespace {
constexpr int kKinds = 128 * 16;   // terrain x 16 + elevation; then one for the rest
}

CellCounts::CellCounts() : kinds_(kKinds + 1, 0), quads_(4 * (kKinds + 1), 0) {}

void CellCounts::flush() const {
    for (int q = 0; q < 4; ++q)
        for (int k = 0; k <= kKinds; ++k) {
            kinds_[static_cast<std::size_t>(k)] += quads_[static_cast<std::size_t>(q * (kKinds + 1) + k)];
            quads_[static_cast<std::size_t>(q * (kKinds + 1) + k)] = 0;
        }
    pending_ = 0;
}

void CellCounts::addRow(const char* terrain, const char* elevation, int n) {
    if (n <= 0) return;
    total_ += n;
    if (pending_ + n > 0x7fffffffLL) flush();
    pending_ += n;
    std::uint32_t* const q = quads_.data();
    for (int x = 0; x < n; ++x) {
        const unsigned t = static_cast<unsigned char>(terrain[x]);
        const unsigned e = static_cast<unsigned char>(elevation[x]);
        const unsigned kind = t < 128 && e < 10 ? t << 4 | e : kKinds;
        ++q[static_cast<unsigned>(x & 3) * (kKinds + 1) + kind];
    }
}

void CellCounts::print(std::ostream& out) const {
    // Terrain codes 0..254 and elevations 0..9 as signed 8-bit values.
    flush();
    std::vector<long long> terrain_(kTerrains, 0), elevation_(kElevations, 0),
        both_(static_cast<std::size_t>(kElevations) * kTerrains, 0);
    for (int t = 0; t < 128; ++t) {
        for (int e = 0; e < kElevations; ++e) {
            const long long n = kinds_[static_cast<std::size_t>(t << 4 | e)];
            terrain_[t] += n;
            elevation_[e] += n;
            both_[static_cast<std::size_t>(e) * kTerrains + t] += n;
        }
    }
    const long long total = total_;
    // A map without cells shows 0.00 everywhere instead of dividing by 0.
    auto percent = [total](long long n) {
        return total == 0 ? 0.0 : static_cast<double>(n) * 100.0 / static_cast<double>(total);
    };
    char buf[64];
    // Returned lengths are used, not strlen: the NUL terrain prints a NUL.
    auto put = [&out, &buf](int n) {
        if (n > 0) out.write(buf, n < static_cast<int>(sizeof buf) ? n : static_cast<int>(sizeof buf) - 1);
    };

    out << "              Terrain\n";
    out << "Elev ";
    for (int t = 0; t < kTerrains; ++t)
        if (terrain_[t] != 0) put(std::snprintf(buf, sizeof buf, "  '%c' ", t));
    out << " Total\n";
    for (int i = 0; i < kElevations; ++i) {
        put(std::snprintf(buf, sizeof buf, "  %2d ", i));
        for (int t = 0; t < kTerrains; ++t)
            if (terrain_[t] != 0)
                put(std::snprintf(buf, sizeof buf, "%5.2f ",
                                  percent(both_[static_cast<std::size_t>(i) * kTerrains + t])));
        put(std::snprintf(buf, sizeof buf, " %.1f\n", percent(elevation_[i])));
    }
    out << "Tot. ";
    for (int t = 0; t < kTerrains; ++t)
        if (terrain_[t] != 0) put(std::snprintf(buf, sizeof buf, "%5.2f ", percent(terrain_[t])));
    out << "\n";
}

namespace {

// One row of scratch space, counted as each row arrives.
class CountingSink : public mapfile::RowSink {
public:
    explicit CountingSink(CellCounts& counts) : counts_(counts) {}
    void begin(int cols, int) override {
        terrain_.assign(static_cast<std::size_t>(cols), 0);
        elevation_.assign(static_cast<std::size_t>(cols), 0);
    }
    char* terrainRow(int) override { return terrain_.data(); }
    char* elevationRow(int) override { return elevation_.data(); }
    void rowDone(int) override {
        counts_.addRow(terrain_.data(), elevation_.data(), static_cast<int>(terrain_.size()));
    }

private:
    CellCounts& counts_;
    std::vector<char> terrain_, elevation_;
};

// Keeps a load's failure message without its line end, as HxMap does.
bool failWith(const std::string& message, std::string& error) {
    error = message;
    if (!error.empty() && error.back() == '\n') error.pop_back();
    return false;
}

}  // namespace

bool countMapFile(const char* filename, const LoadHooks& hooks, CellCounts& counts, std::string& error) {
    CellCounts fresh;
    CountingSink sink(fresh);
    std::string message;
    mapfile::Outcome outcome;
    try {
        outcome = mapfile::readRows(filename, hooks, sink, message);
    } catch (const std::bad_alloc&) {
        return failWith(mapfile::outOfMemory(filename), error);
    }
    switch (outcome) {
    case mapfile::Outcome::Failed:
        return failWith(message, error);
    case mapfile::Outcome::Cancelled:
        error = mapfile::kCancelled;
        return false;
    case mapfile::Outcome::Done:
        break;
    }
    counts = fresh;
    error.clear();
    return true;
}

// ---------------------------------------------------------------------------
// Parts of maps

class MapPartReader {
public:
    static bool load(HxMap& map, const char* filename, const PartPick& pick, const LoadHooks& hooks, MapPart& part);

private:
    enum class Fast { Done, Failed, Cancelled, Unsuitable };
    static Fast readRows(HxMap& map, const char* filename, const PartPick& pick, const LoadHooks& hooks,
                         MapPart& part);
};

namespace {

// The fixed layout of a file whose rows all have the same length.
struct Layout {
    std::uint64_t first = 0;    // offset of row 0
    std::uint64_t stride = 0;   // 2 x cols characters and "\n"
    std::size_t rowChars = 0;
    char end[1] = {'\n'};
    int rows = 0, cols = 0;
    std::uint64_t size = 0;

    std::uint64_t offset(int y) const { return first + stride * static_cast<std::uint64_t>(y); }
    // The bytes rows y..y+n-1 take in the file: the last row of the file
    // may lack its line end.
    std::size_t bytes(int y, int n) const {
        return static_cast<std::size_t>(std::min<std::uint64_t>(stride * static_cast<std::uint64_t>(n),
                                                                 size - offset(y)));
    }
    // Whether the row at p (of the bytes from there to the buffer's end) is
    // one a load reads the same way: 2 x cols characters with no white space
    // or NUL, then "\n", or the end of the file.
    bool rowFits(const char* p, std::size_t have) const {
        const unsigned char* const u = reinterpret_cast<const unsigned char*>(p);
        unsigned stop = 0;
        for (std::size_t k = 0; k < rowChars; ++k) stop |= mapfile::stops(u[k]);
        if (stop != 0) return false;
        if (have == rowChars) return true;   // the end of the file
        return have > rowChars && p[rowChars] == '\n';
    }
};

// Reads the header and works out whether every row of the file can sit at
// a computed offset: rows ended by "\n", and the size exactly what such
// rows make. Then a row found where it should be is the row a load reads
// there: rows of at least 2 x cols characters with a line end after each
// leave at most one byte for anything else (an extra character, an extra
// blank), and that byte would move every row after it off its place. With
// "\r\n" every row could give up a byte that a longer row takes back
// further on, so such files are read whole.
bool fixedLayout(mapfile::FileReader& in, Layout& l) {
    bool tooLarge = false;
    mapfile::readHeader(in, l.rows, l.cols, tooLarge);
    if (in.failed() || tooLarge || l.rows <= 0 || l.cols <= 0) return false;
    l.size = in.size();
    l.first = in.consumed();
    l.rowChars = 2 * static_cast<std::size_t>(l.cols);
    if (l.first + l.rowChars + 1 > l.size) return false;
    if (!in.readAt(l.first + l.rowChars, l.end, 1) || l.end[0] != '\n') return false;
    l.stride = l.rowChars + 1;
    const std::uint64_t body = l.stride * static_cast<std::uint64_t>(l.rows);
    return l.size - l.first == body || l.size - l.first == body - 1;
}

}  // namespace

MapPartReader::Fast MapPartReader::readRows(HxMap& map, const char* filename, const PartPick& pick,
                                            const LoadHooks& hooks, MapPart& part) {
    mapfile::FileReader in;
    Layout l;
    if (!in.open(filename) || !fixedLayout(in, l)) return Fast::Unsuitable;
    const hexgeom::CellRange want = pick(l.cols, l.rows);
    // Every row wanted: a whole load costs the same.
    if (!want.empty() && want.y1 == 0 && want.y2 == l.rows - 1) return Fast::Unsuitable;
    if (want.empty()) {
        part = MapPart{};
        part.cols = l.cols;
        part.rows = l.rows;
        part.rowsOnly = true;
        return Fast::Done;
    }

    // The rows are read in bands of about 4 MiB, at least one row, and
    // every row read is checked whole. Rows with bad elevations are noted
    // and their warnings given once every row has passed, so that a file
    // that turns out to break the pattern is loaded whole with no warning
    // given twice.
    const int x0 = want.x1 - (want.x1 & 1);
    const int w = want.x2 - x0 + 1, h = want.y2 - want.y1 + 1;
    const int bandRows = static_cast<int>(std::max<std::uint64_t>(1, (std::uint64_t(4) << 20) / l.stride));
    std::vector<char> band;
    std::vector<char> trow(static_cast<std::size_t>(l.cols)), erow(static_cast<std::size_t>(l.cols));
    Array2d<char> terrain(w, h), elevation(w, h);
    band.resize(static_cast<std::size_t>(l.stride) * static_cast<std::size_t>(std::min(bandRows, h)));
    std::vector<int> warned;
    const std::uint64_t total = l.stride * static_cast<std::uint64_t>(h);
    for (int y = want.y1; y <= want.y2; y += bandRows) {
        if (hooks.progress && !hooks.progress(l.stride * static_cast<std::uint64_t>(y - want.y1), total))
            return Fast::Cancelled;
        const int n = std::min(bandRows, want.y2 - y + 1);
        const std::size_t bytes = l.bytes(y, n);
        if (!in.readAt(l.offset(y), band.data(), bytes)) return Fast::Unsuitable;
        for (int k = 0; k < n; ++k) {
            const char* p = band.data() + static_cast<std::size_t>(l.stride) * k;
            if (!l.rowFits(p, bytes - static_cast<std::size_t>(l.stride) * k)) return Fast::Unsuitable;
            char* const t = terrain.row(y + k - want.y1);
            char* const e = elevation.row(y + k - want.y1);
            // The whole row is looked at for bad elevations, only the
            // columns picked are kept.
            const unsigned char* const u = reinterpret_cast<const unsigned char*>(p);
            unsigned char worst = 0;
            for (int j = 0; j < l.cols; ++j)
                worst = std::max(worst, static_cast<unsigned char>(u[2 * j + 1] - 48u));
            for (int j = x0; j <= want.x2; ++j) {
                t[j - x0] = mapfile::kRead2Real(p[2 * j]);
                e[j - x0] = mapfile::elevationOf(p[2 * j + 1]);
            }
            if (worst > 9) warned.push_back(y + k);
        }
    }
    for (int y : warned) {
        if (!in.readAt(l.offset(y), band.data(), l.rowChars)) return Fast::Unsuitable;
        for (int j = 0; j < l.cols; ++j) erow[static_cast<std::size_t>(j)] = mapfile::elevationOf(band[2 * j + 1]);
        mapfile::warnElevations(erow.data(), l.cols, y, hooks);
    }
    map.adopt(terrain, elevation, filename);
    part.cols = l.cols;
    part.rows = l.rows;
    part.dx = x0;
    part.dy = want.y1;
    part.cells = hexgeom::CellRange{want.x1 - x0, 0, want.x2 - x0, h - 1};
    part.rowsOnly = true;
    return Fast::Done;
}

bool MapPartReader::load(HxMap& map, const char* filename, const PartPick& pick, const LoadHooks& hooks,
                         MapPart& part) {
    Fast fast;
    try {
        fast = readRows(map, filename, pick, hooks, part);
    } catch (const std::bad_alloc&) {
        map.fail(mapfile::outOfMemory(filename).c_str());
        return false;
    }
    switch (fast) {
    case Fast::Done:
        return true;
    case Fast::Failed:
        return false;
    case Fast::Cancelled:
        map.lastErr = mapfile::kCancelled;
        map.lastMsg.clear();
        return false;
    case Fast::Unsuitable:
        break;
    }
    if (!map.loadMap(filename, hooks)) return false;
    part = MapPart{};
    part.cols = map.xs();
    part.rows = map.ys();
    part.cells = pick(map.xs(), map.ys());
    return true;
}

bool loadMapPart(HxMap& map, const char* filename, const PartPick& pick, const LoadHooks& hooks, MapPart& part) {
    return MapPartReader::load(map, filename, pick, hooks, part);
}
