#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "banner_switches.h"
#include "settings.h"
#include "run.h"

namespace {

std::vector<std::string> Tokens(const char* line) {
    ArgumentTable table;
    int count = ParseCommandLineText(line, table);
    std::vector<std::string> tokens(table.Slots, table.Slots + count);
    FreeBlock(table.Slots);
    FreeBlock(table.Text);
    return tokens;
}

using V = std::vector<std::string>;

}  // namespace

TEST(ParseCommandLine, SplitsAtSpacesAndTabsOutsideQuotes) {
    EXPECT_EQ(Tokens(""), V{});
    EXPECT_EQ(Tokens(" \t "), V{});
    EXPECT_EQ(Tokens("carvex user32.lib"), (V{"carvex", "user32.lib"}));
    EXPECT_EQ(Tokens("  carvex\t\t user32.lib  -s  "), (V{"carvex", "user32.lib", "-s"}));
    EXPECT_EQ(Tokens("carvex \"my libs\\user 32.lib\" -fd"), (V{"carvex", "my libs\\user 32.lib", "-fd"}));
    // Quotes may open and close inside a token; the spaces between them stay.
    EXPECT_EQ(Tokens("carvex a\" b \"c"), (V{"carvex", "a b c"}));
    EXPECT_EQ(Tokens("carvex \"\" -s"), (V{"carvex", "", "-s"}));
    EXPECT_EQ(Tokens("carvex \"\"\"\""), (V{"carvex", ""}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(Tokens("carvex \"x y.lib -s"), (V{"carvex", "x y.lib -s"}));
    EXPECT_EQ(Tokens("carvex x.lib \"-s"), (V{"carvex", "x.lib", "-s"}));
    // A backslash has no special meaning.
    EXPECT_EQ(Tokens("carvex a\\\"b c\\\" d"), (V{"carvex", "a\\b c\\", "d"}));
}

TEST(ParseCommandLine, HoldsAnyNumberAndLengthOfTokens) {
    std::string line = "carvex";
    for (int i = 0; i < 500; ++i) line += " token" + std::to_string(i);
    std::vector<std::string> tokens = Tokens(line.c_str());
    ASSERT_EQ(tokens.size(), 501u);
    EXPECT_EQ(tokens[500], "token499");
    std::string longName(5000, 'n');
    EXPECT_EQ(Tokens(("carvex \"" + longName + "\"").c_str()), (V{"carvex", longName}));
}

namespace {

bool Accepted(const std::string& token) {
    const char* tokens[] = {"carvex", "x.lib", token.c_str()};
    return ChooseSettings(3, tokens) != nullptr;
}

}  // namespace

// The banner and the switch table name the same switches: a token of up to
// four characters is taken exactly when the banner lists it, a longer one
// exactly when it begins with a four-character switch. What each switch
// writes is compared byte for byte by the end-to-end cases.
TEST(ChooseSettings, TakesExactlyTheSwitchesTheBannerLists) {
    std::vector<std::string> listed = BannerSwitches(UsageBanner);
    ASSERT_FALSE(listed.empty());
    std::set<std::string> expected(listed.begin(), listed.end());
    const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::vector<std::string> tokens = {"-"};
    for (size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i].size() < 4)
            for (char c : alphabet) tokens.push_back(tokens[i] + c);
    for (const std::string& token : tokens) ASSERT_EQ(Accepted(token), expected.count(token) == 1) << token;
    for (const std::string& listedSwitch : listed)
        EXPECT_EQ(Accepted(listedSwitch + "x"), listedSwitch.size() == 4) << listedSwitch;
    // Case matters, and a switch must begin with its '-'.
    for (const char* token : {"-S", "-FD", "-P64", "s", "fd", "p64"}) EXPECT_FALSE(Accepted(token)) << token;
}

TEST(ChooseSettings, OnlyTwoOrThreeTokensMakeACall) {
    const char* tokens[] = {"carvex", "x.lib", "-s", "-fd"};
    EXPECT_NE(ChooseSettings(2, tokens), nullptr);
    EXPECT_NE(ChooseSettings(3, tokens), nullptr);
    for (int count : {0, 1, 4}) EXPECT_EQ(ChooseSettings(count, tokens), nullptr) << count;
}
