#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "include_writer.h"
#include "param_list.h"

TEST(ParamCountFromDecoration, ReadsAtMostTwoDigitsOfBytes) {
    struct Case {
        const char* digits;
        int count;
    } cases[] = {{"8", 2},   {"16", 4},  {"12", 3}, {"6", 1}, {"0", 0},    {"3", 0},   {"100", 2},
                 {"99", 24}, {"4x", -1}, {"x", -1}, {"", -1}, {"4@8", -1}, {"48", 12}, {"1x9", -1}};
    for (const Case& c : cases) EXPECT_EQ(ParamCountFromDecoration(SpanOf(c.digits)), c.count) << c.digits;
}

TEST(ParamLists, HoldCountItemsWithTheLastCommaTurnedIntoTheLineEnd) {
    auto model = [](int count, const std::string& item) {
        std::string list;
        for (int i = 0; i < count; ++i) list += item;
        if (count > 0) list.pop_back();
        return list + "\r\n";
    };
    for (int count = 0; count <= LongestParamList; ++count) {
        const std::pair<ParamListBuilderFn, std::string> builders[] = {{BuildDwordList, ":DWORD,"},
                                                                       {BuildQwordList, ":QWORD,"}};
        for (const auto& [builder, item] : builders) {
            TextSpan list = builder(count);
            ASSERT_EQ(std::string(list.Data, list.Length), model(count, item));
            ASSERT_EQ(list.Data[list.Length], '\0') << "padded after the list";
        }
    }
}
