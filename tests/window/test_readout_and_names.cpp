#include <gtest/gtest.h>

#include "cellreadout.h"
#include "hxterrains.h"
#include "savename.h"

TEST(CellReadout, NamesTheTerrainOrShowsItsCharacter) {
    struct Row { const char* name; int x, y; char t; int e; const char* text; };
    const Row rows[] = {
        {"named terrain", 12, 7, '~', 3, "Column 12, row 7: Water, elevation 3"},
        {"shaded terrain goes by its main record", 0, 0, '@', 8, "Column 0, row 0: Building, elevation 8"},
        {"no name: its character", 999, 999, '?', 9, "Column 999, row 999: ?, elevation 9"},
        {"not in the table", 4, 5, 'x', 1, "Column 4, row 5: x, elevation 1"},
        {"negative elevation", 3, 0, '#', -128, "Column 3, row 0: Road, elevation -128"},
        {"code 0", 0, 1, '\0', 0, "Column 0, row 1: code 0, elevation 0"},
        {"a byte above 127, whatever char's sign", 0, 1, static_cast<char>(200), 0,
         "Column 0, row 1: code 200, elevation 0"},
        {"delete", 0, 1, '\x7f', 0, "Column 0, row 1: code 127, elevation 0"},
    };
    const HxTerrainSet terrains;
    for (const Row& r : rows) EXPECT_EQ(cellReadout(r.x, r.y, r.t, r.e, terrains), r.text) << r.name;
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
