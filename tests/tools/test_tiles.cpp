// tarven-tiles: its levels, its refusals, tiles against the whole picture,
// the page's cell data, and the page itself in a real browser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <csignal>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hexnumber.h"
#include "hxmap.h"
#include "hxpicture.h"
#include "hxterrains.h"
#include "pngread.h"
#include "textlabels.h"
#include "tilestool.h"
#include "tools.h"
#include "tempdir.h"

namespace {

using Folder = tarventest::TempDir;
using tarventest::readText;
using tarventest::withFileLimit;
using tarventest::writeText;

struct TilesRun {
    int code;
    std::string out, err;
};

TilesRun tiles(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    // The map's load warnings go to standard output.
    testing::internal::CaptureStdout();
    const int code = tools::runTiles(args, out, err);
    testing::internal::GetCapturedStdout();
    return TilesRun{code, out.str(), err.str()};
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Terrains side by side with elevations -1..11, so that tiles hold labels,
// outlines and the fallback colour.
void writeTestMap(const std::string& path, int w, int h) {
    const char terrains[] = {'"', '\'', '%', '.', '#', '=', '/', '@', '~', '^'};
    std::string text = std::to_string(h) + " " + std::to_string(w) + "\n";
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            text += terrains[(x * 7 + y * 3) % 10];
            text += static_cast<char>('0' + (x + 2 * y) % 13 - 1);
        }
        text += '\n';
    }
    std::ofstream(path) << text;
}

}  // namespace

TEST(TilesTool, LevelsHalveThePitchUpToOneTile) {
    struct Row {
        const char* name;
        int w, h, maxPitch;
        std::vector<int> pitches;   // coarsest first
    };
    const Row rows[] = {
        {"one cell fits one tile at once", 1, 1, 32, {32}},
        {"medium map down to pitch 1", 200, 150, 32, {1, 2, 4, 8, 16, 32}},
        {"stops where the picture fits a tile", 20, 10, 32, {8, 16, 32}},
        {"a long strip stops at pitch 1", 4000, 1, 4, {1, 2, 4}},
        {"pitch 1 is one level", 1000, 1000, 1, {1}},
        {"no cells, no levels", 0, 5, 32, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<tools::TileLevel> levels = tools::planLevels(r.w, r.h, r.maxPitch);
        std::vector<int> pitches;
        for (const tools::TileLevel& l : levels) pitches.push_back(l.pitch);
        EXPECT_EQ(pitches, r.pitches);
        for (std::size_t z = 0; z < levels.size(); ++z) {
            const tools::TileLevel& l = levels[z];
            // The tiles cover the level's picture and the deepest extent
            // halved, and not a column of tiles more.
            EXPECT_GE(l.cols * tools::kTileSize, l.width);
            EXPECT_GE(l.rows * tools::kTileSize, l.height);
            const int shift = static_cast<int>(levels.size() - 1 - z);
            EXPECT_GE(static_cast<long long>(l.cols) * tools::kTileSize << shift, levels.back().width);
            EXPECT_LT((l.cols - 1) * tools::kTileSize, std::max(l.width, ((levels.back().width - 1) >> shift) + 1));
        }
    }
}

TEST(TilesTool, RefusesBadArgumentsAndTooManyTiles) {
    Folder dir;
    writeTestMap(dir / "a.map", 200, 150);   // 660 tiles at pitch 32, 47 at pitch 8
    for (const char* lib : {"zero", "huge"}) {
        ASSERT_EQ(::mkdir((dir / lib).c_str(), 0755), 0);
        tarventest::writeText(dir / lib + "/leaflet.js", "L = {};");
        tarventest::writeText(dir / lib + "/leaflet.css", "");
    }
    ::unlink((dir / "zero/leaflet.js").c_str());
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zero/leaflet.js").c_str()), 0);
    ASSERT_EQ(::truncate((dir / "huge/leaflet.css").c_str(), 17 << 20), 0);   // sparse: no disk taken
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Row rows[] = {
        {"pitch not a power of two", {"--max-pitch", "24", dir / "a.map", dir / "out"}, 2, "not '24'"},
        {"pitch above 64", {"--max-pitch=128", dir / "a.map", dir / "out"}, 2, "not '128'"},
        {"pitch 0", {"--max-pitch=0", dir / "a.map", dir / "out"}, 2, "not '0'"},
        {"negative pitch", {"--max-pitch=-8", dir / "a.map", dir / "out"}, 2, "not '-8'"},
        {"no tiles allowed", {"--max-tiles=0", dir / "a.map", dir / "out"}, 2, "at least 1"},
        {"limit needs a value", {dir / "a.map", dir / "out", "--max-tiles"}, 2, "needs a value"},
        {"one file only", {dir / "a.map"}, 2, "an input map and an output folder"},
        {"over the limit", {"--max-tiles", "100", dir / "a.map", dir / "out"}, 2, "raise --max-tiles"},
        {"map not there", {dir / "none.map", dir / "out"}, 1, ""},
        {"output is a file", {dir / "a.map", dir / "a.map"}, 1, "is not a folder"},
        {"library script a link to an endless device", {"--leaflet", dir / "zero", dir / "a.map", dir / "out"}, 1,
         "leaflet.js': it is not a regular file"},
        {"library style sheet past the size bound", {"--leaflet", dir / "huge", dir / "a.map", dir / "out"}, 1,
         "larger than 16 MiB"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const TilesRun run = tiles(r.args);
        EXPECT_EQ(run.code, r.code);
        EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
        EXPECT_FALSE(exists(dir / "out")) << "nothing is written when the work is refused";
    }
    const TilesRun lower = tiles({"--quiet", "--max-pitch", "8", "--max-tiles", "100", dir / "a.map", dir / "out"});
    EXPECT_EQ(lower.code, 0) << lower.err;
    EXPECT_TRUE(exists(dir / "out/index.html"));
}

TEST(TilesTool, TilesAreThePicturesOfEachLevelCut) {
    Folder dir;
    writeTestMap(dir / "t.map", 41, 30);
    HxMap map(0, 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(map.loadMap((dir / "t.map").c_str()));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(tiles({"--quiet", dir / "t.map", dir / "web"}).code, 0);

    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    PangoLabelFont labels;
    const std::vector<tools::TileLevel> levels = tools::planLevels(41, 30, 32);
    ASSERT_EQ(levels.size(), 4u);   // pitches 4, 8, 16, 32
    for (std::size_t z = 0; z < levels.size(); ++z) {
        const tools::TileLevel& l = levels[z];
        const int zoom = l.pitch - 1;
        const int width = static_cast<int>(l.width), height = static_cast<int>(l.height);
        const hexgeom::CellRange all{0, 0, 40, 29};
        std::vector<hxpic::Pixel> whole(static_cast<std::size_t>(width) * height, 0);
        hxpic::Target target{whole.data(), width, height, width, {0, 0}};
        hxpic::draw(hxpic::Picture{map, colours, zoom, {0, 0}, all, &labels}, hxpic::Clip{0, 0, width, height},
                    target);
        for (int tx = 0; tx < l.cols; ++tx)
            for (int ty = 0; ty < l.rows; ++ty) {
                const std::string name = "tiles/" + std::to_string(z) + "/" + std::to_string(tx) + "/" +
                                         std::to_string(ty) + ".png";
                DecodedPng png;
                ASSERT_TRUE(readPng(dir / ("web/" + name), png)) << name;
                ASSERT_EQ(png.width, tools::kTileSize);
                ASSERT_EQ(png.height, tools::kTileSize);
                int differ = -1;
                for (int i = 0; i < tools::kTileSize * tools::kTileSize && differ < 0; ++i) {
                    const int x = tx * tools::kTileSize + i % tools::kTileSize;
                    const int y = ty * tools::kTileSize + i / tools::kTileSize;
                    const hxpic::Pixel want =
                        x < width && y < height ? whole[static_cast<std::size_t>(y) * width + x] : 0;
                    if (png.pixels[i] != want) differ = i;
                }
                EXPECT_EQ(differ, -1) << name << ": first difference at " << differ % tools::kTileSize << ","
                                      << differ / tools::kTileSize;
            }
    }
}

// The page finds a cell's terrain and elevation bytes in a block file:
// every byte, quotes, backslashes and negative elevations included, must
// come back as the map holds it.
TEST(TilesTool, CellBlocksHoldEveryByte) {
    Folder dir;
    HxMap map(70, 3);
    for (int x = 0; x < 70; ++x)
        for (int y = 0; y < 3; ++y) {
            map.st(x, y, static_cast<char>((x * 3 + y * 70) % 256));
            map.se(x, y, static_cast<char>(x * 5 - 128 + y));
        }
    ASSERT_TRUE(map.saveMap((dir / "b.map").c_str()));
    HxMap saved(0, 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(saved.loadMap((dir / "b.map").c_str()));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(tiles({"--quiet", "--max-pitch", "2", dir / "b.map", dir / "web"}).code, 0);
    struct Block {
        const char* name;
        int bx, width;
    };
    const Block blocks[] = {{"full block", 0, 64}, {"last, narrower block", 1, 6}};
    for (const Block& b : blocks) {
        SCOPED_TRACE(b.name);
        const std::string js = readText(dir / ("web/cells/0/" + std::to_string(b.bx) + ".js"));
        const std::string head = "tarvenCells(" + std::to_string(b.bx) + ", 0, " + std::to_string(b.width) + ", \"";
        ASSERT_EQ(js.compare(0, head.size(), head), 0) << js.substr(0, 40);
        std::string bytes;
        for (std::size_t i = head.size(); i < js.size() && js[i] != '"'; ++i) {
            ASSERT_NE(js[i], '<');
            if (js[i] == '\\') {
                ASSERT_EQ(js[i + 1], 'x');
                bytes += static_cast<char>(std::stoi(js.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                bytes += js[i];
            }
        }
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(2 * b.width * 3));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < b.width; ++x) {
                const std::size_t i = 2 * (static_cast<std::size_t>(y) * b.width + x);
                EXPECT_EQ(bytes[i], saved.t(b.bx * 64 + x, y));
                EXPECT_EQ(static_cast<signed char>(bytes[i + 1]), saved.e(b.bx * 64 + x, y));
            }
    }
}

// Headless Chromium opens the page from the disk, once on the whole map and
// once at the deepest level through #Z/X/Y.
TEST(TilesTool, BrowserShowsTheMapAtTwoZooms) {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "chromium is not installed (Debian package chromium; scripts/deps.sh installs it)";
    Folder dir;
    const std::string input = TARVEN_EXAMPLES "/medium.map";   // 200 x 150
    ASSERT_EQ(tiles({"--quiet", input, dir / "web"}).code, 0);
    HxMap map(0, 0);
    ASSERT_TRUE(map.loadMap(input.c_str()));
    const HxTerrainSet terrains;
    const hxpic::Colours colours(terrains);
    std::map<hxpic::Pixel, int> mapColours;   // colour -> cells
    for (int y = 0; y < map.ys(); ++y)
        for (int x = 0; x < map.xs(); ++x) ++mapColours[colours.cell(map.t(x, y), map.e(x, y))];

    struct Shot {
        const char* name;
        const char* hash;
        bool outlines;
    };
    const Shot shots[] = {
        {"whole map", "", false},
        {"deepest level at cell 100, 75", "#5/100/75", true},
    };
    for (const Shot& s : shots) {
        SCOPED_TRACE(s.name);
        const std::string shot = dir / (std::string(s.outlines ? "deep" : "whole") + ".png");
        const std::string command =
            "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
            "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars "
            "--user-data-dir='" + dir.path + "/profile' --window-size=800,600 --virtual-time-budget=5000 "
            "--screenshot='" + shot + "' 'file://" + dir.path + "/web/index.html" + s.hash + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        // A folder to keep the screenshots in, for a look at them.
        if (const char* keep = std::getenv("TARVEN_KEEP_SCREENSHOTS"))
            std::system(("cp '" + shot + "' '" + keep + "/'").c_str());
        DecodedPng png;
        ASSERT_TRUE(readPng(shot, png));
        ASSERT_EQ(png.width, 800);
        std::map<hxpic::Pixel, int> seen;
        int black = 0, onMap = 0;
        for (hxpic::Pixel px : png.pixels) {
            if (px == hxpic::kBlack) ++black;
            if (mapColours.count(px)) {
                ++onMap;
                ++seen[px];
            }
        }
        const int all = png.width * png.height;
        if (s.outlines) {
            // Hexes fill the window, with outlines between them.
            EXPECT_GT(onMap, all / 2);
            EXPECT_GT(black, all / 50);
            EXPECT_GE(seen.size(), 4u);
        } else {
            // The whole map, 200 x 150 cells, in the middle of the window.
            EXPECT_GT(onMap, 200 * 150);
            EXPECT_LT(black, all / 100);
            EXPECT_GE(seen.size(), mapColours.size() / 2);
            EXPECT_TRUE(mapColours.count(png.at(400, 300))) << std::hex << png.at(400, 300);
            EXPECT_FALSE(mapColours.count(png.at(400, 20))) << "the map fits the window";
        }
    }
}

// The page's readout numbers a hex as the printed map does: its script,
// run in node, gives the model's hex number for each cell.
TEST(TilesTool, ReadoutHexNumberIsThePrintedOne) {
    if (std::system("command -v node >/dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
    Folder dir;
    struct Row {
        const char* name;
        int mapW, mapH, col, row;
    };
    const Row rows[] = {
        {"small map", 24, 16, 12, 7},
        {"three digits each", 200, 150, 12, 7},
        {"wide map, short one", 1000, 9, 999, 0},
        {"last cell", 200, 150, 199, 149},
    };
    for (const Row& r : rows) {
        const std::string page = tools::webPage(r.mapW, r.mapH);
        // The page's lines that make the number, and a call.
        std::string script;
        std::istringstream lines(page);
        for (std::string line; std::getline(lines, line);)
            if (line.find("var numberWidths") != std::string::npos || line.find("function padded") != std::string::npos ||
                line.find("function hexNumber") != std::string::npos)
                script += line + "\n";
        script += "console.log(hexNumber({ c: " + std::to_string(r.col) + ", r: " + std::to_string(r.row) + " }));\n";
        std::ofstream(dir / "n.js") << script;
        std::string printed;
        if (std::FILE* pipe = ::popen(("node '" + dir / "n.js" + "'").c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe)) printed += buffer;
            ::pclose(pipe);
        }
        EXPECT_EQ(printed, hexnum::number(r.col, r.row, r.mapW, r.mapH) + "\n") << r.name << "\n" << script;
    }
}

namespace {

// Every mode under a folder, links not followed.
std::vector<std::pair<std::string, mode_t>>* walked = nullptr;
int noteMode(const char* path, const struct stat* st, int, FTW*) {
    walked->emplace_back(path, st->st_mode);
    return 0;
}
std::vector<std::pair<std::string, mode_t>> modesUnder(const std::string& folder) {
    std::vector<std::pair<std::string, mode_t>> modes;
    walked = &modes;
    ::nftw(folder.c_str(), noteMode, 16, FTW_PHYS);
    walked = nullptr;
    return modes;
}

}  // namespace

// Files and folders get what the umask leaves, run after run: nothing may
// set the process umask while others create files.
TEST(TilesTool, EveryEntryHonoursTheUmask) {
    Folder dir;
    writeTestMap(dir / "t.map", 41, 30);
    for (mode_t mask : {mode_t(022), mode_t(027), mode_t(077)}) {
        const mode_t old = ::umask(mask);
        const std::string web = dir / ("web" + std::to_string(mask));
        for (int run = 0; run < 3; ++run) ASSERT_EQ(tiles({"--quiet", dir / "t.map", web}).code, 0);
        ::umask(old);
        int wrong = 0;
        const auto modes = modesUnder(web);
        ASSERT_GT(modes.size(), 20u);
        for (const auto& m : modes)
            if ((m.second & mask) != 0 && ++wrong < 5) ADD_FAILURE() << m.first << " has mode " << std::oct << m.second;
        EXPECT_EQ(wrong, 0) << "umask " << std::oct << mask;
    }
}

// Links and odd files planted in OUTDIR or in the library: nothing is
// written outside OUTDIR, and the planted entry is replaced, not followed.
TEST(TilesTool, PlantedLinksAreReplacedNotFollowed) {
    struct Row {
        const char* name;
        const char* plant;    // a shell command run in the test's folder
        const char* served;   // the entry of web/ that must now be ours
    };
    const Row rows[] = {
        {"page a link to a file elsewhere", "mkdir web && ln -s ../victim web/index.html", "index.html"},
        {"map data a link to a file elsewhere", "mkdir web && ln -s ../victim web/map.js", "map.js"},
        {"a tile a link to a file elsewhere", "mkdir -p web/tiles/0/0 && ln -s ../../../../victim web/tiles/0/0/0.png",
         "tiles/0/0/0.png"},
        {"cells a link to another folder", "mkdir web && ln -s ../elsewhere web/cells", "cells/0/0.js"},
        {"tiles a link to another folder", "mkdir web && ln -s ../elsewhere web/tiles", "tiles/0/0/0.png"},
        {"library folder a link to another folder", "mkdir web && ln -s ../elsewhere web/leaflet", "leaflet/leaflet.js"},
        {"a pipe among the library's images", "mkdir -p lib/images && cp /usr/share/javascript/leaflet/leaflet.* lib/ "
                                              "&& mkfifo lib/images/pipe.png",
         "leaflet/leaflet.css"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Folder dir;
        writeTestMap(dir / "t.map", 20, 10);
        writeText(dir / "victim", "keep me");
        ASSERT_EQ(::mkdir((dir / "elsewhere").c_str(), 0755), 0);
        ASSERT_EQ(std::system(("cd '" + dir.path + "' && " + r.plant).c_str()), 0);
        std::vector<std::string> args{"--quiet", dir / "t.map", dir / "web"};
        struct stat lib;
        if (::stat((dir / "lib").c_str(), &lib) == 0) args.insert(args.begin(), {"--leaflet", dir / "lib"});
        const TilesRun run = tiles(args);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(readText(dir / "victim"), "keep me");
        EXPECT_TRUE(modesUnder(dir / "elsewhere").size() == 1) << "files written into the linked folder";
        struct stat st;
        ASSERT_EQ(::lstat((dir / "web/" + r.served).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_FALSE(exists(dir / "web/leaflet/images/pipe.png"));
    }
}

// A run that fails or is ended leaves the old pyramid whole and serving,
// and no half-built folder once the next run is done.
TEST(TilesTool, InterruptedOrFailedRerunKeepsTheOldMap) {
    Folder dir;
    writeTestMap(dir / "old.map", 41, 30);
    ASSERT_EQ(tiles({"--quiet", dir / "old.map", dir / "web"}).code, 0);
    const std::string page = readText(dir / "web/index.html"), data = readText(dir / "web/map.js");
    const std::string tile = readText(dir / "web/tiles/3/2/1.png");
    ASSERT_NE(data.find("old.map"), std::string::npos);
    const std::vector<std::string> served{"cells", "index.html", "leaflet", "map.js", "tiles"};
    const auto webEntries = [&] {
        std::vector<std::string> names;
        for (const auto& m : modesUnder(dir / "web")) {
            const std::string rest = m.first.substr((dir / "web").size());
            if (rest.size() > 1 && rest.find('/', 1) == std::string::npos) names.push_back(rest.substr(1));
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto oldKept = [&](const char* how) {
        SCOPED_TRACE(how);
        EXPECT_EQ(readText(dir / "web/index.html"), page);
        EXPECT_EQ(readText(dir / "web/map.js"), data);
        EXPECT_EQ(readText(dir / "web/tiles/3/2/1.png"), tile);
    };

    // A full disk, here a file size limit, part way through.
    writeTestMap(dir / "new.map", 300, 200);
    const TilesRun full = withFileLimit(6000, [&] { return tiles({"--quiet", dir / "new.map", dir / "web"}); });
    EXPECT_EQ(full.code, 1);
    EXPECT_NE(full.err.find("cannot write '" + dir / "web/"), std::string::npos) << full.err;
    oldKept("disk full");
    EXPECT_EQ(webEntries(), served);

    // Ended while the tiles are drawn: a termination signal stops the
    // drawing and takes the hidden folder with it; SIGKILL leaves the folder
    // for the next run to clear.
    struct Ending {
        const char* name;
        int signal;
        bool leavesFolder;
    };
    const Ending endings[] = {
        {"Ctrl-C", SIGINT, false},
        {"SIGTERM", SIGTERM, false},
        {"SIGKILL", SIGKILL, true},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(TARVEN_TILES, TARVEN_TILES, "--quiet", TARVEN_EXAMPLES "/large.map", (dir / "web").c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Wait until it draws tiles in its folder.
        bool drawing = false;
        for (int i = 0; i < 600 && !drawing; ++i) {
            ::usleep(50000);
            for (const std::string& name : webEntries())
                if (name.compare(0, 14, ".tarven-tiles-") == 0 && exists(dir / "web/" + name + "/tiles/0"))
                    drawing = true;
        }
        ::kill(child, ending.signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(drawing);
        if (ending.signal == SIGKILL)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        else
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + ending.signal) << status;
        oldKept(ending.name);
        if (ending.leavesFolder) EXPECT_EQ(webEntries().size(), served.size() + 1);
        else EXPECT_EQ(webEntries(), served);
    }

    // The next run clears what the ended one left and serves the new map.
    ASSERT_EQ(tiles({"--quiet", dir / "new.map", dir / "web"}).code, 0);
    EXPECT_EQ(webEntries(), served);
    EXPECT_NE(readText(dir / "web/map.js").find("new.map"), std::string::npos);
}

// The page names the map as its file is named, in any script.
TEST(TilesTool, MapNamesReachThePageAsText) {
    struct Row {
        const char* name;
        std::string file;
        const char* written;   // in map.js
    };
    const Row rows[] = {
        {"UTF-8 letters and ideographs", "\xc3\x9c" "bersicht-\xe5\x9c\xb0\xe5\x9b\xb3.map",
         "name: \"\\u00dcbersicht-\\u5730\\u56f3.map\""},
        {"a character beyond the first plane", "\xf0\x9f\x97\xba.map", "name: \"\\ud83d\\uddfa.map\""},
        {"a byte that is no character", "a\xff" "b.map", "name: \"a\\ufffdb.map\""},
        {"markup and quotes", "<b>\"x\".map", "name: \"\\u003cb>\\u0022x\\u0022.map\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Folder dir;
        writeTestMap(dir / r.file, 3, 2);
        ASSERT_EQ(tiles({"--quiet", dir / r.file, dir / "web"}).code, 0);
        const std::string data = readText(dir / "web/map.js");
        EXPECT_NE(data.find(r.written), std::string::npos) << data.substr(0, 80);
    }
}
