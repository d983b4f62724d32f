#include "savename.h"

std::string withMapExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // Nothing to name (a folder): left for the save to refuse.
    const std::string name = path.substr(nameStart);
    if (name.empty() || name == "." || name == "..") return path;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot > nameStart) return path;
    return path + ".map";
}
