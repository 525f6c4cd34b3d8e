#include <gtest/gtest.h>

#include <string>

#include "include_writer.h"

TEST(SplitDecoration, CutsAtTheFirstAtSignAfterTheFirstCharacter) {
    struct Case {
        const char* entry;
        const char* base;
        const char* digits;  // null: not decorated
    } cases[] = {
        {"_LoadIconA@8", "_LoadIconA", "8"},
        {"_Foo@4@8", "_Foo", "4@8"},
        {"_Foo@", "_Foo", ""},
        {"_Bar", "_Bar", nullptr},
        {"@Fast@8", "@Fast", "8"},
        {"@", "@", nullptr},
        {"", "", nullptr},
        {"A@1", "A", "1"},
    };
    auto text = [](TextSpan span) { return std::string(span.Data, span.Length); };
    for (const Case& c : cases) {
        SplitName split = SplitDecoration(SpanOf(c.entry));
        EXPECT_EQ(text(split.BaseName), c.base) << c.entry;
        EXPECT_EQ(split.Decorated, c.digits != nullptr) << c.entry;
        if (c.digits != nullptr) EXPECT_EQ(text(split.DecorationDigits), c.digits) << c.entry;
    }
    std::string longName = "_" + std::string(1000, 'n') + "@8";
    EXPECT_EQ(text(SplitDecoration(SpanOf(longName.c_str())).BaseName), longName.substr(0, 1001));
}

TEST(ParamCountFromDecoration, ReadsAtMostTwoDigitsOfBytes) {
    struct Case {
        const char* digits;
        int count;
    } cases[] = {{"8", 2},   {"16", 4},  {"12", 3}, {"6", 1}, {"0", 0},    {"3", 0},   {"100", 2},
                 {"99", 24}, {"4x", -1}, {"x", -1}, {"", -1}, {"4@8", -1}, {"48", 12}, {"1x9", -1}};
    for (const Case& c : cases) EXPECT_EQ(ParamCountFromDecoration(SpanOf(c.digits)), c.count) << c.digits;
}
