// tarven-render --cells reads only the rows it draws when the file's rows
// all have one length; the picture and the messages must be those of a
// whole load, which a file of another layout still gets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "hxmap.h"
#include "tools.h"

namespace {

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct RenderRun {
    int code;
    std::string out, err, picture;
};

TEST(RenderRegion, RowsReadWhereTheyLieGiveTheWholeLoadsPicture) {
    char name[] = "/tmp/tarven-region-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const std::string dir = name;
    const std::string map = dir + "/m.map", png = dir + "/m.png";

    // 41 x 30 cells, an odd width, elevations 0..9 so that no row warns.
    HxMap source(41, 30);
    const char terrains[] = {'"', '`', '%', ' ', '#', '=', '/', '@', '~', '^', '?', 'x'};
    for (int y = 0; y < source.ys(); ++y)
        for (int x = 0; x < source.xs(); ++x) {
            source.st(x, y, terrains[(x * 7 + y * 3) % 12]);
            source.se(x, y, static_cast<char>((x + 2 * y) % 10));
        }
    testing::internal::CaptureStdout();
    ASSERT_TRUE(source.saveMap(map.c_str()));
    testing::internal::GetCapturedStdout();
    const std::string rowsOfOneLength = readBytes(map);
    // The same map with a blank line between two rows: a whole load reads
    // it the same, but rows can no longer be found by their offset.
    std::string otherLayout = rowsOfOneLength;
    otherLayout.insert(otherLayout.find('\n', otherLayout.find('\n') + 1) + 1, "\n");

    struct Case {
        const char* label;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"odd first column, zoom 8", {"--cells", "3,5,10,8"}},
        {"even first column, zoom 16 labels", {"--zoom", "16", "--cells", "4,0,7,2"}},
        {"last row, whole width, dots", {"--zoom", "3", "--cells", "0,29,41,1"}},
        {"past the right and bottom edges", {"--cells", "36,25,20,20"}},
        {"every row, one column", {"--cells", "40,0,1,30"}},
        {"whole map", {"--zoom", "2"}},
        {"hex numbers count from the map's corner", {"--zoom", "16", "--numbers", "--cells", "5,3,6,4"}},
        {"legend and background", {"--legend", "--background", "white", "--cells", "3,5,10,8"}},
        {"background, indexed", {"--background", "#102030", "--zoom", "9", "--cells", "1,2,7,5"}},
        {"outside the map", {"--cells", "50,3,2,2"}},
    };
    const auto render = [&](const std::string& content, std::vector<std::string> args) {
        writeBytes(map, content);
        ::unlink(png.c_str());
        args.push_back(map);
        args.push_back(png);
        std::ostringstream out, err;
        testing::internal::CaptureStdout();
        const int code = tools::runRender(args, out, err);
        const std::string printed = testing::internal::GetCapturedStdout();
        return RenderRun{code, printed + out.str(), err.str(), readBytes(png)};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const RenderRun part = render(rowsOfOneLength, c.args);
        const RenderRun whole = render(otherLayout, c.args);
        EXPECT_EQ(part.code, whole.code);
        EXPECT_EQ(part.out, whole.out);
        EXPECT_EQ(part.err, whole.err);
        EXPECT_EQ(part.picture.size(), whole.picture.size());
        EXPECT_TRUE(part.picture == whole.picture);
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
