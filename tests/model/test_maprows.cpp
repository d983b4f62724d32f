#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "hxmap.h"
#include "maprows.h"

namespace fs = std::filesystem;

namespace {

template <std::size_t N>
std::string bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

// Map files of every kind a load meets. Rows from..to break the pattern of
// rows of one length (-1: none do); a part that reads none of them may load
// where the whole file does not.
struct MapFile {
    const char* label;
    std::string content;
    int badFrom = -1, badTo = -1;
};

const MapFile kFiles[] = {
    {"plain", "4 3\n.0#1=2\n~0~1^9\n'3_4`5\n?0?1?2\n"},
    {"CR LF line ends", "4 3\r\n.0#1=2\r\n~0~1^9\r\n'3_4`5\r\n?0?1?2\r\n"},
    // The right size for CR LF rows, but row 2 starts a character early.
    {"CR LF and a bare LF", "4 3\r\n.0#1=2\r\n~0~1^9\nX'3_4`5\r\n?0?1?2\r\n"},
    {"last line end missing", "4 3\n.0#1=2\n~0~1^9\n'3_4`5\n?0?1?2"},
    {"blank lines after the header", "4 3\n\n\n.0#1=2\n~0~1^9\n'3_4`5\n?0?1?2\n"},
    {"bad elevations", "4 3\n.a#1=2\n~0~1^9\n'3_:`5\n?0?1?~\n"},
    {"trailing words", "4 3\n.0#1=2\n~0~1^9\n'3_4`5\n?0?1?2\nextra\n", 0, 3},
    {"rows of other lengths", "4 3\n.0#1=2x\n~0~1^\n'3_4`5\n?0?1?2\n", 0, 1},
    {"two rows on one line", "4 3\n.0#1=2 ~0~1^9\n'3_4`5\n?0?1?2\n", 0, 1},
    {"blank inside a row", "4 3\n.0#1=2\n~0 1^9\n'3_4`5\n?0?1?2\n", 1, 1},
    {"NUL inside a row", bytes("4 3\n.0#1=2\n~0~1^9\n'3\0004`5\n?0?1?2\n"), 2, 2},
    {"tab as line end", "4 3\n.0#1=2\t~0~1^9\n'3_4`5\n?0?1?2\n", 0, 3},
    {"one row missing", "4 3\n.0#1=2\n~0~1^9\n'3_4`5\n", 0, 3},
    {"header says zero rows", "0 3\n.0#1=2\n"},
    {"no header", "abc\n"},
    {"empty", ""},
    {"header too large", "99999999999 3\n.0#1=2\n"},
    {"one row", "1 3\n.0#1=2\n"},
};

// Parts asked for, as cells clamped to the map.
struct Pick {
    const char* label;
    int x1, y1, x2, y2;
};

const Pick kPicks[] = {
    {"whole map", 0, 0, 1 << 20, 1 << 20},
    {"middle rows, odd first column", 1, 1, 2, 2},
    {"first row", 0, 0, 0, 0},
    {"third row", 0, 2, 2, 2},
    {"last row, last column", 2, 3, 2, 3},
    {"rows below the map", 0, 7, 2, 9},
};

hexgeom::CellRange clampTo(const Pick& p, int cols, int rows) {
    return hexgeom::CellRange{p.x1, p.y1, std::min(p.x2, cols - 1), std::min(p.y2, rows - 1)};
}

class MapRowsTest : public testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarven-maprows-XXXXXX";
        ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string write(const std::string& content) {
        const std::string file = dir + "/a.map";
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        f.write(content.data(), static_cast<std::streamsize>(content.size()));
        return file;
    }
    std::string dir;
};

// Warning lines of the rows y1..y2 only, in their order.
std::string warningsOfRows(const std::string& out, int y1, int y2) {
    std::istringstream in(out);
    std::string line, kept;
    const std::string lead = "Invalid map elevation char at ";
    while (std::getline(in, line)) {
        if (line.compare(0, lead.size(), lead) != 0) continue;
        const int y = std::atoi(line.c_str() + line.find(',') + 1);
        if (y >= y1 && y <= y2) kept += line + "\n";
    }
    return kept;
}

TEST_F(MapRowsTest, PartsReadTheSameCellsOrFailTheSameWayAsWholeLoads) {
    for (const MapFile& f : kFiles) {
        const std::string file = write(f.content);
        HxMap whole(1, 1);
        testing::internal::CaptureStdout();
        const bool wholeOk = whole.loadMap(file.c_str());
        const std::string wholeOut = testing::internal::GetCapturedStdout();
        for (const Pick& p : kPicks) {
            SCOPED_TRACE(std::string(f.label) + " / " + p.label);
            HxMap part(1, 1);
            part.st(0, 0, '@');
            MapPart where;
            testing::internal::CaptureStdout();
            const bool ok = loadMapPart(part, file.c_str(),
                                        [&](int cols, int rows) { return clampTo(p, cols, rows); }, LoadHooks{},
                                        where);
            const std::string out = testing::internal::GetCapturedStdout();
            const bool missesTheBadRows = f.badTo < 0 || p.y1 > f.badTo || std::min(p.y2, 3) < f.badFrom;
            if (!ok) {
                EXPECT_FALSE(wholeOk);
                EXPECT_EQ(out, wholeOut);
                EXPECT_EQ(part.lastMessage(), whole.lastMessage());
                EXPECT_EQ(part.lastError(), whole.lastError());
                EXPECT_EQ(part.xs(), 1);
                EXPECT_EQ(part.t(0, 0), '@');
                continue;
            }
            EXPECT_TRUE(wholeOk || (where.rowsOnly && missesTheBadRows)) << out;
            if (!wholeOk) continue;
            EXPECT_EQ(where.cols, whole.xs());
            EXPECT_EQ(where.rows, whole.ys());
            EXPECT_EQ(where.dx % 2, 0);
            const hexgeom::CellRange want = clampTo(p, whole.xs(), whole.ys());
            if (want.empty()) {
                EXPECT_TRUE(where.cells.empty());
                continue;
            }
            EXPECT_EQ(out, where.rowsOnly ? warningsOfRows(wholeOut, want.y1, want.y2) : wholeOut);
            EXPECT_EQ(part.name, file);
            EXPECT_EQ(where.cells.x1 + where.dx, want.x1);
            EXPECT_EQ(where.cells.y1 + where.dy, want.y1);
            EXPECT_EQ(where.cells.x2 + where.dx, want.x2);
            EXPECT_EQ(where.cells.y2 + where.dy, want.y2);
            for (int y = where.cells.y1; y <= where.cells.y2; ++y)
                for (int x = where.cells.x1; x <= where.cells.x2; ++x) {
                    EXPECT_EQ(part.t(x, y), whole.t(x + where.dx, y + where.dy)) << x << "," << y;
                    EXPECT_EQ(part.e(x, y), whole.e(x + where.dx, y + where.dy)) << x << "," << y;
                }
        }
    }
}

TEST_F(MapRowsTest, RowsOfOneLengthAreReadOnlyWherePicked) {
    struct Case {
        const char* label;
        std::string lineEnd;
        hexgeom::CellRange pick;
        int width, height;   // of the map that holds the part
    };
    const Case cases[] = {
        {"odd first column starts one column early", "\n", {3, 10, 4, 19}, 3, 10},
        {"even first column", "\n", {4, 0, 39, 0}, 36, 1},
        {"last row", "\n", {0, 49, 0, 49}, 1, 1},
        {"CR LF: read whole", "\r\n", {3, 10, 4, 19}, 40, 50},
    };
    std::string content = "50 40\n";
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 40; ++x) content += std::string(1, static_cast<char>('A' + (x + y) % 26)) + "5";
        content += "\n";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string text = content;
        if (c.lineEnd == "\r\n")
            for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, "\r");
        const std::string file = write(text);
        HxMap part(0, 0);
        MapPart where;
        int reports = 0;
        LoadHooks hooks;
        hooks.progress = [&](std::uint64_t, std::uint64_t) { return ++reports > 0; };
        ASSERT_TRUE(loadMapPart(part, file.c_str(), [&](int, int) { return c.pick; }, hooks, where));
        EXPECT_EQ(where.rowsOnly, c.lineEnd == "\n");
        EXPECT_GT(reports, 0);
        EXPECT_EQ(part.xs(), c.width);
        EXPECT_EQ(part.ys(), c.height);
        EXPECT_EQ(part.t(where.cells.x1, where.cells.y1), 'A' + (c.pick.x1 + c.pick.y1) % 26);
        EXPECT_EQ(part.e(where.cells.x2, where.cells.y2), 5);
    }
}

TEST_F(MapRowsTest, CancelledPartLeavesTheMapAndPrintsNothing) {
    const std::string file = write("3 2\n.0#1\n~0~1\n?0?1\n");
    HxMap part(1, 1);
    part.st(0, 0, '@');
    MapPart where;
    LoadHooks hooks;
    hooks.progress = [](std::uint64_t, std::uint64_t) { return false; };
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadMapPart(part, file.c_str(), [](int, int) { return hexgeom::CellRange{0, 1, 1, 1}; }, hooks,
                             where));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(part.lastError(), "Load cancelled");
    EXPECT_EQ(part.t(0, 0), '@');
}

TEST_F(MapRowsTest, CountingRowByRowReportsWhatTheWholeMapReports) {
    for (const MapFile& f : kFiles) {
        SCOPED_TRACE(f.label);
        const std::string file = write(f.content);
        HxMap whole(0, 0);
        std::ostringstream wholeReport;
        testing::internal::CaptureStdout();
        const bool wholeOk = whole.loadMap(file.c_str());
        if (wholeOk) whole.statistics(wholeReport);
        const std::string wholeOut = testing::internal::GetCapturedStdout();

        CellCounts counts;
        std::string error;
        std::ostringstream report;
        testing::internal::CaptureStdout();
        const bool ok = countMapFile(file.c_str(), LoadHooks{}, counts, error);
        if (ok) counts.print(report);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), wholeOut);
        EXPECT_EQ(ok, wholeOk);
        EXPECT_EQ(error, whole.lastError());
        EXPECT_EQ(report.str(), wholeReport.str());
    }
}

TEST_F(MapRowsTest, CountingKeepsCellsOutsideTheTablesInTheTotal) {
    // Terrain bytes 128..255 and elevations outside 0..9 get no column but
    // are part of every percentage's whole, row by row as over the grid.
    HxMap m(4, 3);
    m.st(1, 0, static_cast<char>(200));
    m.se(2, 1, static_cast<char>(-3));
    m.se(3, 2, 12);
    std::ostringstream grid, rows;
    m.statistics(grid);
    CellCounts counts;
    for (int y = 0; y < m.ys(); ++y) counts.addRow(m.terrainRow(y), m.elevationRow(y), m.xs());
    counts.print(rows);
    EXPECT_EQ(rows.str(), grid.str());
    EXPECT_EQ(counts.total(), 12);
    EXPECT_NE(grid.str().find("Tot. 75.00 \n"), std::string::npos) << grid.str();
}

}  // namespace
