#include <gtest/gtest.h>

#include "dimensions.h"

TEST(Dimensions, ReadsTheTwoFormsAsFormattedScansDo) {
    struct Row { const char* text; DimensionsResult result; int w; int h; };
    const Row rows[] = {
        {"500x200", DimensionsResult::Ok, 500, 200},
        {"500,200", DimensionsResult::Ok, 500, 200},
        {" 500x 200", DimensionsResult::Ok, 500, 200},
        {"\t500,\n200", DimensionsResult::Ok, 500, 200},
        {"500x200x7", DimensionsResult::Ok, 500, 200},
        {"500,200 trailing words", DimensionsResult::Ok, 500, 200},
        {"+5x+6", DimensionsResult::Ok, 5, 6},
        {"1x1", DimensionsResult::Ok, 1, 1},
        {"1000x1000", DimensionsResult::Ok, 1000, 1000},
        {"0012x0034", DimensionsResult::Ok, 12, 34},
        {"500 x200", DimensionsResult::Unreadable, 0, 0},
        {"500 ,200", DimensionsResult::Unreadable, 0, 0},
        {"", DimensionsResult::Unreadable, 0, 0},
        {"   ", DimensionsResult::Unreadable, 0, 0},
        {"500", DimensionsResult::Unreadable, 0, 0},
        {"500x", DimensionsResult::Unreadable, 0, 0},
        {"500X200", DimensionsResult::Unreadable, 0, 0},
        {"x200", DimensionsResult::Unreadable, 0, 0},
        {"- 5x5", DimensionsResult::Unreadable, 0, 0},
        {"0x100", DimensionsResult::OutOfRange, 0, 0},
        {"1001x5", DimensionsResult::OutOfRange, 0, 0},
        {"5x1001", DimensionsResult::OutOfRange, 0, 0},
        {"-3x4", DimensionsResult::OutOfRange, 0, 0},
        {"99999999999x1", DimensionsResult::OutOfRange, 0, 0},
        {"1,99999999999999999999999999", DimensionsResult::OutOfRange, 0, 0},
        {"-2147483649x5", DimensionsResult::OutOfRange, 0, 0},
    };
    for (const Row& r : rows) {
        int w = 0, h = 0;
        EXPECT_EQ(parseDimensions(r.text, w, h), r.result) << '"' << r.text << '"';
        if (r.result == DimensionsResult::Ok) {
            EXPECT_EQ(w, r.w) << r.text;
            EXPECT_EQ(h, r.h) << r.text;
        }
    }
}
