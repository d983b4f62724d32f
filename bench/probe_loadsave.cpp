// Times one load or one save of a map file in a fresh process and prints the
// peak memory growth the load caused, so that figures are not flattered by a
// heap or page cache that earlier work in the same process warmed up.
//
//   tarven_probe make COLUMNS ROWS FILE   writes a map of that size quickly
//   tarven_probe load FILE                loads FILE once
//   tarven_probe save FILE OUTPUT         loads FILE, then times saving it
//
// Prints one line: the operation, the file's size, the cells, the seconds
// taken and the peak resident memory growth (VmHWM less the VmRSS at start).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "hxmap.h"

namespace {

long procKiB(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long v = -1;
    const std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') v = std::atol(line + n + 1);
    std::fclose(f);
    return v;
}

long long fileSize(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

int make(int cols, int rows, const char* path) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 1;
    static const char terrains[] = "~.'\"%^#";
    std::fprintf(f, "%d %d\n", rows, cols);
    std::vector<char> row(2 * static_cast<std::size_t>(cols) + 1);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const unsigned h = (static_cast<unsigned>(x) * 2654435761u) ^ (static_cast<unsigned>(y) * 40503u);
            row[2 * static_cast<std::size_t>(x)] = terrains[(h >> 7) % 7];
            row[2 * static_cast<std::size_t>(x) + 1] = static_cast<char>('0' + (h >> 13) % 10);
        }
        row.back() = '\n';
        std::fwrite(row.data(), 1, row.size(), f);
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const std::string op = argc > 1 ? argv[1] : "";
    if (op == "make" && argc == 5) return make(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    if ((op != "load" || argc != 3) && (op != "save" || argc != 4)) {
        std::fprintf(stderr, "usage: %s make COLUMNS ROWS FILE | load FILE | save FILE OUTPUT\n", argv[0]);
        return 2;
    }
    const long rssBefore = procKiB("VmRSS");
    HxMap map(1, 1);
    auto t0 = Clock::now();
    if (!map.loadMap(argv[2])) return 1;
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const long growth = procKiB("VmHWM") - rssBefore;
    if (op == "save") {
        t0 = Clock::now();
        if (!map.saveMap(argv[3])) return 1;
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    const long long cells = static_cast<long long>(map.xs()) * map.ys();
    std::printf("%s %d x %d file %lld bytes: %.4f s, %.2f ns/cell, load peak growth %.1f MiB (file + grids %.1f MiB)\n",
                op.c_str(), map.xs(), map.ys(), fileSize(argv[2]), seconds, seconds * 1e9 / static_cast<double>(cells),
                growth / 1024.0, (static_cast<double>(fileSize(argv[2])) + 2.0 * static_cast<double>(cells)) / 1048576.0);
    return 0;
}
