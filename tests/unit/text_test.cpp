#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text.h"
#include "text_buffer.h"

namespace {

// FormatTextList over NUL-terminated strings.
template <typename... Strings>
SIZE_T FormatText(char* destination, const char* templateText, Strings... arguments) {
    const TextSpan list[] = {SpanOf(arguments)..., TextSpan{"", 0}};
    return FormatTextList(destination, SpanOf(templateText), list, sizeof...(arguments));
}

}  // namespace

TEST(FormatText, FillsPlaceholdersInOrderAndReturnsTheLength) {
    char out[128];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(FormatText(out, "% equ <%A>\r\n\r\n", "LoadIcon", "LoadIcon"), 28u);
    EXPECT_EQ(std::string(out, 30), std::string("LoadIcon equ <LoadIconA>\r\n\r\n\0#", 30)) << "nothing past the NUL";
    EXPECT_EQ(FormatText(out, "%", ""), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(FormatText(out, "no placeholder", "unused"), 14u);
    EXPECT_STREQ(out, "no placeholder");
    // A '%' inside an argument is an ordinary character.
    EXPECT_EQ(FormatText(out, "[%|%]", "50%", "x"), 7u);
    EXPECT_STREQ(out, "[50%|x]");
    // A placeholder with no argument left adds nothing rather than reading
    // on, and the length made room for says the same.
    EXPECT_EQ(FormatText(out, "%-%", "a"), 2u);
    EXPECT_STREQ(out, "a-");
    const TextSpan one[] = {SpanOf("abc")};
    EXPECT_EQ(FormattedLength(SpanOf("%-%%"), one, 1), 4u);
    EXPECT_EQ(FormatTextList(out, SpanOf("%-%%"), one, 1), 4u);
    // Pieces append at the returned length.
    SIZE_T end = FormatText(out, "% PROTO %", "Foo", ":DWORD\r\n");
    end += FormatText(out + end, "% equ <%A>\r\n\r\n", "Fo", "Fo");
    EXPECT_EQ(std::string(out, end), "Foo PROTO :DWORD\r\nFo equ <FoA>\r\n\r\n");
}

TEST(CopyDirectoryPart, EndsAfterTheLastSeparator) {
    struct Case {
        const char* path;
        const char* directory;
    } cases[] = {
        {"C:\\libs\\user32.lib", "C:\\libs\\"},
        {"user32.lib", ""},
        {"libs/user32.lib", "libs/"},
        {"a/b\\c/*.lib", "a/b\\c/"},
        {"C:user32.lib", ""},
        {"/", "/"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char out[64];
        std::memset(out, 'x', sizeof out);
        CopyDirectoryPart(out, c.path);
        EXPECT_STREQ(out, c.directory) << c.path;
    }
}

TEST(TextBuffer, GrowsToHoldAnyTextAndKeepsWhatItHeld) {
    TextBuffer text{};
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        AppendFormatted(text, "%=%;", "key", "value");
        expected += "key=value;";
    }
    EXPECT_EQ(text.Length, expected.size());
    EXPECT_EQ(std::string(text.Data), expected);
    SetText(text, "short");
    EXPECT_STREQ(text.Data, "short");
    EXPECT_EQ(text.Length, 5u);
    ReleaseText(text);
    EXPECT_EQ(text.Data, nullptr);
}
