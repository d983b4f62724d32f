// libFuzzer target for the map reader. Each input is written to an in-memory
// file and loaded into a map that already holds something. Beyond not
// crashing, the reader must keep its promises:
//  - a failed load leaves the map exactly as it was, and says why;
//  - a successful load gives the header's size, a full used extent and the
//    file's name, and what it read survives saveMap and loadMap unchanged,
//    with a second save writing the same bytes as the first;
//  - counting the cells row by row succeeds or fails as the load does, with
//    the same message, and so does loading a part of the map, unless it
//    read only the rows it picked; the cells of a part are the load's.
// Warnings go to standard output, which is sent to /dev/null here.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hxmap.h"
#include "maprows.h"

namespace {

int inputFd = -1;
std::string inputPath;
std::string saveA;
std::string saveB;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "map reader contract broken: %s\n", what);
    std::abort();
}

struct Snapshot {
    int xs = 0, ys = 0;
    std::string name;
    int lx = 0, ly = 0, hx = 0, hy = 0;
    std::string cells;

    explicit Snapshot(const HxMap& m) : xs(m.xs()), ys(m.ys()), name(m.name) {
        m.usedExtent(lx, ly, hx, hy);
        for (int y = 0; y < ys; ++y)
            for (int x = 0; x < xs; ++x) {
                cells += m.t(x, y);
                cells += m.e(x, y);
            }
    }
    bool sameAs(const Snapshot& o) const {
        return xs == o.xs && ys == o.ys && name == o.name && lx == o.lx && ly == o.ly && hx == o.hx &&
               hy == o.hy && cells == o.cells;
    }
};

bool sameCells(const HxMap& a, const HxMap& b) {
    if (a.xs() != b.xs() || a.ys() != b.ys()) return false;
    for (int x = 0; x < a.xs(); ++x)
        for (int y = 0; y < a.ys(); ++y)
            if (a.t(x, y) != b.t(x, y) || a.e(x, y) != b.e(x, y)) return false;
    return true;
}

std::string slurp(const std::string& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
    return s;
}

// A map in a state no load produces: odd name, partial extent.
void prepare(HxMap& m) {
    m.resizeGrid(3, 2);
    m.name = "before";
    m.st(1, 1, '#');
    m.se(2, 0, 7);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) broken("cannot silence standard output");
    inputFd = memfd_create("tarven-fuzz-input", MFD_CLOEXEC);
    if (inputFd < 0) broken("memfd_create failed");
    inputPath = "/proc/self/fd/" + std::to_string(inputFd);
    // Saving goes through a real folder; memory-backed when there is one.
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string dir = base + "/tarven-fuzz-XXXXXX";
    if (!mkdtemp(&dir[0])) broken("mkdtemp failed");
    saveA = dir + "/a.map";
    saveB = dir + "/b.map";
    return 0;
}

// The other readers of the same file against the whole load's result.
void compareOtherReaders(const HxMap& whole, bool loaded, const std::uint8_t* data, std::size_t size) {
    CellCounts counts;
    std::string error;
    if (countMapFile(inputPath.c_str(), LoadHooks{}, counts, error) != loaded) broken("counting and loading disagree");
    if (error != whole.lastError()) broken("counting failed with another message");

    // The rows and columns picked come from the input's first bytes.
    const unsigned a = size > 0 ? data[0] : 0, b = size > 1 ? data[1] : 0;
    HxMap part(1, 1);
    prepare(part);
    const Snapshot before(part);
    MapPart where;
    const auto pick = [&](int cols, int rows) {
        const int y1 = static_cast<int>(a % static_cast<unsigned>(rows));
        const int x1 = static_cast<int>(b % static_cast<unsigned>(cols));
        return hexgeom::CellRange{x1, y1, std::min(cols - 1, x1 + 3), std::min(rows - 1, y1 + static_cast<int>(a % 5))};
    };
    if (!loadMapPart(part, inputPath.c_str(), pick, LoadHooks{}, where)) {
        if (loaded) broken("a part failed where the whole map loaded");
        if (!Snapshot(part).sameAs(before)) broken("failed part changed the map");
        if (part.lastError() != whole.lastError()) broken("part failed with another message");
        return;
    }
    if (!loaded) {
        if (!where.rowsOnly) broken("a whole load of a part succeeded where loading failed");
        return;
    }
    if (where.dx % 2 != 0) broken("part shifted by an odd number of columns");
    for (int y = where.cells.y1; y <= where.cells.y2; ++y)
        for (int x = where.cells.x1; x <= where.cells.x2; ++x)
            if (part.t(x, y) != whole.t(x + where.dx, y + where.dy) ||
                part.e(x, y) != whole.e(x + where.dx, y + where.dy))
                broken("part holds other cells than the load");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (ftruncate(inputFd, 0) != 0) broken("ftruncate failed");
    if (size > 0 && pwrite(inputFd, data, size, 0) != static_cast<ssize_t>(size)) broken("pwrite failed");

    HxMap m(1, 1);
    prepare(m);
    const Snapshot before(m);
    const bool loaded = m.loadMap(inputPath.c_str());
    compareOtherReaders(m, loaded, data, size);
    if (!loaded) {
        if (!Snapshot(m).sameAs(before)) broken("failed load changed the map");
        if (m.lastError().empty()) broken("failed load gave no message");
        return 0;
    }
    if (!m.lastError().empty()) broken("successful load left an error");
    if (m.name != inputPath) broken("name is not the file's");
    if (m.xs() < 1 || m.ys() < 1) broken("loaded an empty grid");
    if (static_cast<std::uint64_t>(m.xs()) * static_cast<std::uint64_t>(m.ys()) * 2 > size)
        broken("more cells than the file has characters");
    int lx, ly, hx, hy;
    m.usedExtent(lx, ly, hx, hy);
    if (lx != 0 || ly != 0 || hx != m.xs() - 1 || hy != m.ys() - 1) broken("used extent is not the whole grid");

    if (!m.saveMap(saveA.c_str())) broken("saving a loaded map failed");
    HxMap back(1, 1);
    if (!back.loadMap(saveA.c_str())) broken("reloading a saved map failed");
    if (!sameCells(m, back)) broken("save and load changed the cells");
    if (!back.saveMap(saveB.c_str())) broken("second save failed");
    if (slurp(saveA) != slurp(saveB)) broken("second save wrote other bytes");
    return 0;
}
