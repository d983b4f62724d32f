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

// The length of a valid UTF-8 sequence at `p` (of `n` bytes left) for a
// character that prints: none of the C1 controls, no overlong form, no
// surrogate; 0 when there is none.
std::size_t printableUtf8(const unsigned char* p, std::size_t n) {
    const unsigned char b = p[0];
    const std::size_t len = b >= 0xc2 && b <= 0xdf ? 2 : b >= 0xe0 && b <= 0xef ? 3 : b >= 0xf0 && b <= 0xf4 ? 4 : 0;
    if (len == 0 || len > n) return 0;
    for (std::size_t k = 1; k < len; ++k)
        if ((p[k] & 0xc0) != 0x80) return 0;
    if (b == 0xc2 && p[1] < 0xa0) return 0;                       // C1 controls
    if (b == 0xe0 && p[1] < 0xa0) return 0;                       // overlong
    if (b == 0xed && p[1] >= 0xa0) return 0;                      // surrogates
    if (b == 0xf0 && p[1] < 0x90) return 0;                       // overlong
    if (b == 0xf4 && p[1] >= 0x90) return 0;                      // past U+10FFFF
    return len;
}

}  // namespace

std::string printable(const std::string& text, std::size_t most) {
    std::string shown;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size() && shown.size() < most) {
        const unsigned char u = p[i];
        if (u >= 0x20 && u < 0x7f) {
            shown += static_cast<char>(u);
            ++i;
        } else if (const std::size_t len = u >= 0x80 ? printableUtf8(p + i, text.size() - i) : 0) {
            shown.append(text, i, len);
            i += len;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            shown += hex;
            ++i;
        }
    }
    if (i < text.size()) shown += "... (" + std::to_string(text.size() - i) + " more bytes)";
    return shown;
}

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
