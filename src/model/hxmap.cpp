#include "hxmap.h"

#include "mapreader.h"
#include "maprows.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The reading itself is in mapreader.cpp, shared with the loads of parts of
// maps and the counting of cells. The rows fill fresh grids in one pass;
// they replace the map's only when every row is there.

using mapfile::format;
using mapfile::kClass;

namespace {

// A save writes at most this many rows per write call.
constexpr int kBand = 64;

// Characters of one cell as written: a terrain that is NUL or white space
// would end the row early and is written as "?", an elevation character that
// would do the same as "0". Everything else is written exactly.
// Both as tables by the cell's unsigned byte, for the save loop.
struct CellWriteTable {
    char terrain[256] = {};
    char elevation[256] = {};
    constexpr CellWriteTable() {
        for (int i = 0; i < 256; ++i) {
            const char t = i == ' ' ? '.' : static_cast<char>(i);
            terrain[i] = kClass.stop(t) ? '?' : t;
            const char e = static_cast<char>((i + 48) & 0xff);
            elevation[i] = kClass.stop(e) ? '0' : e;
        }
    }
};
constexpr CellWriteTable kWrite;

// Follows symbolic links so that saving replaces the file a link points to
// and keeps the link. A path that does not exist (yet) is its own target.
bool resolveTarget(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat ls;
        if (::lstat(target.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode)) return true;
        std::vector<char> link(256);
        for (;;) {
            const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
            if (n < 0) return false;
            if (static_cast<std::size_t>(n) < link.size()) {
                link.resize(static_cast<std::size_t>(n));
                break;
            }
            link.resize(link.size() * 2);
        }
        std::string next(link.begin(), link.end());
        if (next.empty()) return false;
        if (next[0] != '/') {
            const std::size_t slash = target.rfind('/');
            next = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + next;
        }
        target = next;
    }
    return false;   // a loop of links
}

bool writeAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

HxMap::HxMap(int xs, int ys)
    : xsize(xs < 0 ? 0 : xs), ysize(ys < 0 ? 0 : ys),
      elev(xsize, ysize, 0), terr(xsize, ysize, '?') {
    clearXY();
}

HxMap::HxMap(const char* filename) : xsize(1), ysize(1), elev(1, 1, 0), terr(1, 1, '?') {
    loadMap(filename);
}

void HxMap::resizeGrid(int x, int y) {
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    clearXY();
    xsize = x;
    ysize = y;
    elev.resize(x, y, 0);
    terr.resize(x, y, '?');
}

void HxMap::fail(const char* message) const {
    std::fputs(message, stdout);
    lastErr = message;
    if (!lastErr.empty() && lastErr.back() == '\n') lastErr.pop_back();
}

// Memory runs out only for absurd files; that is reported like any other
// unreadable file instead of ending the program.
bool HxMap::loadMap(const char* filename) { return loadMap(filename, LoadHooks{}); }

bool HxMap::loadMap(const char* filename, const LoadHooks& hooks) {
    try {
        return readMap(filename, hooks);
    } catch (const std::bad_alloc&) {
        fail(mapfile::outOfMemory(filename).c_str());
        return false;
    }
}

namespace {

// Rows straight into fresh grids.
class GridSink : public mapfile::RowSink {
public:
    void begin(int cols, int rows) override {
        // Every cell is written, so the grids start zero rather than "?".
        Array2d<char>(cols, rows).swap(elev);
        Array2d<char>(cols, rows).swap(terr);
    }
    char* terrainRow(int y) override { return terr.row(y); }
    char* elevationRow(int y) override { return elev.row(y); }

    Array2d<char> elev{0, 0};
    Array2d<char> terr{0, 0};
};

}  // namespace

bool HxMap::readMap(const char* filename, const LoadHooks& hooks) {
    GridSink grids;
    std::string message;
    switch (mapfile::readRows(filename, hooks, grids, message)) {
    case mapfile::Outcome::Failed:
        fail(message.c_str());
        return false;
    case mapfile::Outcome::Cancelled:
        lastErr = mapfile::kCancelled;
        return false;
    case mapfile::Outcome::Done:
        break;
    }
    adopt(grids.terr, grids.elev, filename);
    return true;
}

void HxMap::adopt(Array2d<char>& terrain, Array2d<char>& elevation, const char* filename) {
    std::string newName(filename);
    // From here on nothing can fail.
    elev.swap(elevation);
    terr.swap(terrain);
    xsize = elev.xs();
    ysize = elev.ys();
    name.swap(newName);
    // As if every cell had gone through st and se.
    lowestUsedX = 0;
    lowestUsedY = 0;
    highestUsedX = xsize - 1;
    highestUsedY = ysize - 1;
    lastErr.clear();
}

// The map is written to a temporary file next to the target, synced, and
// renamed over the target, so that a failure at any point leaves the old
// file as it was. An existing target keeps its permission bits (and, where
// allowed, its owner); a new one gets 0666 less the umask.
bool HxMap::saveMap(const char* filename) const {
    const char* const openFailure = "Unable to open the map file!";
    std::string target;
    if (!filename || !*filename || !resolveTarget(filename, target)) {
        fail(openFailure);
        return false;
    }
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    // Only a regular file is replaced: a directory, device or pipe in its
    // place cannot take a map.
    if ((exists && !S_ISREG(st.st_mode)) || (!exists && errno != ENOENT)) {
        fail(openFailure);
        return false;
    }
    // The file is replaced, not written, but a file the user may not write
    // is refused as opening it for writing would be.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        fail(openFailure);
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    // Rows go through one buffer, a band of rows at a time; the band is
    // narrower for very wide maps, down to one row, so that the buffer stays
    // near 1 MiB unless a single row is longer.
    const std::size_t rowLen = 2 * static_cast<std::size_t>(xsize) + 1;
    const std::size_t budget = std::size_t(1) << 20;
    int bandRows = static_cast<int>(budget / rowLen);
    if (bandRows < 1) bandRows = 1;
    if (bandRows > kBand) bandRows = kBand;
    std::vector<char> out;
    try {
        out.resize(rowLen * static_cast<std::size_t>(bandRows));
    } catch (const std::bad_alloc&) {
        fail(format("Error writing file %s : the map was not saved!\n", filename).c_str());
        return false;
    }

    // The hidden temporary name takes 8 characters more than the target's,
    // so a long target name is shortened for it: every name must fit in
    // NAME_MAX (255) bytes.
    constexpr std::size_t kNameMax = 255;
    const std::string stem = base.substr(0, std::min(base.size(), kNameMax - 8));
    std::string tmp = dir + "." + stem + ".XXXXXX";
    const int fd = ::mkstemp(&tmp[0]);
    if (fd < 0) {
        fail(openFailure);
        return false;
    }

    if (exists && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not allowed to give the file away: it stays ours.
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    bool ok = ::fchmod(fd, mode) == 0;

    const std::string header = format("%d %d\n", ysize, xsize);
    ok = ok && writeAll(fd, header.data(), header.size());

    for (int y0 = 0; ok && y0 < ysize; y0 += bandRows) {
        const int n = ysize - y0 < bandRows ? ysize - y0 : bandRows;
        for (int k = 0; k < n; ++k) {
            const char* trow = terr.row(y0 + k);
            const char* erow = elev.row(y0 + k);
            char* cell = out.data() + rowLen * static_cast<std::size_t>(k);
            for (int x = 0; x < xsize; ++x, cell += 2) {
                cell[0] = kWrite.terrain[static_cast<unsigned char>(trow[x])];
                cell[1] = kWrite.elevation[static_cast<unsigned char>(erow[x])];
            }
        }
        for (int k = 0; k < n; ++k) out[rowLen * static_cast<std::size_t>(k) + rowLen - 1] = '\n';
        ok = writeAll(fd, out.data(), rowLen * static_cast<std::size_t>(n));
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        fail(format("Error writing file %s : the map was not saved!\n", filename).c_str());
        return false;
    }

    // Make the rename itself durable; the data is already on disk, so a
    // file system that cannot sync a directory is no failure.
    const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    lastErr.clear();
    return true;
}

void HxMap::statistics(std::ostream& out) const {
    CellCounts counts;
    for (int y = 0; y < ysize; ++y) counts.addRow(terr.row(y), elev.row(y), xsize);
    counts.print(out);
}
