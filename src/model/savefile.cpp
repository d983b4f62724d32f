#include "savefile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary files removeTemporaries() removes. An entry is filled while
// it is claimed and only then made live, so that a signal handler never
// reads a name being written; removing needs nothing but unlinkat.
enum : int { kFree = 0, kClaimed = 1, kLive = 2 };
struct TempEntry {
    std::atomic<int> state;
    int dirFd;
    char name[256];
};
constexpr int kEntries = 16;
TempEntry entries[kEntries];

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
// entered, so that none can end the program between the two.
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

// Follows symbolic links, so that writing replaces the file a link points
// to and keeps the link. A path that does not exist (yet) is its own
// target. False for a loop of links or an unreadable link.
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
    return false;
}

std::string refusal(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    // Renaming over a device such as /dev/null, or a pipe, would put a file
    // in its place.
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if ((st.st_mode & 0222) == 0) return "it is read-only";
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return std::strerror(errno);
    return "";
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

void removeTemporaries() {
    for (TempEntry& e : entries)
        if (e.state.load(std::memory_order_acquire) == kLive) ::unlinkat(e.dirFd, e.name, 0);
}

std::string replaceRefusal(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? "" : std::strerror(errno);
    return refusal(path, st);
}

SaveFile::~SaveFile() { discard(); }

bool SaveFile::fail(int error, std::string& why) {
    why = std::strerror(error);
    discard();
    return false;
}

bool SaveFile::open(const std::string& path, std::string& why) {
    discard();
    std::string target;
    if (path.empty()) {
        why = std::strerror(ENOENT);
        return false;
    }
    if (!resolveTarget(path, target)) {
        why = "too many levels of symbolic links";
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    name_ = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == "..") {
        why = "it is a folder";
        return false;
    }
    struct stat st;
    exists_ = ::stat(target.c_str(), &st) == 0;
    if (!exists_ && errno != ENOENT) return fail(errno, why);
    if (exists_) {
        why = refusal(target, st);
        if (!why.empty()) return false;
        mode_ = st.st_mode & 07777;
        owner_ = st.st_uid;
        group_ = st.st_gid;
    }
    dirFd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder one may write but not list.
    if (dirFd_ < 0 && errno == EACCES) dirFd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return fail(errno, why);
    slot_ = claimEntry();
    if (slot_ < 0) {
        discard();
        why = "too many files open for writing";
        return false;
    }
    // "." + the target's name + "." + six characters, within the 255 bytes
    // a name may have: a long name is cut, at a character's start.
    std::size_t keep = std::min<std::size_t>(name_.size(), 255 - 8);
    while (keep > 0 && keep < name_.size() && (static_cast<unsigned char>(name_[keep]) & 0xc0) == 0x80) --keep;
    const std::string stem = "." + name_.substr(0, keep) + ".";
    // A new file gets 0666 less the umask from the system itself; a
    // replacement stays private until it takes the old file's mode.
    const mode_t createMode = exists_ ? 0600 : 0666;
    {
        HoldSignals hold;
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            tempName_ = stem + randomSuffix();
            fd_ = ::openat(dirFd_, tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           createMode);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ >= 0) {
            TempEntry& e = entries[slot_];
            e.dirFd = dirFd_;
            std::memcpy(e.name, tempName_.c_str(), tempName_.size() + 1);
            e.state.store(kLive, std::memory_order_release);
        }
    }
    if (fd_ < 0) {
        const int error = errno;
        tempName_.clear();
        return fail(error, why);
    }
    return true;
}

bool SaveFile::write(const char* data, std::size_t size, std::string& why) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno, why);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SaveFile::settle(std::string& why) {
    // The caller's to close and discard on failure: it may hold fd() in a
    // stream.
    int error = fd_ < 0 ? EBADF : 0;
    if (error == 0 && exists_) {
        // Giving the file back to the old file's owner may not be allowed;
        // then it stays ours.
        if (::fchown(fd_, owner_, group_) != 0) {
        }
        if (::fchmod(fd_, mode_) != 0) error = errno;
    }
    if (error == 0 && sync_ && ::fsync(fd_) != 0) error = errno;
    if (error != 0) why = std::strerror(error);
    return error == 0;
}

bool SaveFile::replace(std::string& why) {
    if (tempName_.empty()) {
        why = "the file is not open";
        discard();
        return false;
    }
    if (::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0) return fail(errno, why);
    tempName_.clear();
    // The rename itself made durable; the data already is, so a file
    // system that cannot sync a folder is no failure.
    if (sync_) ::fsync(dirFd_);
    discard();
    return true;
}

bool SaveFile::commit(std::string& why) {
    if (!settle(why)) {
        discard();
        return false;
    }
    const int fd = fd_;
    closed();
    if (::close(fd) != 0) return fail(errno, why);
    return replace(why);
}

void SaveFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempName_.empty()) {
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
        tempName_.clear();
    }
    releaseEntry(slot_);
    slot_ = -1;
    if (dirFd_ >= 0) {
        ::close(dirFd_);
        dirFd_ = -1;
    }
}
