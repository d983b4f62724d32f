// The one runner of every tool: help, version, misuse, exceptions and the
// standard streams, the same for each.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <ostream>
#include <system_error>

#include <pthread.h>
#include <unistd.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include "outputfile.h"
#include "savefile.h"
#include "tools.h"

namespace tools {

namespace {

// The tool whose main is running, for the last-resort message.
const char* runningTool = "tarven";

// An exception that left a thread, or a second one during unwinding: the
// temporary files go, a message says why, and the exit is 1, not an abort.
[[noreturn]] void endOnEscapedException() {
    ::removeTemporaries();
    // No exception at hand: a thread was left running as an error unwound
    // the stack, most often one that could not start another thread.
    const char* why = "an internal error stopped the work";
    try {
        if (const std::exception_ptr e = std::current_exception()) std::rethrow_exception(e);
        std::fprintf(stderr, "%s: %s\n", runningTool, why);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", runningTool);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", runningTool, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: %s\n", runningTool, why);
    }
    std::fflush(stderr);
    ::_exit(kFailed);
}

}  // namespace

int runTool(const Tool& tool, std::ostream& out, std::ostream& err, const ReadArguments& read, const Work& work) {
    const auto misuse = [&](const std::string& reason) {
        err << tool.name << ": " << printable(reason) << "\nTry '" << tool.name << " --help'.\n";
        return kMisuse;
    };
    try {
        Request request = Request::Run;
        std::string reason;
        if (!read(request, reason)) return misuse(reason);
        if (request != Request::Run) {
            if (request == Request::Help) out << tool.usage;
            else out << tool.name << " (Tarven) " << TARVEN_VERSION << "\n";
            return flushed(tool.name, out, err) ? kDone : kFailed;
        }
        return work();
    } catch (const Misuse& e) {
        return misuse(e.what());
    } catch (const std::bad_alloc&) {
        err << tool.name << ": out of memory\n";
    } catch (const std::system_error& e) {
        // Most often a thread that could not start for want of memory.
        err << tool.name << ": " << printable(e.what()) << "\n";
    } catch (const std::exception& e) {
        err << tool.name << ": " << printable(e.what()) << "\n";
    } catch (...) {
        err << tool.name << ": an unexpected error\n";
    }
    return kFailed;
}

int toolMain(const char* name, int argc, char** argv,
             int (*run)(const std::vector<std::string>&, std::ostream&, std::ostream&)) {
    runningTool = name;
    std::set_terminate(endOnEscapedException);
    holdStandardStreams();
    installSignalCleanup();
    frugalThreads();
    int code = kFailed;
    try {
        const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + std::max(argc, 1));
        code = run(args, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        // Only the copy of the arguments can get here.
        std::fprintf(stderr, "%s: out of memory\n", name);
    }
    return closeStandardOutput(name, code);
}

// Measured, Pango and fontconfig need about 8 MB of address space and three
// threads' stacks to start; the room asked is twice that and more.
bool roomForFonts() {
    rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    std::size_t stackSize = std::size_t(8) << 20;
    pthread_attr_t attributes;
    if (::pthread_getattr_default_np(&attributes) == 0) {
        std::size_t size = 0;
        if (::pthread_attr_getstacksize(&attributes, &size) == 0 && size > 0) stackSize = size;
        ::pthread_attr_destroy(&attributes);
    }
    const std::size_t room = (std::size_t(20) << 20) + 3 * std::min<std::size_t>(stackSize, std::size_t(1) << 30);
    void* probe = ::mmap(nullptr, room, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (probe == MAP_FAILED) return false;
    ::munmap(probe, room);
    return true;
}

}  // namespace tools
