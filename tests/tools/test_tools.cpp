// The command-line tools: their exits, the pictures they write (decoded
// back with libpng) and the statistics they print.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "pngbands.h"
#include "pngread.h"
#include "textlabels.h"
#include "tools.h"
#include "tempdir.h"

namespace {

using tarventest::TempDir;
using tarventest::withFileLimit;
using tarventest::readText;
using tarventest::writeText;

const std::string kSmall = TARVEN_EXAMPLES "/small.map";   // 24 x 16

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun runTool(bool stats, const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = stats ? tools::runStats(args, out, err) : tools::runRender(args, out, err);
    return ToolRun{code, out.str(), err.str()};
}

// An output stream whose every write fails, as on a full disk.
struct RefusingBuffer : std::streambuf {
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

// Every terrain next to every other, elevations -1..11: colours outside the
// table, all the label texts and the fallback colour.
void fillTestMap(HxMap& map) {
    const char terrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?', 'x', 0};
    for (int x = 0; x < map.xs(); ++x)
        for (int y = 0; y < map.ys(); ++y) {
            map.st(x, y, terrains[(x * 7 + y * 3) % 13]);
            map.se(x, y, static_cast<char>((x + 2 * y) % 13 - 1));
        }
}

}  // namespace

TEST(ToolExits, MisuseFailureAndSuccess) {
    TempDir dir;
    const std::string out = dir / "out.png", bad = dir / "bad.map", mapAsPng = dir / "map.png";
    writeText(bad, "2 3\n.0#1=2\n");   // one row short
    writeText(mapAsPng, readText(kSmall));
    ASSERT_EQ(::symlink("map.png", (dir / "link.png").c_str()), 0);
    writeText(dir / "ro.png", "kept");
    ASSERT_EQ(::chmod((dir / "ro.png").c_str(), 0444), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "folder.png").c_str(), 0755), 0);
    const std::vector<std::string> fixtures{"bad.map", "folder.png", "link.png", "map.png", "pipe.png", "ro.png"};
    const std::string longName = std::string(251, 'x') + ".png";   // 255 bytes, the most a name may have
    struct Row {
        const char* name;
        bool stats;
        std::vector<std::string> args;
        int code;
        std::string says;   // on standard error, or standard output for 0
        bool lost = false;  // standard output refuses every write
        std::string creates = "";
    };
    const Row rows[] = {
        {"render: no arguments", false, {}, 2, "tarven-render: an input map and an output picture are needed\n"},
        {"render: input only", false, {kSmall}, 2, "are needed"},
        {"render: three files", false, {kSmall, out, out}, 2, "too many"},
        {"render: zoom not a number", false, {"--zoom", "8x", kSmall, out}, 2, "'8x'"},
        {"render: zoom without value", false, {kSmall, out, "--zoom"}, 2, "--zoom needs a value"},
        {"render: three numbers for cells", false, {"--cells", "1,2,3", kSmall, out}, 2, "--cells"},
        {"render: no cells wide", false, {"--cells=0,0,0,4", kSmall, out}, 2, "--cells"},
        {"render: negative column", false, {"--cells", "-1,0,2,2", kSmall, out}, 2, "--cells"},
        {"render: cells beyond the map", false, {"--cells", "24,0,5,5", kSmall, out}, 2, "outside the map of 24 x 16"},
        {"render: unknown option", false, {"--colour", kSmall, out}, 2, "unknown option '--colour'"},
        {"render: missing map", false, {dir / "none.map", out}, 1, ""},
        {"render: malformed map", false, {bad, out}, 1, ""},
        {"render: output in a missing folder", false, {kSmall, dir / "no/out.png"}, 1, "cannot write '"},
        {"render: output is a folder", false, {kSmall, dir / "folder.png"}, 1, "it is a folder"},
        {"render: output is a pipe", false, {kSmall, dir / "pipe.png"}, 1, "it is not a regular file"},
        {"render: output is the input", false, {mapAsPng, mapAsPng}, 1,
         "cannot write '" + mapAsPng + "': it is the input '" + mapAsPng + "'"},
        {"render: output is a link to the input", false, {mapAsPng, dir / "link.png"}, 1, "it is the input"},
        {"render: output is read-only", false, {kSmall, dir / "ro.png"}, 1, "'" + dir / "ro.png" + "': it is read-only"},
        {"render: a map as output", false, {bad, bad}, 2, "by its extension; supported: .png"},
        {"render: unknown extension", false, {kSmall, dir / "out.jpeg"}, 2, "'" + dir / "out.jpeg" + "'"},
        {"render: no extension", false, {kSmall, dir / "png"}, 2, "supported: .png"},
        {"render: upper-case extension", false, {kSmall, dir / "OUT.PNG"}, 0, "", false, "OUT.PNG"},
        {"render: output name of 255 bytes", false, {kSmall, dir / longName}, 0, "", false, longName},
        {"render: picture above the limit", false, {"--zoom", "0", "--max-pixels", "383", kSmall, out}, 1,
         "24 x 16 = 384 pixels, more than the limit of 383; --max-pixels 384 allows it"},
        {"render: picture at the limit", false, {"--zoom=0", "--max-pixels=384", kSmall, out}, 0, "", false,
         "out.png"},
        {"render: no pixels allowed", false, {"--max-pixels", "0", kSmall, out}, 2,
         "--max-pixels wants a whole number of at least 1, not '0'"},
        {"render: pixels past any number", false, {"--max-pixels", "99999999999999999999", kSmall, out}, 2,
         "not '99999999999999999999'"},
        {"render: cells past the range of int", false, {"--cells", "0,0,2147483648,1", kSmall, out}, 2,
         "--cells wants X,Y,W,H"},
        {"render: help", false, {"--help"}, 0, "Usage: tarven-render"},
        {"render: help lost", false, {"--help"}, 1, "tarven-render: cannot write to standard output", true},
        {"render: version", false, {"--version"}, 0, "tarven-render (Tarven) " TARVEN_VERSION},
        {"render: version lost", false, {"--version"}, 1, "cannot write to standard output", true},
        {"stats: no arguments", true, {}, 2, "tarven-stats: a map file is needed\n"},
        {"stats: two maps", true, {kSmall, kSmall}, 2, "one map file"},
        {"stats: unknown option", true, {"-v", kSmall}, 2, "unknown option '-v'"},
        {"stats: missing map", true, {dir / "none.map"}, 1, ""},
        {"stats: malformed map", true, {bad}, 1, ""},
        {"stats: report lost", true, {kSmall}, 1, "tarven-stats: cannot write to standard output", true},
        {"stats: help", true, {"--help"}, 0, "Usage: tarven-stats"},
        {"stats: help lost", true, {"--help"}, 1, "cannot write to standard output", true},
        {"stats: version", true, {"--version"}, 0, "tarven-stats (Tarven) " TARVEN_VERSION},
    };
    for (const Row& row : rows) {
        std::ostringstream capturedOut, err;
        RefusingBuffer refusing;
        std::ostream lostOut(&refusing);
        std::ostream& outStream = row.lost ? lostOut : capturedOut;
        const int code = row.stats ? tools::runStats(row.args, outStream, err) : tools::runRender(row.args, outStream, err);
        const ToolRun run{code, capturedOut.str(), err.str()};
        EXPECT_EQ(run.code, row.code) << row.name << ": " << run.err;
        EXPECT_NE((row.code == 0 ? run.out : run.err).find(row.says), std::string::npos) << row.name << ": " << run.err;
        if (row.code != 0) {
            EXPECT_EQ(run.out, "") << row.name;
        }
        // A misuse is one line and where to read more, not the whole usage.
        const std::string tool = row.stats ? "tarven-stats" : "tarven-render";
        if (row.code == 2) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << row.name << ": " << run.err;
            EXPECT_EQ(run.err.rfind(tool + ": ", 0), 0u) << row.name << ": " << run.err;
            const std::string tryHelp = "\nTry '" + tool + " --help'.\n";
            EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), tryHelp.size())), tryHelp) << row.name;
        }
        // Nothing written but the file the row makes, not even a temporary
        // file; the files already there unchanged.
        std::vector<std::string> expected = fixtures;
        if (!row.creates.empty()) {
            expected.push_back(row.creates);
            std::sort(expected.begin(), expected.end());
            DecodedPng png;
            EXPECT_TRUE(readPng(dir / row.creates, png)) << row.name;
        }
        EXPECT_EQ(dir.entries(), expected) << row.name;
        if (!row.creates.empty()) ::unlink((dir / row.creates).c_str());
        EXPECT_EQ(readText(dir / "ro.png"), "kept") << row.name;
        EXPECT_EQ(readText(mapAsPng), readText(kSmall)) << row.name;
    }
}

// The picture reaches exactly to the last pixel the cells draw; pixel (0, 0)
// is the top-left client pixel of a view scrolled to the first cell.
TEST(RenderTool, PictureSizeZoomAndCells) {
    TempDir dir;
    struct Row {
        const char* name;
        std::vector<std::string> options;
        int w, h;
        bool cornerDrawn;   // pixel (0, 0) opaque
    };
    const Row rows[] = {
        {"dots, one pixel a cell", {"--zoom", "0"}, 24, 16, true},
        {"zoom below 0 is 0", {"--zoom=-4"}, 24, 16, true},
        {"squares of 4", {"--zoom", "3"}, 96, 64, true},
        {"hexes by default: odd last column, even columns lower", {}, 23 * 9 + 13, 15 * 9 + 4 + 9, false},
        {"zoom above 64 is 64", {"--zoom", "99"}, 23 * 65 + 87, 15 * 65 + 32 + 65, false},
        {"zoom past int is 64", {"--zoom", "2147483648"}, 23 * 65 + 87, 15 * 65 + 32 + 65, false},
        {"cells from an odd column", {"--cells", "3,2,5,4"}, 4 * 9 + 13, 3 * 9 + 4 + 9, false},
        {"cells clamped to the map", {"--zoom", "0", "--cells", "20,10,100,100"}, 4, 6, true},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.options;
        args.push_back(kSmall);
        args.push_back(dir / "out.png");
        ASSERT_EQ(runTool(false, args).code, 0) << row.name;
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / "out.png", png)) << row.name;
        EXPECT_EQ(png.width, row.w) << row.name;
        EXPECT_EQ(png.height, row.h) << row.name;
        EXPECT_EQ(png.at(0, 0) != 0, row.cornerDrawn) << row.name;
        EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_PALETTE) << row.name;
    }
}

// Drawn band by band, through the palette and the encoder, the picture is
// the one the picture core draws in one piece.
TEST(RenderTool, BandsGiveTheWholePicture) {
    TempDir dir;
    HxMap map(40, 30);
    fillTestMap(map);
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    PangoLabelFont labels;
    const hexgeom::CellRange ranges[] = {{0, 0, 39, 29}, {3, 2, 20, 12}, {10, 29, 12, 29}};
    for (int zoom : {0, 3, 8, 9, 16, 25, 64})
        for (const hexgeom::CellRange& cells : ranges) {
            if (zoom == 64 && cells.x1 == 0) continue;   // large and no news
            const tools::PictureSize exact = tools::pictureSize(zoom, cells);
            const hexgeom::Point size{static_cast<int>(exact.width), static_cast<int>(exact.height)};
            std::vector<hxpic::Pixel> whole(static_cast<std::size_t>(size.x) * size.y, 0);
            hxpic::Target target{whole.data(), size.x, size.y, size.x, {0, 0}};
            const hxpic::Picture picture{map, colours, zoom, {cells.x1, cells.y1}, cells, &labels};
            hxpic::draw(picture, hxpic::Clip{0, 0, size.x, size.y}, target);
            for (int bandRows : {1, 7, 0}) {
                std::string error;
                ASSERT_TRUE(tools::writePicture(map, zoom, cells, dir / "out.png", bandRows, error)) << error;
                DecodedPng png;
                ASSERT_TRUE(readPng(dir / "out.png", png));
                ASSERT_EQ(png.width, size.x);
                ASSERT_EQ(png.height, size.y);
                std::size_t differ = 0;
                while (differ < whole.size() && png.pixels[differ] == whole[differ]) ++differ;
                EXPECT_EQ(differ, whole.size()) << "zoom " << zoom << " cells " << cells << " bands of "
                                                << bandRows << ": first difference at " << differ % size.x
                                                << "," << differ / size.x;
            }
        }
}

TEST(PngBands, PaletteDepthAndFullColour) {
    TempDir dir;
    const hxpic::Pixel red = 0xffff0000u, grey = 0xff808080u;
    std::vector<hxpic::Pixel> many;
    for (hxpic::Pixel i = 0; i < 300; ++i) many.push_back(hxpic::kOpaque | (i * 0x010203u));
    struct Row {
        const char* name;
        std::vector<hxpic::Pixel> listed, drawn;
        pngbands::Result result;
        int colourType, bitDepth;
    };
    const Row rows[] = {
        {"two colours, one bit", {0, red}, {0, red}, pngbands::Result::Written, PNG_COLOR_TYPE_PALETTE, 1},
        {"opaque only, no transparent entry", {red, grey}, {grey, red}, pngbands::Result::Written,
         PNG_COLOR_TYPE_PALETTE, 1},
        {"256 colours, eight bits", std::vector<hxpic::Pixel>(many.begin(), many.begin() + 256),
         std::vector<hxpic::Pixel>(many.begin() + 40, many.begin() + 256), pngbands::Result::Written,
         PNG_COLOR_TYPE_PALETTE, 8},
        {"over 256 colours, full colour", many, many, pngbands::Result::Written, PNG_COLOR_TYPE_RGB_ALPHA, 8},
        {"a colour not listed", {0, red}, {red, grey}, pngbands::Result::ColourMissing, 0, 0},
    };
    const int w = 37, h = 23;
    for (const Row& row : rows) {
        pngbands::Settings settings;
        settings.colours = row.listed;
        settings.bandRows = 4;
        const auto colourAt = [&](int x, int y) { return row.drawn[(x * 3 + y * 5) % row.drawn.size()]; };
        const pngbands::DrawBand draw = [&](int top, int rows, hxpic::Pixel* pixels) {
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < w; ++x) pixels[y * w + x] = colourAt(x, top + y);
        };
        std::FILE* f = std::fopen((dir / "p.png").c_str(), "wb");
        std::string error;
        EXPECT_EQ(pngbands::write(f, w, h, settings, draw, error), row.result) << row.name << ": " << error;
        std::fclose(f);
        if (row.result != pngbands::Result::Written) continue;
        DecodedPng png;
        ASSERT_TRUE(readPng(dir / "p.png", png)) << row.name;
        EXPECT_EQ(png.colourType, row.colourType) << row.name;
        EXPECT_EQ(png.bitDepth, row.bitDepth) << row.name;
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) wrong += png.at(x, y) != colourAt(x, y);
        EXPECT_EQ(wrong, 0) << row.name;
    }
}

// When no thread can start (stacks too large for the address space here,
// a memory limit in real life), the same file is written on one thread.
TEST(PngBands, OneThreadWhenNoThreadStarts) {
    TempDir dir;
    HxMap map(60, 45);
    fillTestMap(map);
    std::string error;
    ASSERT_TRUE(tools::writePicture(map, 9, {0, 0, 59, 44}, dir / "two.png", 5, error)) << error;
    pthread_attr_t old, huge;
    ASSERT_EQ(::pthread_getattr_default_np(&old), 0);
    ASSERT_EQ(::pthread_getattr_default_np(&huge), 0);
    ASSERT_EQ(::pthread_attr_setstacksize(&huge, std::size_t(1) << 50), 0);
    ASSERT_EQ(::pthread_setattr_default_np(&huge), 0);
    bool threadStarts = true;
    try {
        std::thread([] {}).join();
    } catch (const std::system_error&) {
        threadStarts = false;
    }
    const bool written = tools::writePicture(map, 9, {0, 0, 59, 44}, dir / "one.png", 5, error);
    ::pthread_setattr_default_np(&old);
    ::pthread_attr_destroy(&old);
    ::pthread_attr_destroy(&huge);
    ASSERT_FALSE(threadStarts) << "the test cannot stop threads from starting";
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(readText(dir / "one.png"), readText(dir / "two.png"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"one.png", "two.png"}));
}

// A write that fails part-way (here at a file size limit) keeps the old
// picture and leaves no temporary file.
TEST(RenderTool, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    writeText(dir / "out.png", "old picture");
    HxMap map(200, 150);
    fillTestMap(map);
    std::string error;
    const bool written =
        withFileLimit(20000, [&] { return tools::writePicture(map, 8, {0, 0, 199, 149}, dir / "out.png", 0, error); });
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("cannot write '" + dir / "out.png" + "': "), std::string::npos) << error;
    EXPECT_EQ(readText(dir / "out.png"), "old picture");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.png"});
}

TEST(StatsTool, PrintsTheReportUnchanged) {
    TempDir dir;
    std::string zeroRows;
    for (int i = 2; i < 10; ++i) zeroRows += "   " + std::to_string(i) + "  0.00  0.00  0.0\n";
    std::string zeroRow1;
    for (int i = 1; i < 10; ++i) zeroRow1 += "   " + std::to_string(i) + "  0.00  0.0\n";
    const struct {
        const char* name;
        const char* file;
        std::string report;
    } rows[] = {
        {"two terrains on two elevations", "2 1\n.0\n#1\n",
         "              Terrain\n"
         "Elev   ' '   '#'  Total\n"
         "   0 50.00  0.00  50.0\n"
         "   1  0.00 50.00  50.0\n" +
             zeroRows + "Tot. 50.00 50.00 \n"},
        {"one terrain everywhere", "3 4\n?0?0?0?0\n?0?0?0?0\n?0?0?0?0\n",
         "              Terrain\n"
         "Elev   '?'  Total\n"
         "   0 100.00  100.0\n" +
             zeroRow1 + "Tot. 100.00 \n"},
    };
    for (const auto& row : rows) {
        writeText(dir / "m.map", row.file);
        const ToolRun run = runTool(true, {dir / "m.map"});
        EXPECT_EQ(run.code, 0) << row.name;
        EXPECT_EQ(run.out, row.report) << row.name;
        EXPECT_EQ(run.err, "") << row.name;
    }
}

// Both programs run with no display to talk to; a failed load's message is
// the map format's, on standard error after the tool's name.
TEST(ToolPrograms, RunWithoutADisplay) {
    TempDir dir;
    const auto run = [&](const std::string& command) {
        const int status = std::system(("env -u DISPLAY -u WAYLAND_DISPLAY " + command + " >'" + dir / "stdout" +
                                        "' 2>'" + dir / "stderr" + "'")
                                           .c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run(TARVEN_RENDER " --zoom 20 '" + kSmall + "' '" + dir / "s.png" + "'"), 0) << readText(dir / "stderr");
    DecodedPng png;
    EXPECT_TRUE(readPng(dir / "s.png", png));
    EXPECT_EQ(run(TARVEN_STATS " '" + kSmall + "'"), 0);
    EXPECT_EQ(readText(dir / "stdout").rfind("              Terrain\nElev ", 0), 0u);
    EXPECT_EQ(run(TARVEN_STATS " '" + dir / "none.map" + "'"), 1);
    EXPECT_EQ(readText(dir / "stdout"), "");
    EXPECT_EQ(readText(dir / "stderr"), "tarven-stats: Error opening file " + dir / "none.map" + "!\n");
    EXPECT_EQ(run(TARVEN_RENDER " '" + dir / "none.map" + "' '" + dir / "n.png" + "'"), 1);
    EXPECT_EQ(readText(dir / "stdout"), "");
    EXPECT_EQ(readText(dir / "stderr"), "tarven-render: Error opening file " + dir / "none.map" + "!\n");
}

// Sizes are exact in 64 bits however large the map, and the limits name
// the side or the count at fault.
TEST(RenderTool, PictureSizesAreExactAndLimited) {
    const long long kDefault = tools::kDefaultMaxPixels;
    struct Row {
        const char* name;
        int zoom;
        hexgeom::CellRange cells;
        long long maxPixels;
        long long width, height;
        std::string refusal;   // empty: allowed
    };
    const Row rows[] = {
        {"a 1 G-cell map as dots", 0, {0, 0, 32767, 32767}, kDefault, 32768, 32768, ""},
        {"1000 x 1000 at zoom 64", 64, {0, 0, 999, 999}, kDefault, 65022, 65032, ""},
        {"8000 x 8000 at zoom 64", 64, {0, 0, 7999, 7999}, kDefault, 520022, 520032,
         "the picture would be 520022 x 520032 = 270428080704 pixels, more than the limit of 10000000000; "
         "--max-pixels 270428080704 allows it"},
        {"8000 x 8000 at zoom 64 with the limit raised", 64, {0, 0, 7999, 7999}, 270428080704LL, 520022, 520032, ""},
        {"one even column of 33100000 rows at zoom 64", 64, {0, 0, 0, 33099999}, kDefault, 87, 2151500032LL,
         "the picture would be 2151500032 pixels high; a PNG file holds at most 2147483647"},
        {"two columns of 33100000 rows at zoom 64", 64, {0, 0, 1, 33099999}, kDefault, 152, 2151500032LL,
         "2151500032 pixels high"},
        {"an odd column alone sits higher", 64, {1, 0, 1, 33099999}, kDefault, 87, 2151500000LL, "pixels high"},
        {"20000 columns at zoom 64", 64, {0, 0, 19999, 0}, kDefault, 1300022, 97,
         "the picture would be 1300022 pixels wide; it can be at most 1000000"},
        {"the widest map as dots", 0, {0, 0, 0x7ffffffe, 0}, kDefault, 0x7fffffffLL, 1, "2147483647 pixels wide"},
        {"rows far down the map", 8, {5, 2000000000, 6, 2000000001}, kDefault, 22, 22, ""},
    };
    for (const Row& row : rows) {
        const tools::PictureSize size = tools::pictureSize(row.zoom, row.cells);
        EXPECT_EQ(size.width, row.width) << row.name;
        EXPECT_EQ(size.height, row.height) << row.name;
        std::string reason;
        EXPECT_EQ(tools::checkPictureSize(size, row.maxPixels, reason), row.refusal.empty()) << row.name;
        if (!row.refusal.empty()) {
            EXPECT_NE(reason.find(row.refusal), std::string::npos) << row.name << ": " << reason;
        }
    }
    // Where the picture core's box cannot overflow, both agree.
    for (int zoom : {0, 5, 8, 15, 16, 33, 64})
        for (int x1 : {0, 1, 2})
            for (int w : {1, 2, 3, 10})
                for (int h : {1, 2, 7}) {
                    const hexgeom::CellRange cells{x1, 4, x1 + w - 1, 4 + h - 1};
                    const hexgeom::PixelRect box = hxpic::pictureBox(zoom, cells, {cells.x1, cells.y1});
                    const tools::PictureSize size = tools::pictureSize(zoom, cells);
                    EXPECT_EQ(size.width, box.x + box.w) << zoom << " " << cells;
                    EXPECT_EQ(size.height, box.y + box.h) << zoom << " " << cells;
                }
}

// Warnings about cells go to standard error, a few in full and then their
// count; standard output holds the report alone.
TEST(StatsTool, WarningsAreSummarisedOnStandardError) {
    TempDir dir;
    const auto mapWithBadCells = [](int bad) {
        // 20 x 100 cells, the first `bad` of them at elevation 'a' (49).
        std::string file = "100 20\n";
        for (int y = 0, n = 0; y < 100; ++y, file += "\n")
            for (int x = 0; x < 20; ++x, ++n) file += n < bad ? ".a" : ".0";
        return file;
    };
    struct Row {
        const char* name;
        std::string file;
        int fullLines;
        std::string summary;   // the last line, empty when none
    };
    const Row rows[] = {
        {"no warnings", mapWithBadCells(0), 0, ""},
        {"one", mapWithBadCells(1), 1, ""},
        {"ten, all in full", mapWithBadCells(10), 10, ""},
        {"eleven: one counted", mapWithBadCells(11), 10, "1 more warning about cells not shown (11 in all)"},
        {"every cell", mapWithBadCells(2000), 10, "1990 more warnings about cells not shown (2000 in all)"},
        {"a control character shown as its code", "1 1\n.\x1b\n", 1, ""},
    };
    for (const Row& row : rows) {
        writeText(dir / "m.map", row.file);
        const ToolRun run = runTool(true, {dir / "m.map"});
        EXPECT_EQ(run.code, 0) << row.name;
        EXPECT_EQ(run.out.rfind("              Terrain\n", 0), 0u) << row.name;
        EXPECT_EQ(run.out.find("Invalid"), std::string::npos) << row.name;
        std::istringstream lines(run.err);
        int full = 0;
        std::string line, last;
        while (std::getline(lines, line)) {
            if (line.rfind("tarven-stats: '" + dir / "m.map" + "': Invalid map elevation char at ", 0) == 0) ++full;
            last = line;
        }
        EXPECT_EQ(full, row.fullLines) << row.name << ": " << run.err;
        if (!row.summary.empty()) {
            EXPECT_NE(last.find(row.summary), std::string::npos) << row.name << ": " << last;
        }
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << row.name;
    }
    writeText(dir / "m.map", "1 1\n.\x1b\n");
    EXPECT_NE(runTool(true, {dir / "m.map"}).err.find("0,0: \\x1b\n"), std::string::npos);
}

namespace {

// Starts a program with its arguments, standard output and error into
// files of the folder and optionally a file size and an address-space
// limit; returns its pid. The font library's cache is private to the
// folder, so that no shared cache is built or read under the limit.
pid_t start(const std::vector<std::string>& command, const TempDir& log, rlim_t fileSizeLimit = RLIM_INFINITY,
            rlim_t addressSpace = RLIM_INFINITY) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int out = ::open((log / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((log / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (fileSizeLimit != RLIM_INFINITY) {
        rlimit limit{fileSizeLimit, fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (addressSpace != RLIM_INFINITY) {
        ::setenv("XDG_CACHE_HOME", (log / "cache").c_str(), 1);
        ::setenv("FONTCONFIG_FILE", (log / "fonts.conf").c_str(), 1);
        rlimit limit{addressSpace, addressSpace};
        ::setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// How the child ended: its exit code, or 1000 + the signal that ended it.
int waitFor(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

}  // namespace

// The file size limit fails the write instead of ending the program, and
// neither it nor an interruption leaves a file behind or touches the old one.
TEST(ToolPrograms, FileSizeLimitAndInterruptionLeaveNothing) {
    TempDir out, log;
    writeText(out / "old.png", "old picture");
    const std::string large = TARVEN_EXAMPLES "/large.map";

    const pid_t limited = start({TARVEN_RENDER, large, out / "old.png"}, log, 100 * 1024);
    EXPECT_EQ(waitFor(limited), 1);
    EXPECT_NE(readText(log / "stderr").find("cannot write '" + out / "old.png" + "': File too large"),
              std::string::npos)
        << readText(log / "stderr");
    EXPECT_EQ(out.entries(), std::vector<std::string>{"old.png"});
    EXPECT_EQ(readText(out / "old.png"), "old picture");

    // Zoom 64 of the large sample takes minutes: interrupted once its
    // temporary file has grown.
    const pid_t interrupted = start({TARVEN_RENDER, "--zoom", "64", large, out / "old.png"}, log);
    bool started = false;
    for (int i = 0; i < 600 && !started; ++i) {
        for (const std::string& name : out.entries()) {
            struct stat st;
            if (name != "old.png" && ::stat((out / name).c_str(), &st) == 0 && st.st_size > 0) started = true;
        }
        if (!started) ::usleep(20000);
    }
    EXPECT_TRUE(started) << "no temporary file appeared";
    ::kill(interrupted, SIGINT);
    EXPECT_EQ(waitFor(interrupted), 128 + SIGINT) << readText(log / "stderr");
    EXPECT_EQ(out.entries(), std::vector<std::string>{"old.png"});
    EXPECT_EQ(readText(out / "old.png"), "old picture");
}

// A report, help or version text that cannot be written is a failure with
// a message on standard error.
TEST(ToolPrograms, LostStandardOutputIsAFailure) {
    TempDir dir;
    struct Row {
        const char* name;
        std::string command;   // run by the shell
        int code;
        const char* says;
    };
    const Row rows[] = {
        {"report to a full device", TARVEN_STATS " '" + kSmall + "' >/dev/full", 1,
         "tarven-stats: cannot write to standard output: No space left on device"},
        {"report with standard output closed", TARVEN_STATS " '" + kSmall + "' >&-", 1,
         "tarven-stats: cannot write to standard output: Bad file descriptor"},
        {"render version with standard output closed", TARVEN_RENDER " --version >&-", 1, "Bad file descriptor"},
        {"render with standard output closed writes its picture",
         TARVEN_RENDER " '" + kSmall + "' '" + dir / "p.png" + "' >&-", 0, ""},
        {"report written", TARVEN_STATS " '" + kSmall + "' >/dev/null", 0, ""},
    };
    for (const Row& row : rows) {
        const int status = std::system((row.command + " 2>'" + dir / "stderr" + "'").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << row.name;
        EXPECT_EQ(WEXITSTATUS(status), row.code) << row.name;
        const std::string err = readText(dir / "stderr");
        if (row.code == 0) {
            EXPECT_EQ(err, "") << row.name;
        } else {
            EXPECT_NE(err.find(row.says), std::string::npos) << row.name << ": " << err;
        }
    }
    DecodedPng png;
    EXPECT_TRUE(readPng(dir / "p.png", png));
}

namespace {

// The system's fonts with a cache of the test's own.
void privateFontConfig(const TempDir& log) {
    writeText(log / "fonts.conf",
              "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n"
              "  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n"
              "  <cachedir>" + log / "cache/fontconfig" + "</cachedir>\n</fontconfig>\n");
}

// Temporary files an interrupted or failed tool might leave: hidden names,
// anywhere below the folder.
std::vector<std::string> hiddenFiles(const std::string& folder) {
    std::vector<std::string> found;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (name[0] == '.') found.push_back(folder + "/" + name);
            struct stat st;
            if (::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                const std::vector<std::string> below = hiddenFiles(folder + "/" + name);
                found.insert(found.end(), below.begin(), below.end());
            }
        }
        ::closedir(d);
    }
    return found;
}

// One run of a tool for the tables below: its command, with OUT/ standing
// for the output folder.
struct ToolCommand {
    const char* name;
    std::vector<std::string> args;
};

std::vector<std::string> commandIn(const ToolCommand& c, const TempDir& out) {
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a.rfind("OUT/", 0) == 0 ? out / a.substr(4) : a);
    return args;
}

const std::string kMedium = TARVEN_EXAMPLES "/medium.map", kLarge = TARVEN_EXAMPLES "/large.map";
// A 4 x 4 ASCII grid for the heightmap import.
const char* const kSmallGrid = "ncols 4\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                               "1 2 3 4\n2 3 4 5\n3 4 5 6\n4 5 6 7\n";

}  // namespace

// Under an address-space limit (ulimit -v) every tool ends with 0, or 1 and
// a message; never with a signal, and never leaving a temporary file.
TEST(ToolPrograms, AddressSpaceLimitsEndWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under an address-space limit";
#endif
    TempDir out, log;
    privateFontConfig(log);
    // A map for the imports, made without a limit.
    ASSERT_EQ(waitFor(start({TARVEN_CONVERT, "-q", "--zoom", "23", kSmall, out / "in.tmx"}, log)), 0);
    writeText(out / "in.asc", kSmallGrid);
    const ToolCommand tools[] = {
        {"render, labels", {TARVEN_RENDER, "-q", "--zoom", "20", kMedium, "OUT/a.png"}},
        {"render, vector", {TARVEN_RENDER, "-q", kSmall, "OUT/a.pdf"}},
        {"stats", {TARVEN_STATS, kLarge}},
        {"convert, export with labels", {TARVEN_CONVERT, "-q", "--zoom", "23", kMedium, "OUT/b.tmx"}},
        {"convert, import", {TARVEN_CONVERT, "-q", "OUT/in.tmx", "OUT/b.map"}},
        {"convert, heightmap", {TARVEN_CONVERT, "-q", "OUT/in.asc", "OUT/c.map"}},
        {"tiles", {TARVEN_TILES, "-q", "--max-pitch", "16", kMedium, "OUT/web"}},
        {"tiles, labels", {TARVEN_TILES, "-q", "--max-pitch", "32", kMedium, "OUT/web2"}},
    };
    struct Limit {
        rlim_t megabytes;
        bool tilesOnly;
    };
    const Limit limits[] = {{23, true}, {30, false}, {60, false}, {100, false}};
    for (const Limit& limit : limits)
        for (const ToolCommand& tool : tools) {
            if (limit.tilesOnly && std::string(tool.name) != "tiles") continue;
            const std::string name = std::string(tool.name) + " in " + std::to_string(limit.megabytes) + " MB";
            const int code = waitFor(start(commandIn(tool, out), log, RLIM_INFINITY, limit.megabytes << 20));
            const std::string err = readText(log / "stderr");
            EXPECT_TRUE(code == 0 || code == 1) << name << ": " << code << ": " << err;
            if (code == 1) {
                EXPECT_EQ(err.rfind("tarven-", 0), 0u) << name << ": " << err;
            }
            EXPECT_EQ(hiddenFiles(out.path), std::vector<std::string>{}) << name;
        }
}

// GDAL is loaded only for a heightmap: with no room for it the import fails
// with the loader's reason, while the same program still converts a map.
TEST(ToolPrograms, HeightmapImportWithoutRoomForGdalSaysWhy) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under an address-space limit";
#endif
    TempDir out, log;
    writeText(out / "in.asc", kSmallGrid);
    ASSERT_EQ(waitFor(start({TARVEN_CONVERT, "-q", out / "in.asc", out / "free.map"}, log)), 0)
        << readText(log / "stderr");
    const rlim_t tight = rlim_t(30) << 20;
    EXPECT_EQ(waitFor(start({TARVEN_CONVERT, "-q", out / "in.asc", out / "a.map"}, log, RLIM_INFINITY, tight)), 1);
    const std::string err = readText(log / "stderr");
    EXPECT_NE(err.find("in.asc"), std::string::npos) << err;
    EXPECT_NE(err.find("cannot load the heightmap import"), std::string::npos) << err;
    EXPECT_FALSE(std::ifstream(out / "a.map").good());
    ASSERT_EQ(waitFor(start({TARVEN_CONVERT, "-q", out / "free.map", out / "b.tmx"}, log)), 0);
    EXPECT_EQ(waitFor(start({TARVEN_CONVERT, "-q", out / "b.tmx", out / "c.map"}, log, RLIM_INFINITY, tight)), 0)
        << readText(log / "stderr");
}

// Whether the process has a handler of its own for the signal.
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// A termination signal ends every tool with 128 + its number and removes
// its temporary files, whenever it comes once the tool has started.
TEST(ToolPrograms, SignalsEndEveryToolCleanly) {
    TempDir out, log;
    // A map of 20 MB that takes stats a while to count.
    {
        std::ofstream big(out / "big.map");
        big << "2500 4000\n";   // rows, then columns
        std::string row;
        for (int x = 0; x < 4000; ++x) row += "#1";
        row += "\n";
        for (int y = 0; y < 2500; ++y) big << row;
    }
    const ToolCommand tools[] = {
        {"render", {TARVEN_RENDER, "-q", "--zoom", "64", kLarge, "OUT/a.png"}},
        {"stats", {TARVEN_STATS, "OUT/big.map"}},
        {"convert", {TARVEN_CONVERT, "-q", "OUT/big.map", "OUT/b.tmx"}},
        {"tiles", {TARVEN_TILES, "-q", "--max-pitch", "64", "--max-tiles", "10000000", kLarge, "OUT/web"}},
    };
    for (const int signal : {SIGTERM, SIGINT})
        for (const ToolCommand& tool : tools) {
            const std::string name = std::string(tool.name) + " under signal " + std::to_string(signal);
            const pid_t pid = start(commandIn(tool, out), log);
            // Sent once the tool handles it and, for those that write, once
            // a temporary file is there (or a second has passed).
            for (int i = 0; i < 2000 && !catches(pid, signal); ++i) ::usleep(500);
            const bool writes = std::string(tool.name) != "stats";
            for (int i = 0; writes && i < 1000 && hiddenFiles(out.path).empty(); ++i) ::usleep(1000);
            ::kill(pid, signal);
            EXPECT_EQ(waitFor(pid), 128 + signal) << name << ": " << readText(log / "stderr");
            EXPECT_EQ(hiddenFiles(out.path), std::vector<std::string>{}) << name;
        }
}
