#include "hxmap.h"

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

// Map file format: a header "rows columns", then one white-space-delimited
// word per row, two characters per cell (terrain in its file form, then the
// elevation as '0' + elevation).
//
// The reader walks the file front to back by hand, through one buffer, with
// the same rules as "%d %d\n" followed by "%s\n" per row:
//  - White space is the C locale's (space \t \n \v \f \r), whatever locale
//    the toolkit has set.
//  - A header number that is missing is shown as 0 in the invalid-size
//    message. A number too large for an int is clamped to INT_MAX (INT_MIN
//    when negative) and rejected as an invalid size.
//  - A NUL byte belongs to the word it is in, as with "%s", but the usable
//    part of the word ends at it: a NUL among the first 2 x columns
//    characters makes the row short, one after them is ignored with the rest
//    of the word. The writer never produces NUL.
//  - Words after the last expected row are never looked at.
// Only a regular file is read, and only the bytes it held when it was
// opened: a pipe, device, socket or folder is refused before anything is
// read, and a file that keeps growing cannot make the load run on. A header
// promising more cells than the file has characters for is refused before
// the grids are allocated, so a load never takes more memory than its
// cells, the buffer and, for such a header, one row. The rows fill fresh
// grids in one pass; they replace the map's only when every row is there.

namespace {

// Character classes by table: 1 = white space, 2 = NUL (ends the usable
// part of a word but not the word). Built at compile time, so that they are
// ready even for a load from another file's static initialisation.
struct CharClass {
    unsigned char cls[256] = {};
    constexpr CharClass() {
        cls[static_cast<unsigned char>(' ')] = 1;
        cls[static_cast<unsigned char>('\t')] = 1;
        cls[static_cast<unsigned char>('\n')] = 1;
        cls[static_cast<unsigned char>('\v')] = 1;
        cls[static_cast<unsigned char>('\f')] = 1;
        cls[static_cast<unsigned char>('\r')] = 1;
        cls[0] = 2;
    }
    constexpr bool space(char c) const { return cls[static_cast<unsigned char>(c)] == 1; }
    constexpr bool stop(char c) const { return cls[static_cast<unsigned char>(c)] != 0; }
};
constexpr CharClass kClass;

// read2real as a table, for the load loop.
struct TerrainTable {
    char real[256] = {};
    constexpr TerrainTable() {
        for (int i = 0; i < 256; ++i) real[i] = static_cast<char>(i);
        real[static_cast<unsigned char>('\'')] = '`';
        real[static_cast<unsigned char>('.')] = ' ';
        real[static_cast<unsigned char>('_')] = ' ';
    }
    char operator()(char c) const { return real[static_cast<unsigned char>(c)]; }
};
constexpr TerrainTable kRead2Real;

// A save writes at most this many rows per write call.
constexpr int kBand = 64;

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s;
    if (n > 0) {
        s.resize(static_cast<std::size_t>(n));
        std::vsnprintf(&s[0], s.size() + 1, fmt, ap2);
    }
    va_end(ap2);
    return s;
}

// Reads a regular file front to back through one buffer, and never more
// than the size the file had when it was opened: a file that keeps growing
// cannot make a load run on. Anything but a regular file, or a read error,
// counts as a file that cannot be opened. The open does not block (a pipe
// without a writer would wait for one) and does not make a terminal the
// controlling one; the type is checked by name first, so that a device is
// not even opened, and again on the open file, in case the name changed.
class FileReader {
public:
    static constexpr std::size_t kBuffer = std::size_t(256) << 10;

    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const char* path) {
        struct stat st;
        if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd_ < 0) return false;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
        size_ = static_cast<std::uint64_t>(st.st_size);
        left_ = size_;
        buf_.reset(new char[kBuffer]);
        return true;
    }

    // The file's size when it was opened.
    std::uint64_t size() const { return size_; }
    // The bytes taken from the file so far.
    std::uint64_t consumed() const { return size_ - left_ - (len_ - pos_); }
    // Whether a read failed; the reader then acts as if the file ended.
    bool failed() const { return failed_; }

    // The next character, or -1 at the end.
    int peek() {
        if (pos_ == len_ && avail(1) == 0) return -1;
        return static_cast<unsigned char>(buf_[pos_]);
    }
    void next() { ++pos_; }

    // Makes at least want (at most kBuffer) characters ready at cur() unless
    // the file ends first; returns how many are ready.
    std::size_t avail(std::size_t want) {
        if (len_ - pos_ >= want) return len_ - pos_;
        std::memmove(buf_.get(), buf_.get() + pos_, len_ - pos_);
        len_ -= pos_;
        pos_ = 0;
        while (len_ < want && left_ > 0 && !failed_) {
            std::size_t room = kBuffer - len_;
            if (room > left_) room = static_cast<std::size_t>(left_);
            const ssize_t n = ::read(fd_, buf_.get() + len_, room);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failed_ = true;
            if (n <= 0) {
                left_ = 0;   // an error, or the file shrank meanwhile
                break;
            }
            len_ += static_cast<std::size_t>(n);
            left_ -= static_cast<std::uint64_t>(n);
        }
        return len_ - pos_;
    }
    const char* cur() const { return buf_.get() + pos_; }
    void skip(std::size_t n) { pos_ += n; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t left_ = 0;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool failed_ = false;
};

void skipSpace(FileReader& in) {
    for (int c; (c = in.peek()) >= 0 && kClass.space(static_cast<char>(c));) in.next();
}

// One "%d" conversion: white space, an optional sign, at least one digit.
// Returns false when no number could be converted; overflow tells whether
// the number did not fit an int (value is then clamped).
bool scanInt(FileReader& in, int& value, bool& overflow) {
    skipSpace(in);
    bool negative = false;
    int c = in.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        in.next();
        c = in.peek();
    }
    if (c < '0' || c > '9') return false;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    std::int64_t v = 0;
    overflow = false;
    for (; c >= '0' && c <= '9'; in.next(), c = in.peek()) {
        if (overflow) continue;
        v = v * 10 + (c - '0');
        if (v > limit) overflow = true;
    }
    if (overflow) value = negative ? INT_MIN : INT_MAX;
    else value = static_cast<int>(negative ? -v : v);
    return true;
}

// Skips what is left of the current word.
void restOfWord(FileReader& in) {
    for (int c; (c = in.peek()) >= 0 && !kClass.space(static_cast<char>(c));) in.next();
}

// File character to elevation, in 8-bit arithmetic like the format has it:
// '0'..'9' give 0..9, anything else wraps around.
char elevationOf(char c) {
    return static_cast<char>(static_cast<unsigned char>(c) - 48u);
}

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
        fail(format("Error reading file %s : Out of memory!\n", filename).c_str());
        return false;
    }
}

namespace {

// Reads the 2 x cols characters of the row at the reader into a row of
// terrain and one of elevations. False when the row is short: the file
// ends, or white space or NUL comes, among them.
bool readRow(FileReader& in, char* trow, char* erow, int cols) {
    for (int j = 0; j < cols;) {
        const std::size_t ready = in.avail(2) / 2;
        if (ready == 0) return false;
        const int n = ready < static_cast<std::size_t>(cols - j) ? static_cast<int>(ready) : cols - j;
        const char* const p = in.cur();
        unsigned stop = 0;
        for (int k = 0; k < n; ++k) {
            const char t = p[2 * k];
            const char c = p[2 * k + 1];
            stop |= kClass.cls[static_cast<unsigned char>(t)] | kClass.cls[static_cast<unsigned char>(c)];
            trow[j + k] = kRead2Real(t);
            erow[j + k] = elevationOf(c);
        }
        if (stop != 0) return false;
        in.skip(2 * static_cast<std::size_t>(n));
        j += n;
    }
    restOfWord(in);
    skipSpace(in);
    return true;
}

// Gives the warning for every elevation of a row read that did not come
// from '0'..'9': printed, or to the caller's hook.
void warnElevations(const char* erow, int cols, int y, const LoadHooks& hooks) {
    for (int j = 0; j < cols; ++j) {
        if (static_cast<unsigned char>(erow[j]) <= 9) continue;
        const char c = static_cast<char>(static_cast<unsigned char>(erow[j]) + 48u);
        if (hooks.warning) {
            std::string line = format("Invalid map elevation char at %d,%d: ", j, y);
            line += c;
            hooks.warning(line);
        } else {
            std::printf("Invalid map elevation char at %d,%d: %c\n", j, y, c);
        }
    }
}

}  // namespace

bool HxMap::readMap(const char* filename, const LoadHooks& hooks) {
    FileReader in;
    auto cannotOpen = [&]() {
        fail(format("Error opening file %s!\n", filename).c_str());
        return false;
    };
    if (!in.open(filename)) return cannotOpen();

    int rows = 0;
    int cols = 0;
    bool rowsTooLarge = false;
    bool colsTooLarge = false;
    if (scanInt(in, rows, rowsTooLarge)) {
        skipSpace(in);
        if (scanInt(in, cols, colsTooLarge)) skipSpace(in);
    }
    if (in.failed()) return cannotOpen();
    if (rows <= 0 || cols <= 0 || rowsTooLarge || colsTooLarge) {
        fail(format("Error reading file %s : Invalid map size? (%d x %d)\n", filename, cols, rows).c_str());
        return false;
    }

    const std::size_t rowChars = 2 * static_cast<std::size_t>(cols);
    int rowsRead = 0;
    auto tooEarly = [&]() {
        if (in.failed()) return cannotOpen();
        fail(format("Error reading file %s : Too early EOF (%d<->%d)!\n", filename, rowsRead, rows).c_str());
        return false;
    };
    if (static_cast<std::uint64_t>(rows) * rowChars > in.size()) {
        // The file cannot hold every row: count the complete ones for the
        // message through one row of scratch space, which the file holds
        // twice over if any row is complete.
        if (rowChars > in.size()) return tooEarly();
        std::vector<char> trow(static_cast<std::size_t>(cols));
        std::vector<char> erow(static_cast<std::size_t>(cols));
        while (rowsRead < rows && readRow(in, trow.data(), erow.data(), cols)) {
            warnElevations(erow.data(), cols, rowsRead, hooks);
            ++rowsRead;
        }
        return tooEarly();
    }

    // Every cell is written, so the grids start zero rather than "?".
    Array2d<char> newElev(cols, rows);
    Array2d<char> newTerr(cols, rows);
    // Progress is told about every 4 MiB of cells.
    const int rowsPerReport = static_cast<int>(std::max<std::size_t>(1, (std::size_t(4) << 20) / rowChars));
    for (; rowsRead < rows; ++rowsRead) {
        if (hooks.progress && rowsRead % rowsPerReport == 0 &&
            !hooks.progress(in.consumed(), in.size())) {
            lastErr = "Load cancelled";
            return false;
        }
        char* const erow = newElev.row(rowsRead);
        if (!readRow(in, newTerr.row(rowsRead), erow, cols)) return tooEarly();
        warnElevations(erow, cols, rowsRead, hooks);
    }
    if (in.failed()) return cannotOpen();

    std::string newName(filename);
    // From here on nothing can fail.
    elev.swap(newElev);
    terr.swap(newTerr);
    xsize = cols;
    ysize = rows;
    name.swap(newName);
    // As if every cell had gone through st and se.
    lowestUsedX = 0;
    lowestUsedY = 0;
    highestUsedX = cols - 1;
    highestUsedY = rows - 1;
    lastErr.clear();
    return true;
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
    // Terrain codes 0..254 and elevations 0..9 have counters. Cells outside
    // them (terrain negative as a signed char, elevation outside 0..9) get no
    // column but count in the total, which is every cell of the grid.
    constexpr int kTerrains = 255;
    constexpr int kElevations = 10;
    std::vector<long long> terrain(kTerrains, 0);
    std::vector<long long> elevation(kElevations, 0);
    std::vector<long long> both(static_cast<std::size_t>(kElevations) * kTerrains, 0);
    const long long total = static_cast<long long>(xsize) * ysize;
    for (int y = 0; y < ysize; ++y) {
        for (int x = 0; x < xsize; ++x) {
            const int e = static_cast<signed char>(elev.get(x, y));
            const int t = static_cast<signed char>(terr.get(x, y));
            if (e < 0 || e >= kElevations || t < 0 || t >= kTerrains) continue;
            ++elevation[e];
            ++terrain[t];
            ++both[static_cast<std::size_t>(e) * kTerrains + t];
        }
    }
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
        if (terrain[t] != 0) put(std::snprintf(buf, sizeof buf, "  '%c' ", t));
    out << " Total\n";
    for (int i = 0; i < kElevations; ++i) {
        put(std::snprintf(buf, sizeof buf, "  %2d ", i));
        for (int t = 0; t < kTerrains; ++t)
            if (terrain[t] != 0)
                put(std::snprintf(buf, sizeof buf, "%5.2f ",
                                  percent(both[static_cast<std::size_t>(i) * kTerrains + t])));
        put(std::snprintf(buf, sizeof buf, " %.1f\n", percent(elevation[i])));
    }
    out << "Tot. ";
    for (int t = 0; t < kTerrains; ++t)
        if (terrain[t] != 0) put(std::snprintf(buf, sizeof buf, "%5.2f ", percent(terrain[t])));
    out << "\n";
}
