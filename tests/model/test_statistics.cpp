#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "hxmap.h"

namespace {

std::string report(const HxMap& m) {
    std::ostringstream out;
    m.statistics(out);
    return out.str();
}

// Lines for elevations from..9 with the given cells.
std::string emptyRows(int from, const std::string& cells) {
    std::string r;
    for (int i = from; i < 10; ++i) r += "   " + std::to_string(i) + " " + cells + " 0.0\n";
    return r;
}

TEST(StatisticsTest, TwoTerrainsOnTwoElevations) {
    HxMap m(1, 2);
    m.st(0, 0, ' ');
    m.se(0, 0, 0);
    m.st(0, 1, '#');
    m.se(0, 1, 1);
    EXPECT_EQ(report(m),
              "              Terrain\n"
              "Elev   ' '   '#'  Total\n"
              "   0 50.00  0.00  50.0\n"
              "   1  0.00 50.00  50.0\n" +
                  emptyRows(2, " 0.00  0.00 ") +
                  "Tot. 50.00 50.00 \n");
}

TEST(StatisticsTest, OneTerrainEverywhereWidensItsCells) {
    HxMap m(3, 4);
    EXPECT_EQ(report(m),
              "              Terrain\n"
              "Elev   '?'  Total\n"
              "   0 100.00  100.0\n" +
                  emptyRows(1, " 0.00 ") +
                  "Tot. 100.00 \n");
}

TEST(StatisticsTest, MapWithoutCellsPrintsZeroRows) {
    for (const auto& size : {std::pair<int, int>{0, 0}, {5, 0}, {0, 5}}) {
        HxMap m(size.first, size.second);
        EXPECT_EQ(report(m), "              Terrain\nElev  Total\n" + emptyRows(0, "") + "Tot. \n");
    }
}

// Cells outside the tables get no column but still count in the total; the
// NUL terrain has a column of its own and prints as a NUL byte.
TEST(StatisticsTest, CellsOutsideTheTablesCountOnlyInTheTotal) {
    HxMap m(4, 1);
    m.st(0, 0, '#');
    m.se(1, 0, 10);
    m.se(2, 0, -1);
    m.st(3, 0, static_cast<char>(200));
    EXPECT_EQ(report(m),
              "              Terrain\n"
              "Elev   '#'  Total\n"
              "   0 25.00  25.0\n" +
                  emptyRows(1, " 0.00 ") + "Tot. 25.00 \n");

    HxMap n(2, 1);
    n.st(0, 0, '\0');
    n.se(1, 0, 9);
    const std::string r = report(n);
    EXPECT_NE(r.find(std::string("Elev   '\0'   '?'  Total\n", 24)), std::string::npos) << r;
    EXPECT_NE(r.find("   0 50.00  0.00  50.0\n"), std::string::npos) << r;
    EXPECT_NE(r.find("   9  0.00 50.00  50.0\n"), std::string::npos) << r;
    EXPECT_NE(r.find("Tot. 50.00 50.00 \n"), std::string::npos) << r;
}

TEST(StatisticsTest, DefaultsToStandardOutputAndRoundsByTheFormat) {
    HxMap m(3, 1);
    m.st(0, 0, '~');
    testing::internal::CaptureStdout();
    m.statistics();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, report(m));
    // 1/3 and 2/3 of the cells.
    EXPECT_NE(out.find("   0 66.67 33.33  100.0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Tot. 66.67 33.33 \n"), std::string::npos) << out;
}

}  // namespace
