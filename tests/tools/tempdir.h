// A fresh folder for one test, removed with everything in it at the end,
// and small helpers for the files the tool tests write and read.
#ifndef TARVEN_TESTS_TEMPDIR_H
#define TARVEN_TESTS_TEMPDIR_H

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <csignal>

#include <dirent.h>
#include <sys/resource.h>
#include <stdlib.h>

namespace tarventest {

// Runs `work` with files held to `bytes` each, as `ulimit -f` holds them: a
// write past it fails as on a full disk.
template <class Work>
auto withFileLimit(rlim_t bytes, Work work) {
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit low = old;
    low.rlim_cur = bytes;
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &before);
    ::setrlimit(RLIMIT_FSIZE, &low);
    auto result = work();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &before, nullptr);
    return result;
}

struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/tarven-test-XXXXXX";
        const char* made = ::mkdtemp(name);
        path = made ? made : "";
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(path.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

inline void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace tarventest

#endif
