#include <gtest/gtest.h>

#include <string>

#include "include_writer.h"

TEST(ParamCountFromDecoration, ReadsAtMostTwoDigitsOfBytes) {
    struct Case {
        const char* digits;
        int count;
    } cases[] = {{"8", 2},   {"16", 4},  {"12", 3}, {"6", 1}, {"0", 0},    {"3", 0},   {"100", 2},
                 {"99", 24}, {"4x", -1}, {"x", -1}, {"", -1}, {"4@8", -1}, {"48", 12}, {"1x9", -1}};
    for (const Case& c : cases) EXPECT_EQ(ParamCountFromDecoration(SpanOf(c.digits)), c.count) << c.digits;
}
