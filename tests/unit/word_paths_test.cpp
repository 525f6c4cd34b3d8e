// The eight-bytes-at-a-time paths of the string routines, the symbol
// order, the decoration split and the reader's scan: each checked with the
// text followed by exactly the slack that the product gives
// it before a page that is unmapped, so that a read past the slack faults
// the test. The slack holds bytes that would change a result if they were
// taken for the text's own.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "include_writer.h"
#include "library_reader.h"
#include "symbol_sort.h"
#include "run.h"
#include "symbol_order.h"
#include "test_archives.h"
#include "text.h"
#include "word_access.h"

namespace {

// Two pages, the second one inaccessible: Place() puts a text so that the
// slack after it ends on the first page's last byte.
class PageEnd {
public:
    PageEnd() {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* block = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(block, MAP_FAILED);
        base_ = static_cast<char*>(block);
        EXPECT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
    }
    ~PageEnd() { munmap(base_, 2 * page_); }
    PageEnd(const PageEnd&) = delete;
    PageEnd& operator=(const PageEnd&) = delete;

    // The text and its NUL, then the rest of the slack (a name in the image).
    char* Place(const std::string& text, size_t slot = 0) {
        char* at = const_cast<char*>(Span(text, slot).Data);
        at[text.size()] = '\0';
        return at;
    }
    // The text, then the slack (a template or an argument).
    TextSpan Span(const std::string& text, size_t slot = 0) {
        // Slot 0 ends at the page's end, slot 1 just before slot 0's room.
        char* end = base_ + page_ - slot * 256;
        char* at = end - ReadSlack - text.size();
        std::memcpy(at, text.data(), text.size());
        std::memcpy(at + text.size(), JunkSlack.data(), ReadSlack);
        return TextSpan{at, text.size()};
    }
    // A library image as the product holds it: the bytes, then its zero
    // padding, which ends on the page's last byte.
    BYTE* Tail(const std::string& bytes) {
        BYTE* at = reinterpret_cast<BYTE*>(base_ + page_ - LibraryImagePadding - bytes.size());
        std::memcpy(at, bytes.data(), bytes.size());
        std::memset(at + bytes.size(), 0, LibraryImagePadding);
        return at;
    }

private:
    size_t page_ = 0;
    char* base_ = nullptr;
};

// Texts that stress the word paths: every length up to 20, a difference at
// every position, bytes of 0x80 and above, and prefixes of each other.
std::vector<std::string> TrickyTexts() {
    std::vector<std::string> texts = {"", "_", "_Foo", "_FooA", "_Foo@8", "_FooA@8", "\x80", "\xff\x01", "A\x80"};
    std::string base = "_GetWindowTextLengthW@4";
    for (size_t n = 0; n <= 20; ++n) texts.push_back(base.substr(0, n));
    for (size_t at = 0; at < 20; ++at) {
        for (char c : {'\x01', 'B', '\x7f', '\x80', '\xfe'}) {
            std::string t = base.substr(0, 20);
            t[at] = c;
            texts.push_back(t);
        }
    }
    return texts;
}

}  // namespace

TEST(WordPaths, SortAtPageEndsGivesTheReferenceOrder) {
    // Every name ends on the last byte before an unmapped page.
    std::vector<std::string> texts = TrickyTexts();
    for (const OrderedPair& pair : OrderedPairs) texts.insert(texts.end(), {pair.less, pair.greater});
    std::shuffle(texts.begin(), texts.end(), std::mt19937(8));
    std::vector<std::unique_ptr<PageEnd>> pages;
    std::vector<TextSpan> names;
    for (const std::string& text : texts) {
        pages.push_back(std::make_unique<PageEnd>());
        names.push_back(TextSpan{pages.back()->Place(text), text.size()});
    }
    TestList list(names);
    SortSymbols(list.view);
    std::sort(texts.begin(), texts.end(), SymbolLess);
    EXPECT_EQ(list.Order(), texts);
}

TEST(WordPaths, BytesEqualReadsOnlyItsBytes) {
    std::vector<std::string> texts = TrickyTexts();
    PageEnd page;
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            SIZE_T common = std::min(a.size(), b.size());
            std::string x = a.substr(0, common), y = b.substr(0, common);
            ASSERT_EQ(BytesEqual(page.Span(x, 0).Data, page.Span(y, 1).Data, common), x == y) << a << ' ' << b;
            ASSERT_EQ(SameNonEmptyText(page.Span(a, 0), page.Span(b, 1)), a == b && !a.empty()) << a << ' ' << b;
        }
    }
}

TEST(WordPaths, CopyBytesCopiesExactlyTheCount) {
    const char source[] = "0123456789abcdefghijklmnopqrstuvwxyz!";
    for (SIZE_T count = 0; count < sizeof source; ++count) {
        char out[64];
        std::memset(out, '#', sizeof out);
        CopyBytes(out + 1, source, count);
        ASSERT_EQ(out[0], '#');
        ASSERT_EQ(std::string(out + 1, count), std::string(source, count));
        for (size_t i = count + 1; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << count;
    }
}

TEST(WordPaths, SplitDecorationCutsAtTheFirstAtSignAfterTheFirstCharacter) {
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
    PageEnd page;
    auto text = [](TextSpan span) { return std::string(span.Data, span.Length); };
    for (const Case& c : cases) {
        SplitName split = SplitDecoration(page.Span(c.entry));
        EXPECT_EQ(text(split.BaseName), c.base) << c.entry;
        EXPECT_EQ(split.Decorated, c.digits != nullptr) << c.entry;
        if (c.digits != nullptr) EXPECT_EQ(text(split.DecorationDigits), c.digits) << c.entry;
    }
    // The '@' in every word of a long name.
    std::string name = "_abcdefghijklmnopqrstuvwxyz";
    for (size_t at = 0; at <= 20; ++at) {
        std::string entry = name.substr(0, at) + "@" + std::to_string(at) + "@8";
        SplitName split = SplitDecoration(page.Span(entry));
        if (at == 0) {  // an '@' in first place belongs to the name
            ASSERT_EQ(text(split.BaseName), "@0");
            ASSERT_EQ(text(split.DecorationDigits), "8");
        } else {
            ASSERT_EQ(text(split.BaseName), name.substr(0, at));
            ASSERT_EQ(text(split.DecorationDigits), std::to_string(at) + "@8");
        }
        std::string plain = name.substr(0, at);
        split = SplitDecoration(page.Span(plain));
        ASSERT_EQ(text(split.BaseName), plain);
        ASSERT_FALSE(split.Decorated);
    }
}

TEST(WordPaths, ReadingFindsTheLastNulAtTheVeryEndOfTheFile) {
    // The names end exactly on the last byte before an unmapped page, with
    // every length around a word; one byte short of the NUL is refused, and
    // a control byte drops the name wherever it falls in a word.
    PageEnd page;
    for (size_t length = 0; length <= 17; ++length) {
        struct Variant {
            std::string suffix;
            LibraryCheck check;
            std::vector<std::string> names;
        } variants[] = {{"", LibraryCheck::Accepted, {"_first", std::string(length, 'n')}},
                        {", cut", LibraryCheck::NamesPastMember, {}},
                        {" and a tab", LibraryCheck::Accepted, {"_first"}}};
        for (const Variant& variant : variants) {
            std::string bytes = TestArchive("a last name of length " + std::to_string(length) + variant.suffix);
            SymbolList kept;
            EXPECT_EQ(ReadSymbolTable(LibraryImage{page.Tail(bytes), bytes.size()}, kept), variant.check) << length;
            std::vector<std::string> names;
            for (SIZE_T i = 0; i < kept.Count; ++i) names.emplace_back(kept.Names[i].Text, kept.Names[i].Length);
            ReleaseSymbolList(kept);
            EXPECT_EQ(names, variant.names) << length << variant.suffix;
        }
    }
}
