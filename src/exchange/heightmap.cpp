// The heightmap import as the exchange library offers it: GDAL's part lives
// in the module tarven_heightmap.so, loaded here on the first import.
#include "heightmap.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "heightmap_module.h"
#include "hxmap.h"

namespace exchange {

namespace {

// The folder of the running program, with its closing slash; empty if
// unknown.
std::string programFolder() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    const std::string exe(buffer.data(), static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

// Where the module may be, in order: beside the program (the build tree),
// the library folder relative to the program's (an installed tree wherever
// it was unpacked), the library folder it was installed to.
std::vector<std::string> moduleCandidates() {
    std::vector<std::string> places;
    const std::string here = programFolder();
    if (!here.empty()) {
        places.push_back(here + TARVEN_HEIGHTMAP_MODULE);
        places.push_back(here + TARVEN_HEIGHTMAP_RELATIVE_DIR "/" TARVEN_HEIGHTMAP_MODULE);
    }
    places.push_back(TARVEN_HEIGHTMAP_INSTALL_DIR "/" TARVEN_HEIGHTMAP_MODULE);
    return places;
}

std::mutex loading;
HeightmapImportFunction loaded = nullptr;   // kept for the life of the program

// The module's entry point, loaded once; null with the reason if the module
// or GDAL cannot be loaded (missing, or no room under an address-space limit).
HeightmapImportFunction loadModule(std::string& error) {
    std::lock_guard<std::mutex> lock(loading);
    if (loaded) return loaded;
    std::string tried;
    for (const std::string& place : moduleCandidates()) {
        if (access(place.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + ("'" + place + "'");
            continue;
        }
        void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            error = "cannot load the heightmap import '" + place + "': " + (why ? why : "unknown reason");
            return nullptr;
        }
        auto version = reinterpret_cast<decltype(&tarven_heightmap_version)>(dlsym(handle, "tarven_heightmap_version"));
        auto entry = reinterpret_cast<HeightmapImportFunction>(dlsym(handle, "tarven_heightmap_import"));
        if (!version || !entry || version() != kHeightmapModuleVersion) {
            error = "the heightmap import '" + place + "' is not the one this program was built with";
            dlclose(handle);
            return nullptr;
        }
        loaded = entry;
        return loaded;
    }
    error = "the heightmap import " TARVEN_HEIGHTMAP_MODULE " is not installed (looked for " + tried + ")";
    return nullptr;
}

}  // namespace

bool isHeightmapExtension(const std::string& ext) { return ext == "tif" || ext == "tiff" || ext == "png" || ext == "asc"; }

bool importHeightmapThrough(HeightmapImportFunction entry, const std::string& path, const HeightmapOptions& options,
                            HxMap& map, HeightmapReport& report, std::string& error,
                            const std::function<void(double)>& progress) {
    report = HeightmapReport{};
    HeightmapGrid grid;
    if (!entry(path.c_str(), &options, &grid, &report, &error, progress ? &progress : nullptr)) {
        if (error.empty()) error = "the raster cannot be imported";
        return false;
    }
    const std::size_t n = static_cast<std::size_t>(grid.cols) * static_cast<std::size_t>(grid.rows);
    if (grid.cols < 1 || grid.rows < 1 || grid.terrain.size() != n || grid.elevation.size() != n) {
        error = "the heightmap import returned a malformed map";
        return false;
    }
    // Set in whole: the caller's map changes only on success.
    map.resizeGrid(grid.cols, grid.rows);
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.cols; ++c) {
            const std::size_t k = static_cast<std::size_t>(r) * grid.cols + c;
            map.st(c, r, grid.terrain[k]);
            map.se(c, r, grid.elevation[k]);
        }
    if (progress) progress(1.0);
    return true;
}

bool importHeightmap(const std::string& path, const HeightmapOptions& options, HxMap& map, HeightmapReport& report,
                     std::string& error, const std::function<void(double)>& progress) {
    report = HeightmapReport{};
    const HeightmapImportFunction entry = loadModule(error);
    if (!entry) return false;
    return importHeightmapThrough(entry, path, options, map, report, error, progress);
}

}  // namespace exchange
