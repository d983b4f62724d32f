#include <gtest/gtest.h>

#include <array>

#include "hxmap.h"

namespace {

std::array<int, 4> extent(const HxMap& m) {
    std::array<int, 4> r{};
    m.usedExtent(r[0], r[1], r[2], r[3]);
    return r;
}

const std::array<int, 4> kNothingUsed{-1, -1, -1, -1};

TEST(HxMapTest, FreshMapAndReadsOutsideTheGrid) {
    HxMap m(3, 2);
    EXPECT_EQ(m.xs(), 3);
    EXPECT_EQ(m.ys(), 2);
    EXPECT_TRUE(m.name.empty());
    EXPECT_EQ(m.t(2, 1), '?');
    EXPECT_EQ(m.e(2, 1), 0);
    EXPECT_EQ(extent(m), kNothingUsed);

    const int outside[][2] = {{3, 0}, {0, 2}, {-1, 0}, {0, -1}, {3, 2}, {-2147483647 - 1, 0}};
    for (const auto& p : outside) {
        EXPECT_FALSE(m.valid(p[0], p[1]));
        EXPECT_EQ(m.t(p[0], p[1]), 0) << p[0] << "," << p[1];
        EXPECT_EQ(m.e(p[0], p[1]), 0) << p[0] << "," << p[1];
    }
}

TEST(HxMapTest, WritesWidenTheUsedExtent) {
    HxMap m(10, 10);
    m.st(5, 2, '#');
    EXPECT_EQ(extent(m), (std::array<int, 4>{5, 2, 5, 2}));
    m.se(1, 7, 4);
    EXPECT_EQ(extent(m), (std::array<int, 4>{1, 2, 5, 7}));
    EXPECT_EQ(m.t(5, 2), '#');
    EXPECT_EQ(m.e(1, 7), 4);

    // Dropped writes change nothing at all.
    m.st(10, 0, '~');
    m.se(0, 10, 3);
    m.st(-1, 5, '~');
    EXPECT_EQ(extent(m), (std::array<int, 4>{1, 2, 5, 7}));

    // Inside the rectangle nothing moves, also for an unchanged value.
    m.st(3, 3, '?');
    EXPECT_EQ(extent(m), (std::array<int, 4>{1, 2, 5, 7}));
    m.se(9, 0, 0);
    EXPECT_EQ(extent(m), (std::array<int, 4>{1, 0, 9, 7}));

    m.clearXY();
    EXPECT_EQ(extent(m), kNothingUsed);
    m.st(0, 9, 'x');
    EXPECT_EQ(extent(m), (std::array<int, 4>{0, 9, 0, 9}));
}

TEST(HxMapTest, CellsKeepSignedValues) {
    HxMap m(2, 2);
    m.se(0, 0, -5);
    m.st(1, 1, static_cast<char>(200));
    EXPECT_EQ(static_cast<int>(m.e(0, 0)), -5);
    // Elevation bytes 128..255 are negative on every platform.
    m.se(1, 0, static_cast<char>(200));
    EXPECT_EQ(static_cast<int>(m.e(1, 0)), 200 - 256);
    // A terrain code is a byte, whatever the signedness of char.
    EXPECT_EQ(static_cast<unsigned char>(m.t(1, 1)), 200);
}

TEST(HxMapTest, ResizeKeepsCellsAtTheSameSizeAndBlanksOtherwise) {
    struct Case {
        int x, y;
        bool keeps;
    };
    const Case cases[] = {{10, 10, true}, {11, 10, false}, {10, 9, false}, {4, 12, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " x " << c.y);
        HxMap m(10, 10);
        m.st(3, 3, '#');
        m.se(3, 3, 7);
        m.resizeGrid(c.x, c.y);
        EXPECT_EQ(m.xs(), c.x);
        EXPECT_EQ(m.ys(), c.y);
        EXPECT_EQ(extent(m), kNothingUsed);
        for (int x = 0; x < c.x; ++x) {
            for (int y = 0; y < c.y; ++y) {
                const bool kept = c.keeps && x == 3 && y == 3;
                ASSERT_EQ(m.t(x, y), kept ? '#' : '?') << x << "," << y;
                ASSERT_EQ(m.e(x, y), kept ? 7 : 0) << x << "," << y;
            }
        }
    }
}

TEST(HxMapTest, NegativeAndZeroSizesGiveAGridWithoutCells) {
    const int sizes[][2] = {{-3, 4}, {4, -3}, {-1, -1}, {0, 5}, {5, 0}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s[0] << " x " << s[1]);
        HxMap m(s[0], s[1]);
        EXPECT_EQ(m.xs(), s[0] < 0 ? 0 : s[0]);
        EXPECT_EQ(m.ys(), s[1] < 0 ? 0 : s[1]);
        EXPECT_FALSE(m.valid(0, 0));
        m.st(0, 0, '#');
        EXPECT_EQ(m.t(0, 0), 0);
        EXPECT_EQ(extent(m), kNothingUsed);

        HxMap r(2, 2);
        r.resizeGrid(s[0], s[1]);
        EXPECT_EQ(r.xs(), s[0] < 0 ? 0 : s[0]);
        EXPECT_EQ(r.ys(), s[1] < 0 ? 0 : s[1]);
        r.resizeGrid(3, 3);
        EXPECT_EQ(r.t(2, 2), '?');
    }
}

TEST(HxMapTest, FileCharacterTranslation) {
    const char pairs[][2] = {{'\'', '`'}, {'.', ' '}, {'_', ' '}, {'`', '`'}, {'#', '#'}, {'?', '?'}};
    for (const auto& p : pairs) EXPECT_EQ(HxMap::read2real(p[0]), p[1]) << p[0];
    EXPECT_EQ(HxMap::real2read(' '), '.');
    EXPECT_EQ(HxMap::real2read('`'), '`');
    EXPECT_EQ(HxMap::real2read('.'), '.');
    EXPECT_EQ(HxMap::real2read('~'), '~');
}

}  // namespace
