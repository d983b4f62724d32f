#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cellreadout.h"
#include "hxterrains.h"
#include "savename.h"

TEST(CellReadout, NamesTheTerrainOrShowsItsCharacter) {
    struct Row { const char* name; int x, y; char t; int e; const char* text; };
    const Row rows[] = {
        {"named terrain", 12, 7, '~', 3, "Column 12, row 7: Water, elevation 3"},
        {"shaded terrain goes by its main record", 0, 0, '@', 8, "Column 0, row 0: Building, elevation 8"},
        {"the blank is grassland", 1, 2, ' ', 0, "Column 1, row 2: Grassland, elevation 0"},
        {"no name: its character", 999, 999, '?', 9, "Column 999, row 999: ?, elevation 9"},
        {"not in the table", 4, 5, 'x', 1, "Column 4, row 5: x, elevation 1"},
        {"negative elevation", 3, 0, '#', -128, "Column 3, row 0: Road, elevation -128"},
        {"highest elevation", 3, 0, '#', 127, "Column 3, row 0: Road, elevation 127"},
        {"code 0", 0, 1, '\0', 0, "Column 0, row 1: code 0, elevation 0"},
        {"a control character", 0, 1, '\t', 0, "Column 0, row 1: code 9, elevation 0"},
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
        {"relative bare name", "mycampaign", "mycampaign.map"},
        {"already .map", "/home/gm/a.map", "/home/gm/a.map"},
        {"another extension kept", "/home/gm/a.txt", "/home/gm/a.txt"},
        {"upper-case extension kept", "/home/gm/A.MAP", "/home/gm/A.MAP"},
        {"dot in a folder name only", "/home/gm/v1.2/mycampaign", "/home/gm/v1.2/mycampaign.map"},
        {"hidden file: its dot is no extension", "/home/gm/.campaign", "/home/gm/.campaign.map"},
        {"hidden file with an extension", "/home/gm/.campaign.map", "/home/gm/.campaign.map"},
        {"trailing dot kept as typed", "/home/gm/odd.", "/home/gm/odd."},
        {"a folder is left alone", "/home/gm/", "/home/gm/"},
        {"dot folder", "/home/gm/.", "/home/gm/."},
        {"parent folder", "/home/gm/..", "/home/gm/.."},
        {"empty", "", ""},
        {"bytes that are not UTF-8", "/m/caf\xe9", "/m/caf\xe9.map"},
    };
    for (const Row& r : rows) EXPECT_EQ(withMapExtension(r.path), r.saved) << r.name;
}

namespace {

// The rows of the terrain legend in the manual page, between its rule and
// the table's end, with the troff escapes of its characters undone.
std::vector<std::vector<std::string>> legendRows() {
    std::ifstream in(TARVEN_MANUAL);
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "_") { inTable = true; continue; }
        if (line == ".TE") break;
        if (!inTable) continue;
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
        const std::pair<const char*, const char*> escapes[] = {
            {"\\(dq", "\""}, {"\\(ga", "`"}, {"\\(ti", "~"}, {"\\(ha", "^"}, {"\\&=", "="}, {"blank", " "}};
        for (const auto& [from, to] : escapes)
            if (!cells.empty() && cells[0] == from) cells[0] = to;
        rows.push_back(cells);
    }
    return rows;
}

}  // namespace

// The manual's legend names every terrain of the toolbar with its colour at
// elevation 0, as the table has them.
TEST(ManualLegend, AgreesWithTheTerrainTable) {
    const HxTerrainSet terrains;
    std::vector<char> characters;
    for (const HxTerrainInfo& rec : terrains.records())
        if (rec.c != 0 && std::find(characters.begin(), characters.end(), rec.c) == characters.end())
            characters.push_back(rec.c);
    const auto rows = legendRows();
    ASSERT_EQ(rows.size(), characters.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 3u) << i;
        ASSERT_EQ(rows[i][0].size(), 1u) << rows[i][0];
        const char c = rows[i][0][0];
        EXPECT_EQ(c, characters[i]) << "row " << i;
        const std::string name = terrains.getTerrain(c, HxTerrainSet::kAnyElevation)->name;
        EXPECT_EQ(rows[i][1], name.empty() ? "(no name)" : name) << c;
        int r = 0, g = 0, b = 0;
        terrains.getTerrainColor(c, 0, r, g, b);
        char hex[16];
        std::snprintf(hex, sizeof hex, "(#%02X%02X%02X)", r, g, b);
        EXPECT_NE(rows[i][2].find(hex), std::string::npos) << c << ": " << rows[i][2] << " lacks " << hex;
    }
}
