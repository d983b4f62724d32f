// What both tools share: the summary of a load's warnings and the checked
// writing of everything they print.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include "hxmap.h"
#include "tools.h"

namespace tools {

namespace {

// Warnings shown in full before the rest are only counted.
constexpr long long kWarningsShown = 10;

// A warning quotes a byte of the file: one that is not printable is shown
// as \xNN, so that a hostile map cannot send control sequences to the
// terminal.
std::string printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            shown += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            shown += hex;
        }
    }
    return shown;
}

}  // namespace

bool loadMapFor(const char* tool, const std::string& file, HxMap& map, std::ostream& err) {
    return loadFor(tool, file, err, [&](const LoadHooks& hooks, std::string& error) {
        const bool loaded = map.loadMap(file.c_str(), hooks);
        error = map.lastError();
        return loaded;
    });
}

bool loadFor(const char* tool, const std::string& file, std::ostream& err, const Load& load) {
    long long warnings = 0;
    LoadHooks hooks;
    hooks.warning = [&](const std::string& message) {
        if (++warnings <= kWarningsShown) err << tool << ": '" << printable(file) << "': " << printable(message) << "\n";
    };
    std::string error;
    const bool loaded = load(hooks, error);
    if (warnings > kWarningsShown)
        err << tool << ": '" << printable(file) << "': " << warnings - kWarningsShown << " more warning"
            << (warnings - kWarningsShown == 1 ? "" : "s") << " about cells not shown (" << warnings << " in all)\n";
    if (!loaded) err << tool << ": " << printable(error) << "\n";
    return loaded;
}

bool flushed(const char* tool, std::ostream& out, std::ostream& err) {
    errno = 0;
    out.flush();
    if (out) return true;
    const int why = errno;
    err << tool << ": cannot write to standard output: " << (why != 0 ? std::strerror(why) : "write error") << "\n";
    return false;
}

void holdStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Read-only: anything written there fails, as it would have.
        const int placeholder = ::open("/dev/null", O_RDONLY);
        if (placeholder >= 0 && placeholder != fd) {
            ::dup2(placeholder, fd);
            ::close(placeholder);
        }
    }
}

void frugalThreads() {
    // One heap for all threads: each further one would claim 64 MB of
    // address space for itself as soon as a thread allocates.
    ::mallopt(M_ARENA_MAX, 1);
    // Small stacks instead of the stack limit's 8 MB: the encoder and the
    // text library's threads recurse little.
    pthread_attr_t attributes;
    if (::pthread_getattr_default_np(&attributes) == 0) {
        ::pthread_attr_setstacksize(&attributes, std::size_t(1) << 20);
        ::pthread_setattr_default_np(&attributes);
        ::pthread_attr_destroy(&attributes);
    }
}

int closeStandardOutput(const char* tool, int code) {
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
    const int flushErrno = errno;
    const bool closeFailed = std::fclose(stdout) != 0;
    // A failed run has said why already.
    if ((!failed && !closeFailed) || code != kDone) return code;
    const int why = failed ? flushErrno : errno;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", tool,
                 why != 0 ? std::strerror(why) : "write error");
    return kFailed;
}

}  // namespace tools
