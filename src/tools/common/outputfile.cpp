#include "outputfile.h"

#include "savefile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace tools {

namespace {

// What a termination signal does: kAtOnce ends the program, kAsked (a
// StopOnSignal lives) records it; a signal's number once one was recorded.
// One atomic word, so that the handler and release() cannot both miss a
// signal.
constexpr int kAtOnce = 0, kAsked = -1;
std::atomic<int> onSignal{kAtOnce};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free word");

extern "C" void removeTemporariesAndExit(int signal) {
    int expected = kAsked;
    if (onSignal.compare_exchange_strong(expected, signal) || expected > 0) return;
    ::removeTemporaries();
    ::_exit(128 + signal);
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string cannotWrite(const std::string& path, const std::string& why) {
    return "cannot write " + quoted(path) + ": " + why;
}

}  // namespace

void installSignalCleanup() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction cleanup {};
    cleanup.sa_handler = removeTemporariesAndExit;
    // A handler that returns (a StopOnSignal lives) leaves no write to a
    // terminal or pipe failed with EINTR.
    cleanup.sa_flags = SA_RESTART;
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

StopOnSignal::StopOnSignal() { onSignal.store(kAsked); }

int StopOnSignal::signal() const {
    const int s = onSignal.load();
    return s > 0 ? s : 0;
}

int StopOnSignal::release() {
    if (!active) return signal();
    active = false;
    int expected = kAsked;
    if (onSignal.compare_exchange_strong(expected, kAtOnce)) return 0;
    return expected > 0 ? expected : 0;
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
    const std::string why = replaceRefusal(output);
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
    std::string why;
    if (!save.open(requested, why)) {
        error = cannotWrite(path, why);
        return false;
    }
    file = ::fdopen(save.fd(), "wb");
    if (!file) {
        error = cannotWrite(path, std::strerror(errno));
        save.discard();
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
    if (std::fflush(file) != 0 || std::ferror(file)) why = std::strerror(errno);
    if (why.empty()) save.settle(why);
    const bool closeFailed = std::fclose(file) != 0;
    if (closeFailed && why.empty()) why = std::strerror(errno);
    file = nullptr;
    save.closed();
    if (!why.empty()) {
        save.discard();
        error = cannotWrite(path, why);
        return false;
    }
    return true;
}

bool OutputFile::commit(std::string& error) {
    if (file && !finish(error)) return false;
    std::string why;
    if (!save.replace(why)) {
        error = cannotWrite(path, why);
        return false;
    }
    return true;
}

void OutputFile::discard() {
    if (file) {
        std::fclose(file);
        file = nullptr;
        save.closed();
    }
    save.discard();
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
