#ifndef TARVEN_CELLREADOUT_H
#define TARVEN_CELLREADOUT_H

#include <string>

#include "hxterrains.h"

// What the status bar says about the cell under the pointer, for example
// "Column 12, row 7: Water, elevation 3". Columns and rows count from 0 as
// the map does; the terrain goes by its name in the table, or by its
// character when it has none.
std::string cellReadout(int column, int row, char terrain, int elevation, const HxTerrainSet& terrains);

#endif
