#include "mapreader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mapfile {

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

std::string outOfMemory(const char* filename) { return format("Error reading file %s : Out of memory!\n", filename); }

FileReader::~FileReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileReader::open(const char* path) {
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

std::size_t FileReader::avail(std::size_t want) {
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

bool FileReader::readAt(std::uint64_t offset, char* dst, std::size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    while (n > 0) {
        const ssize_t got = ::pread(fd_, dst, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        dst += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

void skipSpace(FileReader& in) {
    for (int c; (c = in.peek()) >= 0 && kClass.space(static_cast<char>(c));) in.next();
}

namespace {

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

}  // namespace

void readHeader(FileReader& in, int& rows, int& cols, bool& tooLarge) {
    rows = cols = 0;
    bool rowsTooLarge = false;
    bool colsTooLarge = false;
    if (scanInt(in, rows, rowsTooLarge)) {
        skipSpace(in);
        if (scanInt(in, cols, colsTooLarge)) skipSpace(in);
    }
    tooLarge = rowsTooLarge || colsTooLarge;
}

namespace {

// read2real as arithmetic, so that the row loop below runs on whole
// vectors of cells.
inline unsigned char real(unsigned char t) {
    return t == '\'' ? static_cast<unsigned char>('`') : (t == '.' || t == '_') ? static_cast<unsigned char>(' ') : t;
}

}  // namespace

bool readRow(FileReader& in, char* trow, char* erow, int cols) {
    for (int j = 0; j < cols;) {
        const std::size_t ready = in.avail(2) / 2;
        if (ready == 0) return false;
        const int n = ready < static_cast<std::size_t>(cols - j) ? static_cast<int>(ready) : cols - j;
        const unsigned char* const p = reinterpret_cast<const unsigned char*>(in.cur());
        unsigned char* const t = reinterpret_cast<unsigned char*>(trow + j);
        unsigned char* const e = reinterpret_cast<unsigned char*>(erow + j);
        unsigned stop = 0;
        for (int k = 0; k < n; ++k) {
            const unsigned char tc = p[2 * k];
            const unsigned char ec = p[2 * k + 1];
            stop |= stops(tc) | stops(ec);
            t[k] = real(tc);
            e[k] = static_cast<unsigned char>(ec - 48u);
        }
        if (stop != 0) return false;
        in.skip(2 * static_cast<std::size_t>(n));
        j += n;
    }
    restOfWord(in);
    skipSpace(in);
    return true;
}

void warnElevations(const char* erow, int cols, int y, const LoadHooks& hooks) {
    unsigned char worst = 0;   // a quick look first: almost every row is clean
    for (int j = 0; j < cols; ++j) worst = std::max(worst, static_cast<unsigned char>(erow[j]));
    if (worst <= 9) return;
    for (int j = 0; j < cols; ++j) {
        if (static_cast<unsigned char>(erow[j]) <= 9) continue;
        const char c = static_cast<char>(static_cast<unsigned char>(erow[j]) + 48u);
        if (hooks.warning) {
            std::string line = format("Invalid map elevation char at %d,%d: ", j, y);
            line += c;
            hooks.warning(line);
        }
    }
}

Outcome readRows(const char* filename, const LoadHooks& hooks, RowSink& sink, std::string& message) {
    FileReader in;
    auto cannotOpen = [&]() {
        message = format("Error opening file %s!\n", filename);
        return Outcome::Failed;
    };
    if (!in.open(filename)) return cannotOpen();

    int rows = 0;
    int cols = 0;
    bool tooLarge = false;
    readHeader(in, rows, cols, tooLarge);
    if (in.failed()) return cannotOpen();
    if (rows <= 0 || cols <= 0 || tooLarge) {
        message = format("Error reading file %s : Invalid map size? (%d x %d)\n", filename, cols, rows);
        return Outcome::Failed;
    }

    const std::size_t rowChars = 2 * static_cast<std::size_t>(cols);
    int rowsRead = 0;
    auto tooEarly = [&]() {
        if (in.failed()) return cannotOpen();
        message = format("Error reading file %s : Too early EOF (%d<->%d)!\n", filename, rowsRead, rows);
        return Outcome::Failed;
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

    sink.begin(cols, rows);
    // Progress is told about every 4 MiB of cells.
    const int rowsPerReport = static_cast<int>(std::max<std::size_t>(1, (std::size_t(4) << 20) / rowChars));
    for (; rowsRead < rows; ++rowsRead) {
        if (hooks.progress && rowsRead % rowsPerReport == 0 && !hooks.progress(in.consumed(), in.size()))
            return Outcome::Cancelled;
        char* const erow = sink.elevationRow(rowsRead);
        if (!readRow(in, sink.terrainRow(rowsRead), erow, cols)) return tooEarly();
        warnElevations(erow, cols, rowsRead, hooks);
        sink.rowDone(rowsRead);
    }
    if (in.failed()) return cannotOpen();
    return Outcome::Done;
}

}  // namespace mapfile
