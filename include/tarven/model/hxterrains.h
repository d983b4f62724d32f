#ifndef TARVEN_HXTERRAINS_H
#define TARVEN_HXTERRAINS_H

#include <string>
#include <vector>

// One terrain record: a colour, the map character it belongs to and an
// elevation key. A negative key means the colour holds at every elevation;
// a key of 0 or more makes the record a shading point whose colour holds
// exactly at that elevation.
class HxTerrainInfo {
public:
    int r, g, b;
    char c;
    int e;
    std::string name;

    HxTerrainInfo(int r, int g, int b, char c, int e, std::string name);
};

// The fixed terrain catalogue. The records of one character stand next to
// each other (a run); the first one of a run is the character's main record
// and carries the terrain's name. Within a shaded run the keys rise.
class HxTerrainSet {
public:
    // Elevation that asks for a character's main record whatever the shading.
    static constexpr int kAnyElevation = -666;

    HxTerrainSet();

    // Colour of character c at elevation e, shaded linearly between the main
    // record and the next shading point above e. r, g and b are left as they
    // are when no record has character c.
    void getTerrainColor(char c, int e, int& r, int& g, int& b) const;

    // The record that holds character c at elevation e, or null.
    const HxTerrainInfo* getTerrain(char c, int e) const;

    // The name of terrain c for people: the name of its main record, or the
    // character itself when it has none (or is not in the table). A
    // character that does not print shows as its code, "code 200".
    std::string displayName(char c) const;

    const std::vector<HxTerrainInfo>& records() const { return data; }

protected:
    std::vector<HxTerrainInfo> data;

private:
    // Index of the main record of c, or data.size() when there is none.
    std::size_t findBase(char c) const;
};

#endif
