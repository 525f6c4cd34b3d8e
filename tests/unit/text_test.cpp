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
    EXPECT_EQ(FormatText(out, "% equ <%A>\r\n\r\n", "LoadIcon", "LoadIcon"), 28u);
    EXPECT_STREQ(out, "LoadIcon equ <LoadIconA>\r\n\r\n");
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
}

TEST(FormatText, PiecesAppendAtTheReturnedLength) {
    char out[64];
    SIZE_T end = FormatText(out, "% PROTO %", "Foo", ":DWORD\r\n");
    end += FormatText(out + end, "% equ <%A>\r\n\r\n", "Fo", "Fo");
    EXPECT_EQ(std::string(out, end), "Foo PROTO :DWORD\r\nFo equ <FoA>\r\n\r\n");
    const TextSpan args[] = {SpanOf("Foo"), SpanOf(":DWORD\r\n")};
    EXPECT_EQ(FormattedLength(SpanOf("% PROTO %"), args, 2), 18u);
}

TEST(SameNonEmptyText, HoldsEqualBytesOfEqualLengthButNeverTwoEmptyTexts) {
    // Padded, as every text the word paths read is.
    static constexpr PaddedText abc("abc"), abc2("abc"), abd("abd");
    static constexpr PaddedText ab("ab");
    static constexpr PaddedText empty("");
    EXPECT_TRUE(SameNonEmptyText(abc.Span(), abc2.Span()));
    EXPECT_FALSE(SameNonEmptyText(abc.Span(), abd.Span()));
    EXPECT_FALSE(SameNonEmptyText(ab.Span(), abc.Span()));
    EXPECT_FALSE(SameNonEmptyText(TextSpan{abc.Bytes, 2}, abc.Span()));
    EXPECT_TRUE(SameNonEmptyText(TextSpan{abc.Bytes, 2}, TextSpan{abd.Bytes, 2}));
    EXPECT_FALSE(SameNonEmptyText(empty.Span(), NoText.Span()));
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

TEST(StrLen, MatchesAPlainLoopAtEveryLengthAndAlignment) {
    alignas(16) char block[64];
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; length <= 9; ++length) {
            std::memset(block, 'a', sizeof block);
            block[offset + length] = '\0';
            EXPECT_EQ(StrLen(block + offset), length) << "offset " << offset;
        }
    }
    // Bytes of 0x80 and above are not mistaken for the terminator.
    const char high[] = "\x80\xff\x81\x7f\x01";
    EXPECT_EQ(StrLen(high), 5u);
}

TEST(StrCopy, CopiesWithTheTerminator) {
    char out[32] = "abcdefg";
    EXPECT_EQ(StrCopy(out, "hello"), 5u);
    EXPECT_EQ(std::string(out, 7), std::string("hello\0g", 7));
    EXPECT_EQ(StrCopy(out, ""), 0u);
    EXPECT_EQ(out[0], '\0');
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
