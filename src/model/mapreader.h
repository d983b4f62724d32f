// The one reader of map files, inside the model: the load of a whole map,
// the load of a part of one and the counting of a map's cells all read
// through these pieces, so that they accept, warn about and refuse exactly
// the same files with exactly the same messages.
//
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
// any row storage is asked for, so a load never takes more memory than its
// cells, the buffer and, for such a header, one row.
#ifndef TARVEN_MAPREADER_H
#define TARVEN_MAPREADER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "hxmap.h"

namespace mapfile {

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

// The classes above as arithmetic, for loops that run on whole vectors of
// characters: 1 for white space or NUL.
inline unsigned stops(unsigned char b) {
    return static_cast<unsigned>(b == 0) | static_cast<unsigned>(b == ' ') |
           static_cast<unsigned>(static_cast<unsigned char>(b - 9) <= 4);
}

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

// printf into a string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// File character to elevation, in 8-bit arithmetic like the format has it:
// '0'..'9' give 0..9, anything else wraps around.
inline char elevationOf(char c) { return static_cast<char>(static_cast<unsigned char>(c) - 48u); }

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
    ~FileReader();

    bool open(const char* path);

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
    std::size_t avail(std::size_t want);
    const char* cur() const { return buf_.get() + pos_; }
    void skip(std::size_t n) { pos_ += n; }

    // n bytes from `offset` into dst, apart from the stream above; false on
    // a read error or when the file (as opened) ends first.
    bool readAt(std::uint64_t offset, char* dst, std::size_t n);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t left_ = 0;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool failed_ = false;
};

void skipSpace(FileReader& in);

// The header: "%d %d\n", rows first. A number that is missing stays 0; one
// too large for an int is clamped and sets tooLarge. Leaves the reader on
// the first character of the first row.
void readHeader(FileReader& in, int& rows, int& cols, bool& tooLarge);

// Reads the 2 x cols characters of the row at the reader into a row of
// terrain and one of elevations, then skips the rest of the word and the
// white space after it. False when the row is short: the file ends, or
// white space or NUL comes, among them.
bool readRow(FileReader& in, char* trow, char* erow, int cols);

// Gives the warning for every elevation of a row read that did not come
// from '0'..'9': printed on standard output, or to the caller's hook.
void warnElevations(const char* erow, int cols, int y, const LoadHooks& hooks);

// Where the rows of a load go.
class RowSink {
public:
    virtual ~RowSink() = default;
    // The header's size, once the file is known to have room for every
    // row; before any row. May throw std::bad_alloc.
    virtual void begin(int cols, int rows) = 0;
    // Room for the cols cells of row y.
    virtual char* terrainRow(int y) = 0;
    virtual char* elevationRow(int y) = 0;
    // Row y is read and its warnings are given.
    virtual void rowDone(int y) { (void)y; }
};

enum class Outcome { Done, Failed, Cancelled };

// Reads every row of the file into the sink, front to back, telling the
// hooks as it goes. On failure `message` is the message to print, line end
// included. std::bad_alloc from the sink is passed on.
Outcome readRows(const char* filename, const LoadHooks& hooks, RowSink& sink, std::string& message);

// The message of a load that ran out of memory.
std::string outOfMemory(const char* filename);

// The message of a load stopped through its progress hook.
constexpr const char* kCancelled = "Load cancelled";

}  // namespace mapfile

#endif
