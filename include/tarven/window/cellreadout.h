#ifndef TARVEN_CELLREADOUT_H
#define TARVEN_CELLREADOUT_H

#include <string>

#include "hxterrains.h"

// What the status bar says about the cell under the pointer, for example
// "Hex 1308 (column 12, row 7): Water, elevation 3": the hex number that
// printed maps show (as wide as a map of mapW x mapH cells needs), then the
// column and row counted from 0 as the map does; the terrain goes by its
// name in the table, or by its character when it has none.
std::string cellReadout(int column, int row, char terrain, int elevation, const HxTerrainSet& terrains, int mapW,
                        int mapH);

#endif
