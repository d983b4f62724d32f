#include "cellreadout.h"

#include "hexnumber.h"

std::string cellReadout(int column, int row, char terrain, int elevation, const HxTerrainSet& terrains, int mapW,
                        int mapH) {
    return "Hex " + hexnum::number(column, row, mapW, mapH) + " (column " + std::to_string(column) + ", row " +
           std::to_string(row) + "): " + terrains.displayName(terrain) + ", elevation " + std::to_string(elevation);
}
