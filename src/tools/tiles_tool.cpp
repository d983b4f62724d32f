#include "tilestool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "outputfile.h"
#include "pngrender.h"
#include "progress.h"
#include "workqueue.h"
#include "textlabels.h"
#include "toolargs.h"
#include "tools.h"

namespace tools {

namespace {

const char* const kUsage =
    "Usage: tarven-tiles [--max-pitch N] [--max-tiles N] [-q] INPUT.map OUTDIR\n"
    "Writes a map as a zoomable web map: OUTDIR/index.html, a pyramid of\n"
    "256 x 256 tiles in OUTDIR/tiles/Z/X/Y.png and the viewer library. Open\n"
    "index.html in a browser, from the disk or from any web server.\n"
    "\n"
    "  --max-pitch N    pixels from cell to cell at the deepest level: 1, 2, 4,\n"
    "                   8, 16, 32 or 64 (default 32); each level above halves it\n"
    "  --max-tiles N    refuse to write more tiles than this (default 100000)\n"
    "  --leaflet DIR    where the viewer library is (default\n"
    "                   /usr/share/javascript/leaflet)\n"
    "  -q, --quiet      show no progress\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 failed, 2 bad arguments or too many tiles.\n";

const char* const kTool = "tarven-tiles";

// The widest and highest level drawn: every pixel of it, and the last
// tile's far edge, must stay an int.
constexpr long long kMaxLevelSide = 1LL << 30;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---------------------------------------------------------------------------
// Files and folders, always relative to a folder that is open: a name is
// looked up in that folder only, and no link is followed below OUTDIR.

// A folder held open.
class Dir {
public:
    Dir() = default;
    explicit Dir(int fd) : fd_(fd) {}
    Dir(Dir&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Dir& operator=(Dir&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    ~Dir() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The folder `name` inside `parent`, not through a link.
Dir openFolder(int parent, const std::string& name) {
    return Dir(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A new folder `name` inside `parent`, with the permissions the umask
// leaves of 0777. Fails when anything is there by that name.
Dir newFolder(int parent, const std::string& name, const std::string& shown, std::string& error) {
    if (::mkdirat(parent, name.c_str(), 0777) != 0) {
        error = "cannot make the folder " + quoted(shown) + ": " + std::strerror(errno);
        return Dir();
    }
    Dir dir = openFolder(parent, name);
    if (!dir.ok()) error = "cannot make the folder " + quoted(shown) + ": " + std::strerror(errno);
    return dir;
}

// A new file `name` inside `folder`, with the permissions the umask leaves
// of 0666; `fill` writes its content. Fails, and leaves nothing, when
// anything is there by that name already.
template <typename Fill>
bool newFile(int folder, const std::string& name, const std::string& shown, Fill fill, std::string& error) {
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!f) {
        error = "cannot write " + quoted(shown) + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::string why;
    bool ok = fill(f, why);
    if (ok && std::ferror(f)) why = std::strerror(errno), ok = false;
    if (std::fclose(f) != 0 && ok) why = std::strerror(errno), ok = false;
    if (!ok) {
        ::unlinkat(folder, name.c_str(), 0);
        error = "cannot write " + quoted(shown) + (why.empty() ? std::string() : ": " + why);
    }
    return ok;
}

bool newText(int folder, const std::string& name, const std::string& shown, const std::string& text,
             std::string& error) {
    return newFile(folder, name, shown,
                   [&](std::FILE* f, std::string& why) {
                       if (std::fwrite(text.data(), 1, text.size(), f) == text.size()) return true;
                       why = std::strerror(errno);
                       return false;
                   },
                   error);
}

// Removes `name` inside `parent` and, for a folder, everything in it,
// without following any link.
// Removes the entry `name` of the folder `parent`, a folder with all it
// holds; true when it is gone. It takes no memory from the heap, so that a
// run that failed for lack of memory still removes what it made.
bool removeTree(int parent, const char* name) {
    if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    alignas(8) char buffer[4096];
    // Entries are removed as they are read, so the folder is read again from
    // its start until it holds nothing more that can be removed.
    for (bool removed = true; removed;) {
        removed = false;
        if (::lseek(fd, 0, SEEK_SET) != 0) break;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                struct Entry {
                    std::uint64_t inode;
                    std::int64_t offset;
                    unsigned short length;
                    unsigned char type;
                    char name[1];
                };
                const Entry* e = reinterpret_cast<const Entry*>(buffer + at);
                at += e->length;
                if (std::strcmp(e->name, ".") == 0 || std::strcmp(e->name, "..") == 0) continue;
                if (removeTree(fd, e->name)) removed = true;
            }
        }
    }
    ::close(fd);
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

// What the folder's page serves: replaced together at the end.
const char* const kServed[] = {"map.js", "tiles", "cells", "leaflet", "index.html"};

// The hidden folder a run builds its output in, inside OUTDIR. The run
// holds a lock on it; a folder of that kind whose lock nobody holds was
// left by a run that was ended (a signal, a power cut) and is removed.
const char* const kStagePrefix = ".tarven-tiles-";

class Stage {
public:
    Stage(int outdir, std::string shownOut) : outdir_(outdir), shownOut_(std::move(shownOut)) {}
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    ~Stage() {
        if (!name_.empty()) removeTree(outdir_, name_.c_str());
    }

    bool make(std::string& error) {
        removeAbandoned();
        static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100; ++attempt) {
            unsigned char bytes[8];
            if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes))
                for (unsigned char& b : bytes) b = static_cast<unsigned char>(std::rand());
            std::string name = kStagePrefix;
            for (unsigned char b : bytes) name += kAlphabet[b % 36];
            // Only this user may enter it while it is built.
            if (::mkdirat(outdir_, name.c_str(), 0700) == 0) {
                name_ = name;
                dir_ = openFolder(outdir_, name_);
                if (dir_.ok() && ::flock(dir_.fd(), LOCK_EX | LOCK_NB) == 0) return true;
                break;
            }
            if (errno != EEXIST) break;
        }
        error = "cannot write into " + quoted(shownOut_) + ": " + std::strerror(errno);
        return false;
    }

    int fd() const { return dir_.fd(); }
    std::string shown(const std::string& inside) const { return shownOut_ + "/" + inside; }

    // Puts the new entries in the place of the old ones: the old page goes
    // first, so that a run ended half way through leaves no page that
    // serves a mix, and the new page comes last. The old entries end up in
    // the stage and go with it.
    bool swapIn(std::string& error) {
        if (::syncfs(outdir_) != 0) return fail(error, shownOut_);
        if (::renameat(outdir_, "index.html", dir_.fd(), "old-index.html") != 0 && errno != ENOENT)
            return fail(error, shown("index.html"));
        for (const char* name : kServed) {
            if (!place(name)) return fail(error, shown(name));
        }
        ::fsync(outdir_);
        return true;
    }

private:
    bool fail(std::string& error, const std::string& what) {
        error = "cannot write " + quoted(what) + ": " + std::strerror(errno);
        return false;
    }

    // Moves the stage's `name` into OUTDIR, the old one there into the stage.
    bool place(const std::string& name) {
        if (::renameat2(dir_.fd(), name.c_str(), outdir_, name.c_str(), RENAME_EXCHANGE) == 0) {
            return ::renameat(dir_.fd(), name.c_str(), dir_.fd(), ("old-" + name).c_str()) == 0;
        }
        if (errno == ENOENT)   // nothing there yet
            return ::renameat2(dir_.fd(), name.c_str(), outdir_, name.c_str(), RENAME_NOREPLACE) == 0;
        // A file system that cannot exchange: move the old one aside first.
        if (::renameat(outdir_, name.c_str(), dir_.fd(), ("old-" + name).c_str()) != 0 && errno != ENOENT)
            return false;
        return ::renameat(dir_.fd(), name.c_str(), outdir_, name.c_str()) == 0;
    }

    void removeAbandoned() {
        const int fd = ::openat(outdir_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!dir) {
            if (fd >= 0) ::close(fd);
            return;
        }
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir))
            if (std::strncmp(e->d_name, kStagePrefix, std::strlen(kStagePrefix)) == 0) names.push_back(e->d_name);
        ::closedir(dir);
        for (const std::string& name : names) {
            const Dir abandoned = openFolder(outdir_, name);
            if (abandoned.ok() && ::flock(abandoned.fd(), LOCK_EX | LOCK_NB) == 0) removeTree(outdir_, name.c_str());
        }
    }

    int outdir_;
    std::string shownOut_;
    std::string name_;
    Dir dir_;
};

// The largest file of the viewer library copied: its script is about
// 150 KB.
constexpr off_t kMaxLibraryFile = 16 << 20;

// Copies a regular file of the viewer library (links to one followed); a
// pipe, a device or a file above the size bound is refused unread.
bool copyLibraryFile(const std::string& from, int toFolder, const std::string& name, const std::string& shown,
                     std::string& error) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0) {
        error = "cannot read " + quoted(from) + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = ::fstat(in, &st) == 0;
    if (!ok) {
        error = "cannot read " + quoted(from) + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = "cannot copy " + quoted(from) + ": it is not a regular file";
        ok = false;
    } else if (st.st_size > kMaxLibraryFile) {
        error = "cannot copy " + quoted(from) + ": it is larger than " + std::to_string(kMaxLibraryFile >> 20) +
                " MiB, not a part of the viewer library";
        ok = false;
    }
    if (ok) {
        ok = newFile(toFolder, name, shown,
                     [&](std::FILE* out, std::string& why) {
                         char buffer[1 << 16];
                         off_t left = kMaxLibraryFile + 1;
                         ssize_t n;
                         while (left > 0 && (n = ::read(in, buffer, sizeof buffer)) != 0) {
                             if (n < 0) {
                                 if (errno == EINTR) continue;
                                 why = "cannot read " + quoted(from) + ": " + std::strerror(errno);
                                 return false;
                             }
                             left -= n;
                             if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n))
                                 return false;
                         }
                         if (left <= 0) why = quoted(from) + " grew past the size bound while it was copied";
                         return left > 0;
                     },
                     error);
    }
    ::close(in);
    return ok;
}

// The viewer library: its script, its style sheet and the images the style
// sheet names.
// Whether `path` is a file of the library that can be copied: a regular
// file (a link to one is followed) within the size bound.
bool libraryFileWorks(const std::string& path, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot read " + quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "cannot copy " + quoted(path) + ": it is not a regular file";
        return false;
    }
    if (st.st_size > kMaxLibraryFile) {
        error = "cannot copy " + quoted(path) + ": it is larger than " + std::to_string(kMaxLibraryFile >> 20) +
                " MiB, not a part of the viewer library";
        return false;
    }
    return true;
}

// The library's script and style sheet, looked at before anything is
// written.
bool checkLeaflet(const std::string& from, std::string& error) {
    struct stat st;
    if (::stat((from + "/leaflet.js").c_str(), &st) != 0) {
        error = "the viewer library is not in " + quoted(from) +
                " (Debian package libjs-leaflet; --leaflet names another folder)";
        return false;
    }
    return libraryFileWorks(from + "/leaflet.js", error) && libraryFileWorks(from + "/leaflet.css", error);
}

bool copyLeaflet(const std::string& from, const Stage& stage, std::string& error) {
    const Dir to = newFolder(stage.fd(), "leaflet", stage.shown("leaflet"), error);
    if (!to.ok()) return false;
    const Dir images = newFolder(to.fd(), "images", stage.shown("leaflet/images"), error);
    if (!images.ok()) return false;
    for (const char* name : {"leaflet.js", "leaflet.css"})
        if (!copyLibraryFile(from + "/" + name, to.fd(), name, stage.shown(std::string("leaflet/") + name), error))
            return false;
    if (DIR* dir = ::opendir((from + "/images").c_str())) {
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) names.push_back(name);
        }
        ::closedir(dir);
        // Only the images: anything else in that folder is no part of the
        // library, and a name is never made longer than the library has it.
        for (const std::string& name : names) {
            struct stat is;
            const std::string source = from + "/images/" + name;
            if (::stat(source.c_str(), &is) != 0 || !S_ISREG(is.st_mode)) continue;
            if (!copyLibraryFile(source, images.fd(), name, stage.shown("leaflet/images/" + name), error))
                return false;
        }
    }
    return true;
}

// The folder OUTDIR, made if it does not exist.
Dir outputFolder(const std::string& path, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        error = "cannot write into " + quoted(path) + ": it is not a folder";
        return Dir();
    }
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot make the folder " + quoted(path) + ": " + std::strerror(errno);
        return Dir();
    }
    Dir dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.ok()) error = "cannot write into " + quoted(path) + ": " + std::strerror(errno);
    return dir;
}

// An entry of OUTDIR that the run replaces but that holds the input map.
bool holdsInput(const std::string& outdir, const std::string& input, std::string& error) {
    char* in = ::realpath(input.c_str(), nullptr);
    if (!in) return false;
    const std::string inPath = in;
    std::free(in);
    for (const char* name : kServed) {
        const std::string entry = outdir + "/" + name;
        struct stat st;
        if (::lstat(entry.c_str(), &st) != 0) continue;
        char* real = S_ISLNK(st.st_mode) ? nullptr : ::realpath(entry.c_str(), nullptr);
        if (!real) continue;
        const std::string path = real;
        std::free(real);
        if (inPath == path || inPath.compare(0, path.size() + 1, path + "/") == 0) {
            error = "cannot write " + quoted(entry) + ": it holds the input " + quoted(input);
            return true;
        }
    }
    return false;
}

// A JavaScript string literal holding the bytes as character codes 0..255.
void appendJsString(std::string& out, const char* bytes, std::size_t n) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\' || c == '<') {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// A JavaScript string literal holding text: UTF-8 read as characters (a
// byte that is not part of a well-formed character shows as U+FFFD),
// written in ASCII with escapes, so that the page shows the name whatever
// charset it is read with.
std::string jsString(const std::string& s) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    const auto escape = [&](unsigned u) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(u >> shift) & 15];
    };
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f || c == '"' || c == '\\' || c == '<') escape(c);
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        const int length = c >= 0xf0 && c < 0xf5 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
        unsigned code = length == 4 ? c & 7u : length == 3 ? c & 15u : c & 31u;
        bool good = length > 0 && i + static_cast<std::size_t>(length) <= s.size();
        for (int k = 1; good && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            good = (next & 0xc0) == 0x80;
            code = code << 6 | (next & 0x3fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        good = good && !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10ffff)) &&
               !(code >= 0xd800 && code <= 0xdfff);
        if (!good) {
            escape(0xfffd);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            escape(0xd800 + ((code - 0x10000) >> 10));
            escape(0xdc00 + ((code - 0x10000) & 0x3ff));
        } else {
            escape(code);
        }
        i += static_cast<std::size_t>(length);
    }
    out += '"';
    return out;
}

// What the page needs to know about the map, small whatever its size.
std::string mapData(const HxMap& map, const std::string& name, int maxPitch, const std::vector<TileLevel>& levels) {
    std::ostringstream js;
    js << "var tarvenMap = {\n  name: " << jsString(name) << ",\n  columns: " << map.xs() << ",\n  rows: " << map.ys()
       << ",\n  maxPitch: " << maxPitch << ",\n  levels: " << levels.size() << ",\n  tileSize: " << kTileSize
       << ",\n  block: " << kCellBlock << ",\n  width: " << levels.back().width
       << ",\n  height: " << levels.back().height << ",\n  terrains: {";
    const HxTerrainSet terrains;
    bool first = true;
    for (const HxTerrainInfo& t : terrains.records()) {
        if (t.name.empty()) continue;
        js << (first ? "\n    " : ",\n    ") << static_cast<int>(static_cast<unsigned char>(t.c)) << ": "
           << jsString(t.name);
        first = false;
    }
    js << "\n  }\n};\n";
    return js.str();
}

// One block of cells for the page: two character codes per cell, terrain
// and elevation byte, row after row.
std::string cellBlock(const HxMap& map, int bx, int by) {
    const int x0 = bx * kCellBlock, y0 = by * kCellBlock;
    const int w = std::min(kCellBlock, map.xs() - x0), h = std::min(kCellBlock, map.ys() - y0);
    std::string cells;
    cells.reserve(static_cast<std::size_t>(w) * h * 2);
    for (int y = y0; y < y0 + h; ++y) {
        const char* t = map.terrainRow(y) + x0;
        const char* e = map.elevationRow(y) + x0;
        for (int x = 0; x < w; ++x) {
            cells += t[x];
            cells += e[x];
        }
    }
    std::string js = "tarvenCells(" + std::to_string(bx) + ", " + std::to_string(by) + ", " + std::to_string(w) + ", ";
    appendJsString(js, cells.data(), cells.size());
    js += ");\n";
    return js;
}

}  // namespace

bool parseTilesArguments(const std::vector<std::string>& args, TilesOptions& o, std::string& reason) {
    std::vector<GivenOption> given;
    std::vector<std::string> files;
    if (!scanToolArguments(args, {{"--max-pitch", true}, {"--max-tiles", true}, {"--leaflet", true}}, true, 2,
                           "an input map and an output folder are needed", o, given, files, reason))
        return false;
    for (const GivenOption& g : given) {
        long long n = 0;
        if (g.name == "--leaflet") {
            o.leaflet = g.value;
        } else if (g.name == "--max-pitch") {
            if (!parseInteger("--max-pitch", g.value, 1, 64, n, reason) || (n & (n - 1)) != 0) {
                reason = "the pitch must be 1, 2, 4, 8, 16, 32 or 64, not " + quoted(g.value);
                return false;
            }
            o.maxPitch = static_cast<int>(n);
        } else {
            if (!parseInteger("--max-tiles", g.value, 1, std::numeric_limits<long long>::max(), n, reason))
                return false;
            o.maxTiles = static_cast<std::uint64_t>(n);
        }
    }
    if (o.help || o.version) return true;
    o.input = files[0];
    o.outdir = files[1];
    while (o.outdir.size() > 1 && o.outdir.back() == '/') o.outdir.pop_back();
    return true;
}

std::vector<TileLevel> planLevels(int mapW, int mapH, int maxPitch) {
    std::vector<TileLevel> levels;
    if (mapW < 1 || mapH < 1) return levels;
    const hexgeom::CellRange all{0, 0, mapW - 1, mapH - 1};
    for (int p = maxPitch; p >= 1; p /= 2) {
        const PictureSize size = pictureSize(p - 1, all);
        levels.push_back(TileLevel{p, size.width, size.height, 0, 0});
        if ((size.width <= kTileSize && size.height <= kTileSize) || p == 1) break;
    }
    std::reverse(levels.begin(), levels.end());
    // The page places every level by the deepest one's extent, halved per
    // level; the tiles cover that as well as the level's own picture.
    const TileLevel& deepest = levels.back();
    for (std::size_t z = 0; z < levels.size(); ++z) {
        TileLevel& l = levels[z];
        const int shift = static_cast<int>(levels.size() - 1 - z);
        const long long w = std::max(l.width, ((deepest.width - 1) >> shift) + 1);
        const long long h = std::max(l.height, ((deepest.height - 1) >> shift) + 1);
        l.cols = (w + kTileSize - 1) / kTileSize;
        l.rows = (h + kTileSize - 1) / kTileSize;
    }
    return levels;
}

std::uint64_t tileCount(const std::vector<TileLevel>& levels) {
    std::uint64_t n = 0;
    for (const TileLevel& l : levels) n += static_cast<std::uint64_t>(l.cols) * static_cast<std::uint64_t>(l.rows);
    return n;
}

namespace {

int makeTiles(const TilesOptions& options, std::ostream&, std::ostream& err) {
    HxMap map(0, 0);
    if (!loadMapFor(kTool, options.input, map, err)) return kFailed;
    const std::vector<TileLevel> levels = planLevels(map.xs(), map.ys(), options.maxPitch);
    if (levels.empty()) {
        err << "tarven-tiles: the map " << quoted(options.input) << " has no cells\n";
        return kFailed;
    }
    const std::uint64_t tiles = tileCount(levels);
    // Tiles are placed in int pixels, as every picture is.
    if (levels.back().width > kMaxLevelSide || levels.back().height > kMaxLevelSide) {
        throw Misuse("the map of " + std::to_string(map.xs()) + " x " + std::to_string(map.ys()) +
                     " cells at pitch " + std::to_string(options.maxPitch) + " is " +
                     std::to_string(levels.back().width) + " x " + std::to_string(levels.back().height) +
                     " pixels; a level can be at most " + std::to_string(kMaxLevelSide) +
                     " pixels wide and high; lower --max-pitch");
    }
    if (tiles > options.maxTiles) {
        throw Misuse("the map of " + std::to_string(map.xs()) + " x " + std::to_string(map.ys()) +
                     " cells at pitch " + std::to_string(options.maxPitch) + " makes " + std::to_string(tiles) +
                     " tiles, more than " + std::to_string(options.maxTiles) +
                     "; lower --max-pitch or raise --max-tiles");
    }

    const std::string& outdir = options.outdir;
    std::string error;
    auto fail = [&]() {
        err << "tarven-tiles: " << printable(error) << "\n";
        return kFailed;
    };
    if (holdsInput(outdir, options.input, error) || !checkLeaflet(options.leaflet, error)) return fail();
    if (hexgeom::hasLabels(options.maxPitch - 1) && !roomForFonts()) {
        error = "out of memory: the label font cannot start within the address-space limit (ulimit -v); "
                "a --max-pitch below 17 draws no labels";
        return fail();
    }
    const Dir outFolder = outputFolder(outdir, error);
    if (!outFolder.ok()) return fail();
    // From here a termination signal stops the drawing at the next tile, and
    // the hidden folder goes with the stage before the program exits with
    // 128 + the signal; only the swap at the end is ended at once.
    StopOnSignal stop;
    const auto stopped = [&] { return stop.signal() != 0; };
    const int code = [&] {
        // Everything is written into a new folder inside OUTDIR and put in the
        // place of the old page, tiles and cells only when complete.
        Stage stage(outFolder.fd(), outdir);
        if (!stage.make(error) || !copyLeaflet(options.leaflet, stage, error)) return fail();
        if (stopped()) return kFailed;

        const int blocksX = (map.xs() + kCellBlock - 1) / kCellBlock;
        const int blocksY = (map.ys() + kCellBlock - 1) / kCellBlock;
        const std::uint64_t blocks = static_cast<std::uint64_t>(blocksX) * blocksY;
        const double total = static_cast<double>(blocks + tiles);
        Progress progress("Drawing tiles", options.quiet);
        std::uint64_t done = 0;
        {
            const Dir cells = newFolder(stage.fd(), "cells", stage.shown("cells"), error);
            if (!cells.ok()) return fail();
            for (int by = 0; by < blocksY; ++by) {
                const std::string row = std::to_string(by);
                const Dir folder = newFolder(cells.fd(), row, stage.shown("cells/" + row), error);
                if (!folder.ok()) return fail();
                for (int bx = 0; bx < blocksX; ++bx) {
                    const std::string name = std::to_string(bx) + ".js";
                    if (!newText(folder.fd(), name, stage.shown("cells/" + row + "/" + name), cellBlock(map, bx, by),
                                 error))
                        return fail();
                }
                done += static_cast<std::uint64_t>(blocksX);
                progress.update(done / total);
                if (stopped()) return kFailed;
            }
        }

        const HxTerrainSet terrains;
        const hxpic::Colours colours(terrains);
        const pngrender::Renderer renderer(colours);
        const hexgeom::CellRange all{0, 0, map.xs() - 1, map.ys() - 1};
        // The labels are made once, here, for every thread to read.
        std::unique_ptr<pngrender::MadeLabels> labels;
        if (hexgeom::hasLabels(options.maxPitch - 1)) {
            PangoLabelFont font;
            labels = std::make_unique<pngrender::MadeLabels>(font, pngrender::usedLabels(map, all));
        }
        if (stopped()) return kFailed;
        const Dir tilesFolder = newFolder(stage.fd(), "tiles", stage.shown("tiles"), error);
        if (!tilesFolder.ok()) return fail();
        for (std::size_t z = 0; z < levels.size(); ++z) {
            const TileLevel& level = levels[z];
            const std::string levelName = std::to_string(z);
            const Dir levelFolder = newFolder(tilesFolder.fd(), levelName, stage.shown("tiles/" + levelName), error);
            if (!levelFolder.ok()) return fail();
            std::vector<Dir> columns;
            for (long long tx = 0; tx < level.cols; ++tx) {
                const std::string name = std::to_string(tx);
                columns.push_back(
                    newFolder(levelFolder.fd(), name, stage.shown("tiles/" + levelName + "/" + name), error));
                if (!columns.back().ok()) return fail();
            }
            // The clip box is the level's whole picture, so that a tile holds
            // exactly the pixels the whole picture has there.
            pngrender::Request request;
            request.map = &map;
            request.zoom = level.pitch - 1;
            request.cells = all;
            request.viewStart = hexgeom::Point{0, 0};
            request.width = request.height = kTileSize;
            request.clip = hxpic::Clip{0, 0, static_cast<int>(level.width), static_cast<int>(level.height)};
            request.labels = hexgeom::hasLabels(request.zoom) ? labels.get() : nullptr;
            request.threads = 1;   // one tile a thread
            std::atomic<bool> failed{false};
            std::atomic<std::uint64_t> written{0};
            std::mutex mutex;
            std::string firstError;
            const long long count = level.cols * level.rows;
            work::run(count, -1, [&](long long i, int runner) {
                if (failed || stopped()) return;
                const int ty = static_cast<int>(i / level.cols), tx = static_cast<int>(i % level.cols);
                pngrender::Request tile = request;
                tile.origin = hexgeom::Point{tx * kTileSize, ty * kTileSize};
                const std::string name = std::to_string(ty) + ".png";
                std::string why;
                const bool ok = newFile(
                    columns[static_cast<std::size_t>(tx)].fd(), name,
                    stage.shown("tiles/" + levelName + "/" + std::to_string(tx) + "/" + name),
                    [&](std::FILE* f, std::string& message) { return renderer.write(f, tile, message); }, why);
                if (!ok) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!failed.exchange(true)) firstError = why;
                    return;
                }
                const std::uint64_t now = ++written;
                // The progress line belongs to this thread.
                if (runner == 0) progress.update((done + now) / total);
            });
            if (stopped()) return kFailed;
            if (failed) {
                error = firstError;
                return fail();
            }
            done += static_cast<std::uint64_t>(count);
        }
        progress.finish();
        const std::string name = baseName(options.input);
        if (!newText(stage.fd(), "map.js", stage.shown("map.js"), mapData(map, name, options.maxPitch, levels),
                     error) ||
            !newText(stage.fd(), "index.html", stage.shown("index.html"), webPage(map.xs(), map.ys()), error))
            return fail();
        // A signal during the swap ends the program at once: the old page is
        // gone first, so that none is left that mixes two maps, and the next
        // run removes the hidden folder.
        if (stop.release() != 0) return kFailed;
        return stage.swapIn(error) ? kDone : fail();
    }();
    if (const int signal = stop.release()) return 128 + signal;
    return code;
}

}  // namespace

int runTiles(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return runTool<TilesOptions>(Tool{kTool, kUsage}, args, out, err, parseTilesArguments, makeTiles);
}

}  // namespace tools
