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
    TextBuffer buffer{};
    for (const Case& c : cases) {
        SplitName split = SplitDecoration(c.entry, buffer);
        EXPECT_STREQ(buffer.Data, c.base) << c.entry;
        EXPECT_EQ(split.BaseLength, std::string(c.base).size()) << c.entry;
        if (c.digits == nullptr)
            EXPECT_EQ(split.DecorationDigits, nullptr) << c.entry;
        else
            EXPECT_STREQ(split.DecorationDigits, c.digits) << c.entry;
    }
    std::string longName = "_" + std::string(1000, 'n') + "@8";
    SplitDecoration(longName.c_str(), buffer);
    EXPECT_EQ(std::string(buffer.Data), longName.substr(0, 1001));
    ReleaseText(buffer);
}

TEST(ParamCountFromDecoration, ReadsAtMostTwoDigitsOfBytes) {
    struct Case {
        const char* digits;
        int count;
    } cases[] = {{"8", 2},   {"16", 4},  {"12", 3}, {"6", 1}, {"0", 0},    {"3", 0},   {"100", 2},
                 {"99", 24}, {"4x", -1}, {"x", -1}, {"", -1}, {"4@8", -1}, {"48", 12}, {"1x9", -1}};
    for (const Case& c : cases) EXPECT_EQ(ParamCountFromDecoration(c.digits), c.count) << c.digits;
}
