#include "cellreadout.h"

std::string cellReadout(int column, int row, char terrain, int elevation, const HxTerrainSet& terrains) {
    return "Column " + std::to_string(column) + ", row " + std::to_string(row) + ": " +
           terrains.displayName(terrain) + ", elevation " + std::to_string(elevation);
}
