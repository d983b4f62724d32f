#ifndef TARVEN_SAVENAME_H
#define TARVEN_SAVENAME_H

#include <string>

// The name a map is saved under: the chosen path with ".map" added when its
// file name has no extension, so that the "*.map" filter of Load map shows
// it. A file name that has an extension keeps it; a leading dot (a hidden
// file) does not count as one.
std::string withMapExtension(const std::string& path);

#endif
