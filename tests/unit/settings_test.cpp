#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "include_writer.h"
#include "settings.h"

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

struct SwitchCase {
    const char* token;
    OutputMode mode;
    const char* lineTemplate;
    const char* varargTemplate;
    ParamListBuilderFn builder;
    char letter;
    int keepFirstChar;
};

}  // namespace

TEST(ChooseSettings, EverySwitchSetsItsRow) {
    const char* proto = "% PROTO %";
    const char* vararg = "% PROTO C :VARARG\r\n";
    const char* vararg64 = "% PROTO :VARARG\r\n";
    const char* direct = "EXTRNDEF '__imp_%',%\r\n";
    const char* indirect = "EXTERNDEF '%',%\r\n";
    const SwitchCase cases[] = {
        {nullptr, OutputMode::Prototypes, proto, vararg, BuildDwordList, 'A', 0},
        {"-s", OutputMode::StdcallPrototypes, "% PROTO STDCALL %", vararg, BuildDwordList, 'A', 0},
        {"-p64", OutputMode::Prototypes, proto, vararg64, BuildQwordList, 'A', 0},
        {"-l64", OutputMode::Prototypes, proto, vararg64, BuildQwordList, 'A', 1},
        {"-fd", OutputMode::FasmBothCharsets, direct, vararg, BuildDwordList, 'A', 0},
        {"-fi", OutputMode::FasmBothCharsets, indirect, vararg, BuildDwordList, 'A', 0},
        {"-lz", OutputMode::Lzasm, "PROCDESC % %", vararg, BuildDwordList, 'A', 0},
        {"-so", OutputMode::Solasm, "extern % alias %\r\n", vararg, BuildDwordList, 'A', 0},
        {"-fda", OutputMode::FasmOneCharset, direct, vararg, BuildDwordList, 'A', 0},
        {"-fdu", OutputMode::FasmOneCharset, direct, vararg, BuildDwordList, 'W', 0},
        {"-fia", OutputMode::FasmOneCharset, indirect, vararg, BuildDwordList, 'A', 0},
        {"-fiu", OutputMode::FasmOneCharset, indirect, vararg, BuildDwordList, 'W', 0},
        // Four-character switches match every token that begins with them.
        {"-fdux", OutputMode::FasmOneCharset, direct, vararg, BuildDwordList, 'W', 0},
        {"-l64abc", OutputMode::Prototypes, proto, vararg64, BuildQwordList, 'A', 1},
        {"-p64x", OutputMode::Prototypes, proto, vararg64, BuildQwordList, 'A', 0},
    };
    for (const SwitchCase& c : cases) {
        const char* tokens[] = {"carvex", "x.lib", c.token};
        ASSERT_TRUE(ChooseSettings(c.token == nullptr ? 2 : 3, tokens)) << c.token;
        std::string name = c.token == nullptr ? "none" : c.token;
        EXPECT_EQ(Settings.Mode, c.mode) << name;
        EXPECT_STREQ(Settings.LineTemplate, c.lineTemplate) << name;
        EXPECT_STREQ(Settings.VarargTemplate, c.varargTemplate) << name;
        EXPECT_EQ(Settings.ParamListBuilder, c.builder) << name;
        EXPECT_EQ(Settings.PreferredLetter, c.letter) << name;
        EXPECT_EQ(OtherLetter(Settings.PreferredLetter), c.letter == 'A' ? 'W' : 'A') << name;
        EXPECT_EQ(Settings.KeepFirstChar, c.keepFirstChar) << name;
    }
}

TEST(ChooseSettings, WrongCallsAskForTheBanner) {
    const char* badSwitches[] = {"-S", "-FD", "-fdx", "-sx", "", "-", "-p6", "-f", "s", "-lz4"};
    for (const char* token : badSwitches) {
        const char* tokens[] = {"carvex", "x.lib", token};
        EXPECT_FALSE(ChooseSettings(3, tokens)) << token;
    }
    const char* four[] = {"carvex", "x.lib", "-s", "-fd"};
    EXPECT_FALSE(ChooseSettings(4, four));
    EXPECT_FALSE(ChooseSettings(1, four));
    EXPECT_FALSE(ChooseSettings(0, four));
    const char* before[] = {"carvex", "-s", "x.lib"};
    EXPECT_FALSE(ChooseSettings(3, before));
}

TEST(UsageBanner, HasEighteenLinesEachEndingInCrLf) {
    std::string banner = UsageBanner;
    size_t lines = 0;
    for (size_t at = banner.find("\r\n"); at != std::string::npos; at = banner.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 18u);
    EXPECT_EQ(banner.substr(banner.size() - 2), "\r\n");
    EXPECT_EQ(banner.find('\n'), banner.find("\r\n") + 1);
    EXPECT_NE(banner.find("\r\nVersion 2.4.3\r\n"), std::string::npos);
}
