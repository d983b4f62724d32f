// Runs a program to its end and reports its wall time and its peak memory
// as the kernel counts it (wait4's ru_maxrss). The benchmark starts the
// command-line tools through this small process because a child counts from
// the size of the process that forked it: started straight from the
// benchmark, a tool's peak would read as at least the benchmark's own.
//
//   tarven_peak PROGRAM [ARG...]
//
// After the program's own output it prints one line on standard output:
//   PEAK <exit status> <seconds> <peak KiB> <this process's peak KiB> <CPU seconds>
// The last number is the floor: the child starts as a copy of this process,
// so a peak at or below it means "at most".
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// This process's own peak (VmHWM). Not getrusage's figure: that one also
// holds the peak of whatever process started this one, as the kernel counts
// it across an exec.
long ownPeakKb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
    std::fclose(f);
    return kb;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarven_peak PROGRAM [ARG...]\n");
        return 2;
    }
    std::fflush(stdout);
    const long floorKb = ownPeakKb();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "tarven_peak: fork: %s\n", std::strerror(errno));
        return 1;
    }
    if (pid == 0) {
        execv(argv[1], argv + 1);
        std::fprintf(stderr, "tarven_peak: cannot run %s: %s\n", argv[1], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "tarven_peak: wait4: %s\n", std::strerror(errno));
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                       usage.ru_stime.tv_usec / 1e6;
    std::printf("\nPEAK %d %.6f %ld %ld %.6f\n", code, seconds, static_cast<long>(usage.ru_maxrss), floorKb, cpu);
    return code;
}
