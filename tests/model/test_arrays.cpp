#include <gtest/gtest.h>

#include "array1d.h"
#include "array2d.h"

namespace {

TEST(Array1dTest, NewElementsAreZeroAndResizeDropsOldOnes) {
    Array1d<int> a(4);
    ASSERT_EQ(a.s(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], 0);
    a[2] = 7;
    a.resize(6);
    ASSERT_EQ(a.s(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(a[i], 0) << i;
    a.resize(0);
    EXPECT_EQ(a.s(), 0);
    EXPECT_EQ(a.ptr(), nullptr);
}

TEST(Array1dTest, CopiesAreDeepAndSelfAssignmentKeepsElements) {
    Array1d<int> a(3);
    for (int i = 0; i < 3; ++i) a[i] = i + 1;
    Array1d<int> b(a);
    Array1d<int> c(10);
    c = a;
    a[0] = 99;
    EXPECT_EQ(b.s(), 3);
    EXPECT_EQ(c.s(), 3);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(c[0], 1);
    EXPECT_EQ(c[2], 3);

    Array1d<int>& alias = c;
    c = alias;
    EXPECT_EQ(c.s(), 3);
    EXPECT_EQ(c[2], 3);

    Array1d<int> empty;
    c = empty;
    EXPECT_EQ(c.s(), 0);
}

TEST(Array1dTest, ArraysOfArraysCopyEveryLevel) {
    Array1d<Array1d<char>> a(2);
    a[0].resize(2);
    a[1].resize(3);
    a[1][2] = 'x';
    Array1d<Array1d<char>> b;
    b = a;
    a[1][2] = 'y';
    ASSERT_EQ(b.s(), 2);
    EXPECT_EQ(b[0].s(), 2);
    EXPECT_EQ(b[1].s(), 3);
    EXPECT_EQ(b[1][2], 'x');
}

TEST(Array1dDeathTest, IndexOutsideTheArrayEndsTheProgram) {
    struct Case {
        int size;
        int index;
        const char* message;
    };
    const Case cases[] = {
        {10, 10, "Error in array limits: 10 is out of bounds \\(0-9 legal range\\)!\n"},
        {10, -1, "Error in array limits: -1 is out of bounds \\(0-9 legal range\\)!\n"},
        {0, 0, "Error in array limits: 0 is out of bounds \\(0--1 legal range\\)!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EXIT(
            {
                Array1d<int> a(c.size);
                const Array1d<int>& ca = a;
                std::printf("%d", ca[c.index]);
            },
            testing::ExitedWithCode(1), c.message);
    }
}

TEST(Array2dDeathTest, BothIndicesAreChecked) {
    EXPECT_EXIT(
        {
            Array2d<char> a(3, 2, '?');
            a.set(1, 2, 'x');
        },
        testing::ExitedWithCode(1), "2 is out of bounds \\(0-1 legal range\\)");
    EXPECT_EXIT(
        {
            Array2d<char> a(3, 2, '?');
            a.set(3, 0, 'x');
        },
        testing::ExitedWithCode(1), "3 is out of bounds \\(0-2 legal range\\)");
}

TEST(Array2dTest, ResizeKeepsCellsOnlyAtTheSameSize) {
    Array2d<char> a(3, 2, '?');
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y) EXPECT_EQ(a[x][y], '?');
    a.set(2, 1, '#');
    a.resize(3, 2, '.');
    EXPECT_EQ(a[2][1], '#');
    EXPECT_EQ(a[0][0], '?');

    a.resize(3, 3, '.');
    ASSERT_EQ(a.xs(), 3);
    ASSERT_EQ(a.ys(), 3);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) EXPECT_EQ(a[x][y], '.') << x << "," << y;

    a.resize(-2, 4, '.');
    EXPECT_EQ(a.xs(), 0);
    EXPECT_EQ(a.ys(), 4);
}

TEST(Array2dTest, CopiesAreDeep) {
    Array2d<char> a(2, 3, 'a');
    Array2d<char> b(a);
    Array2d<char> c(1, 1, 'c');
    c = a;
    a.set(1, 2, 'z');
    EXPECT_EQ(b.xs(), 2);
    EXPECT_EQ(b.ys(), 3);
    EXPECT_EQ(b[1][2], 'a');
    EXPECT_EQ(c.xs(), 2);
    EXPECT_EQ(c[1][2], 'a');
}

}  // namespace
