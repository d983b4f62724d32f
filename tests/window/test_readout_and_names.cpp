#include <gtest/gtest.h>

#include "cellreadout.h"
#include "hxterrains.h"
#include "savename.h"

TEST(CellReadout, HexNumberThenColumnRowAndTerrain) {
    struct Row { const char* name; int x, y; char t; int e; int mapW, mapH; const char* text; };
    const Row rows[] = {
        {"named terrain", 12, 7, '~', 3, 30, 20, "Hex 1308 (column 12, row 7): Water, elevation 3"},
        {"shaded terrain goes by its main record", 0, 0, '@', 8, 24, 16,
         "Hex 0101 (column 0, row 0): Building, elevation 8"},
        {"digits as wide as the whole map needs", 12, 7, '~', 3, 200, 150,
         "Hex 013008 (column 12, row 7): Water, elevation 3"},
        {"wide map, short one", 999, 0, '?', 9, 1000, 9, "Hex 100001 (column 999, row 0): ?, elevation 9"},
        {"not in the table", 4, 5, 'x', 1, 10, 10, "Hex 0506 (column 4, row 5): x, elevation 1"},
        {"negative elevation", 3, 0, '#', -128, 10, 10, "Hex 0401 (column 3, row 0): Road, elevation -128"},
        {"code 0", 0, 1, '\0', 0, 10, 10, "Hex 0102 (column 0, row 1): code 0, elevation 0"},
        {"a byte above 127, whatever char's sign", 0, 1, static_cast<char>(200), 0, 10, 10,
         "Hex 0102 (column 0, row 1): code 200, elevation 0"},
        {"delete", 0, 1, '\x7f', 0, 10, 10, "Hex 0102 (column 0, row 1): code 127, elevation 0"},
    };
    const HxTerrainSet terrains;
    for (const Row& r : rows)
        EXPECT_EQ(cellReadout(r.x, r.y, r.t, r.e, terrains, r.mapW, r.mapH), r.text) << r.name;
}

TEST(SaveName, AddsMapOnlyToAFileNameWithoutAnExtension) {
    struct Row { const char* name; const char* path; const char* saved; };
    const Row rows[] = {
        {"bare name", "/home/gm/mycampaign", "/home/gm/mycampaign.map"},
        {"already .map", "/home/gm/a.map", "/home/gm/a.map"},
        {"another extension kept", "/home/gm/a.txt", "/home/gm/a.txt"},
        {"dot in a folder name only", "/home/gm/v1.2/mycampaign", "/home/gm/v1.2/mycampaign.map"},
        {"hidden file: its dot is no extension", "/home/gm/.campaign", "/home/gm/.campaign.map"},
        {"trailing dot kept as typed", "/home/gm/odd.", "/home/gm/odd."},
        {"a folder is left alone", "/home/gm/", "/home/gm/"},
        {"dot folder", "/home/gm/.", "/home/gm/."},
        {"bytes that are not UTF-8", "/m/caf\xe9", "/m/caf\xe9.map"},
    };
    for (const Row& r : rows) EXPECT_EQ(withMapExtension(r.path), r.saved) << r.name;
}
