#include "outputfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tools {

namespace {

// The temporary files the signal handler removes. An entry is filled while
// it is claimed and only then made live, so the handler never reads a name
// being written; it needs nothing but unlinkat and _exit.
enum : int { kFree = 0, kClaimed = 1, kLive = 2 };
struct TempEntry {
    std::atomic<int> state;
    int dirFd;
    char name[256];
};
constexpr int kEntries = 16;
TempEntry entries[kEntries];

extern "C" void removeTemporariesAndExit(int signal) {
    for (TempEntry& e : entries)
        if (e.state.load(std::memory_order_acquire) == kLive) ::unlinkat(e.dirFd, e.name, 0);
    ::_exit(128 + signal);
}

int claimEntry() {
    for (int i = 0; i < kEntries; ++i) {
        int expected = kFree;
        if (entries[i].state.compare_exchange_strong(expected, kClaimed)) return i;
    }
    return -1;
}

void releaseEntry(int i) {
    if (i >= 0) entries[i].state.store(kFree, std::memory_order_release);
}

// The termination signals held off while a temporary file is created and
// entered, so that none can end the tool between the two.
class HoldSignals {
public:
    HoldSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
        ::pthread_sigmask(SIG_BLOCK, &set, &old);
    }
    ~HoldSignals() { ::pthread_sigmask(SIG_SETMASK, &old, nullptr); }
    HoldSignals(const HoldSignals&) = delete;
    HoldSignals& operator=(const HoldSignals&) = delete;

private:
    sigset_t old;
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string cannotWrite(const std::string& path, const std::string& why) {
    return "cannot write " + quoted(path) + ": " + why;
}

// Follows symbolic links, so that writing replaces the file a link points
// to and keeps the link. False for a loop of links or an unreadable link.
bool resolveTarget(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat ls;
        if (::lstat(target.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode)) return true;
        std::string link(static_cast<std::size_t>(ls.st_size > 0 ? ls.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), &link[0], link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(n));
        if (link[0] != '/') {
            const std::size_t slash = target.rfind('/');
            link = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
        }
        target = link;
    }
    return false;
}

// Why an existing file may not be replaced, or "" when it may. A file with
// no write permission for anyone was protected on purpose and is kept even
// from a user whom the permissions do not bind.
std::string refusal(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    // Renaming over a device such as /dev/null, or a pipe, would put a file
    // in its place.
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if ((st.st_mode & 0222) == 0) return "it is read-only";
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return std::strerror(errno);
    return "";
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Six characters for a temporary name, not predictable by other users.
std::string randomSuffix() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        unsigned long long v = static_cast<unsigned long long>(
                                   std::chrono::steady_clock::now().time_since_epoch().count()) *
                               6364136223846793005ULL ^
                               static_cast<unsigned long long>(::getpid());
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(v >>= 8);
    }
    std::string s;
    for (unsigned char b : bytes) s += kAlphabet[b % 62];
    return s;
}

}  // namespace

void installSignalCleanup() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction cleanup {};
    cleanup.sa_handler = removeTemporariesAndExit;
    sigemptyset(&cleanup.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&cleanup.sa_mask, s);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored by whoever started the tool (nohup, a background
        // job) stays ignored.
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(s, &cleanup, nullptr);
    }
}

bool checkOutput(const std::string& output, const std::vector<std::string>& inputs, std::string& error) {
    struct stat out;
    if (::stat(output.c_str(), &out) != 0) {
        if (errno == ENOENT) return true;   // a new file; its folder is checked on opening
        error = cannotWrite(output, std::strerror(errno));
        return false;
    }
    for (const std::string& input : inputs) {
        struct stat in;
        if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            error = cannotWrite(output, "it is the input " + quoted(input));
            return false;
        }
    }
    const std::string why = refusal(output, out);
    if (!why.empty()) {
        error = cannotWrite(output, why);
        return false;
    }
    return true;
}

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& requested, std::string& error) {
    discard();
    path = requested;
    std::string target;
    if (!resolveTarget(requested, target)) {
        error = cannotWrite(path, "too many levels of symbolic links");
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    name = slash == std::string::npos ? target : target.substr(slash + 1);
    struct stat st;
    exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        error = cannotWrite(path, std::strerror(errno));
        return false;
    }
    if (name.empty() || name == "." || name == "..") {
        error = cannotWrite(path, "it is a folder");
        return false;
    }
    if (exists) {
        const std::string why = refusal(target, st);
        if (!why.empty()) {
            error = cannotWrite(path, why);
            return false;
        }
        mode = st.st_mode & 07777;
        owner = st.st_uid;
        group = st.st_gid;
    } else {
        mode = 0666 & ~currentUmask();
    }

    dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 && errno == EACCES) dirFd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        error = cannotWrite(path, std::strerror(errno));
        return false;
    }
    slot = claimEntry();
    if (slot < 0) {
        discard();
        error = cannotWrite(path, "too many files open for writing");
        return false;
    }
    // "." + the target's name + "." + six characters, within the 255 bytes
    // a name may have: a long name is cut, at a character's start.
    std::size_t keep = std::min<std::size_t>(name.size(), 255 - 8);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xc0) == 0x80) --keep;
    const std::string stem = "." + name.substr(0, keep) + ".";
    int fd = -1;
    {
        HoldSignals hold;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            tempName = stem + randomSuffix();
            fd = ::openat(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd >= 0) {
            TempEntry& e = entries[slot];
            e.dirFd = dirFd;
            std::memcpy(e.name, tempName.c_str(), tempName.size() + 1);
            e.state.store(kLive, std::memory_order_release);
        }
    }
    if (fd < 0) {
        const int why = errno;
        tempName.clear();
        discard();
        error = cannotWrite(path, std::strerror(why));
        return false;
    }
    file = ::fdopen(fd, "wb");
    if (!file) {
        const int why = errno;
        ::close(fd);
        discard();
        error = cannotWrite(path, std::strerror(why));
        return false;
    }
    return true;
}

std::FILE* OutputFile::stream() { return file; }

int OutputFile::fd() const { return file ? ::fileno(file) : -1; }

bool OutputFile::finish(std::string& error) {
    if (!file) {
        error = cannotWrite(path, "the file is not open");
        return false;
    }
    std::string why;
    const int fd = ::fileno(file);
    if (std::fflush(file) != 0 || std::ferror(file)) why = std::strerror(errno);
    // Giving the file back to the old file's owner may not be allowed; then
    // it stays ours.
    if (why.empty() && exists && ::fchown(fd, owner, group) != 0) {
    }
    if (why.empty() && ::fchmod(fd, mode) != 0) why = std::strerror(errno);
    if (why.empty() && sync && ::fsync(fd) != 0) why = std::strerror(errno);
    if (std::fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    file = nullptr;
    if (!why.empty()) {
        discard();
        error = cannotWrite(path, why);
        return false;
    }
    return true;
}

bool OutputFile::commit(std::string& error) {
    if (file && !finish(error)) return false;
    if (tempName.empty()) {
        error = cannotWrite(path, "the file is not open");
        return false;
    }
    if (::renameat(dirFd, tempName.c_str(), dirFd, name.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        discard();
        error = cannotWrite(path, why);
        return false;
    }
    tempName.clear();
    // The rename itself made durable; the data already is, so a file system
    // that cannot sync a folder is no failure.
    if (sync) ::fsync(dirFd);
    discard();
    return true;
}

void OutputFile::discard() {
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
    if (!tempName.empty()) {
        ::unlinkat(dirFd, tempName.c_str(), 0);
        tempName.clear();
    }
    releaseEntry(slot);
    slot = -1;
    if (dirFd >= 0) {
        ::close(dirFd);
        dirFd = -1;
    }
}

std::string extensionOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    // A name that starts with its only dot (".png") has no extension.
    if (dot == std::string::npos || dot <= start) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

}  // namespace tools
