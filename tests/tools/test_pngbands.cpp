// Pictures drawn as palette indices, on any number of threads: every depth
// and band shape must decode to the colours drawn.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <png.h>
#include <unistd.h>

#include "pngbands.h"
#include "pngread.h"
#include "workqueue.h"

namespace {

// n distinct colours in palette order: transparent (index 0), then greys.
std::vector<hxpic::Pixel> paletteOf(int n) {
    std::vector<hxpic::Pixel> colours{0};
    for (int i = 1; i < n; ++i) colours.push_back(hxpic::kOpaque | static_cast<hxpic::Pixel>(i * 0x010101));
    return pngbands::paletteOrder(colours);
}

TEST(PngBands, IndicesDrawnDirectlyAtEveryDepthAndBandShape) {
    struct Case {
        const char* label;
        int colours, width, height, bandRows, threads, bitDepth;
    };
    const Case cases[] = {
        {"two colours, odd width, one row a band", 2, 37, 23, 1, 2, 1},
        {"three colours, two bits", 3, 13, 40, 7, 3, 2},
        {"sixteen colours, four bits, odd width", 16, 101, 30, 0, 2, 4},
        {"seventeen colours, eight bits, drawn in place", 17, 64, 50, 9, 2, 8},
        {"256 colours on one thread", 256, 300, 20, 4, 1, 8},
        {"more threads than bands", 5, 8, 3, 0, 8, 4},
    };
    char name[] = "/tmp/tarven-pngbands-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const std::string file = std::string(name) + "/p.png";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<hxpic::Pixel> palette = paletteOf(c.colours);
        const auto indexAt = [&](int x, int y) { return (x * 3 + y * 5 + x * y) % c.colours; };
        pngbands::Settings settings;
        settings.colours = palette;
        settings.bandRows = c.bandRows;
        settings.threads = c.threads;
        settings.drawIndices = [&](int top, int rows, std::uint8_t* indices, std::ptrdiff_t stride) {
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < c.width; ++x) {
                    // Index 0 is never written: the band must arrive cleared.
                    const int i = indexAt(x, top + y);
                    if (i != 0) indices[y * stride + x] = static_cast<std::uint8_t>(i);
                }
        };
        std::vector<double> shares;
        settings.progress = [&](double share) { shares.push_back(share); };
        const pngbands::DrawBand unused = [](int, int, hxpic::Pixel*) { FAIL() << "pixels drawn"; };
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::string error;
        EXPECT_EQ(pngbands::write(f, c.width, c.height, settings, unused, error), pngbands::Result::Written) << error;
        std::fclose(f);
        DecodedPng png;
        ASSERT_TRUE(readPng(file, png));
        EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_PALETTE);
        EXPECT_EQ(png.bitDepth, c.bitDepth);
        ASSERT_EQ(png.width, c.width);
        ASSERT_EQ(png.height, c.height);
        int wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) wrong += png.at(x, y) != palette[indexAt(x, y)];
        EXPECT_EQ(wrong, 0);
        ASSERT_FALSE(shares.empty());
        EXPECT_EQ(shares.back(), 1.0);
        for (std::size_t k = 1; k < shares.size(); ++k) EXPECT_LT(shares[k - 1], shares[k]);
    }
    ::unlink(file.c_str());
    ::rmdir(name);
}

// An exception from drawing stops every thread and reaches the caller.
TEST(PngBands, ExceptionFromDrawingReachesTheCaller) {
    pngbands::Settings settings;
    settings.colours = paletteOf(4);
    settings.bandRows = 2;
    settings.threads = 2;
    settings.drawIndices = [](int top, int, std::uint8_t*, std::ptrdiff_t) {
        if (top >= 10) throw std::runtime_error("drawing failed");
    };
    const pngbands::DrawBand unused = [](int, int, hxpic::Pixel*) {};
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::string error;
    EXPECT_THROW(pngbands::write(f, 20, 40, settings, unused, error), std::runtime_error);
    std::fclose(f);
}

}  // namespace

// The shared threads: every item once, runner numbers that no two runners
// of a job share, jobs handed out from inside jobs (as a tile's picture is
// inside the pyramid's job), and an exception that stops the handing out.
TEST(WorkQueue, ItemsOnceNestedJobsAndExceptions) {
    struct Case {
        const char* label;
        long long items;
        int helpers;
        bool nested;
    };
    const Case cases[] = {
        {"no items", 0, -1, false},
        {"one item, on the calling thread", 1, -1, false},
        {"many items, every thread", 5000, -1, false},
        {"many items, the calling thread alone", 300, 0, false},
        {"jobs inside every item of a job", 64, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::atomic<int>> done(static_cast<std::size_t>(c.items));
        std::vector<std::atomic<int>> busy(static_cast<std::size_t>(work::threadCount() + 1));
        std::atomic<int> nestedDone{0}, clash{0}, badRunner{0};
        work::run(c.items, c.helpers, [&](long long item, int runner) {
            if (runner < 0 || runner > work::threadCount() || (c.helpers == 0 && runner != 0)) {
                ++badRunner;
                return;
            }
            if (busy[static_cast<std::size_t>(runner)]++ != 0) ++clash;
            ++done[static_cast<std::size_t>(item)];
            if (c.nested) work::run(10, -1, [&](long long, int) { ++nestedDone; });
            --busy[static_cast<std::size_t>(runner)];
        });
        int wrong = 0;
        for (const auto& d : done) wrong += d != 1;
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(clash, 0);
        EXPECT_EQ(badRunner, 0);
        EXPECT_EQ(nestedDone, c.nested ? 10 * c.items : 0);
    }
    std::atomic<bool> thrown{false};
    std::atomic<long long> after{0};
    EXPECT_THROW(work::run(20000, -1,
                           [&](long long item, int) {
                               if (thrown) ++after;
                               if (item == 10) {
                                   thrown = true;
                                   throw std::runtime_error("drawing failed");
                               }
                               ::usleep(20);
                           }),
                 std::runtime_error);
    EXPECT_LT(after, 5000) << "items kept being handed out after the exception";
}
