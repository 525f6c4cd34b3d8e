// The eight-bytes-at-a-time paths of the string routines, the symbol
// comparison, the decoration split, the reader's scan and the large heap
// blocks: each checked against a plain byte-by-byte model, at every offset
// within a word, and with the text followed by exactly the eight bytes of
// slack that the product gives it before a page that is unmapped, so that
// a read past the slack faults the test. The slack holds bytes that would
// change a result if they were taken for the text's own.
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
#include "test_archives.h"
#include "run.h"
#include "text.h"
#include "word_access.h"

namespace {

// Bytes that a word path may read past a text but must never use: a NUL,
// a '%', an '@', a control byte and a high byte.
const char SlackBytes[ReadSlack + 1] = "\0%@\x01\x80@%\0";

// Two pages, the second one inaccessible: Place() puts a text so that the
// eight bytes of slack after it end on the first page's last byte.
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

    // The text and its NUL, then seven bytes of slack (a name in the image).
    char* Place(const std::string& text, size_t slot = 0) {
        char* at = const_cast<char*>(Span(text, slot).Data);
        at[text.size()] = '\0';
        return at;
    }
    // The text, then eight bytes of slack (a template or an argument).
    TextSpan Span(const std::string& text, size_t slot = 0) {
        // Slot 0 ends at the page's end, slot 1 just before slot 0's room.
        char* end = base_ + page_ - slot * 256;
        char* at = end - ReadSlack - text.size();
        std::memcpy(at, text.data(), text.size());
        std::memcpy(at + text.size(), SlackBytes, ReadSlack);
        return TextSpan{at, text.size()};
    }
    // A string that ends on the page's last byte, for StrLen.
    char* Last(const std::string& text) {
        char* at = base_ + page_ - text.size() - 1;
        std::memcpy(at, text.c_str(), text.size() + 1);
        return at;
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

SymbolName Entry(const char* text) {
    TextSpan name = SpanOf(text);
    return SymbolNameOf(name);
}

int ModelCompare(const char* a, const char* b) {
    for (;; ++a, ++b) {
        signed char x = static_cast<signed char>(*a), y = static_cast<signed char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

int Sign(int v) { return (v > 0) - (v < 0); }

// True when the insertion sort puts the second entry before the first.
bool SortsBefore(const SymbolName& second, const SymbolName& first) {
    SymbolName pair[] = {first, second};
    InsertionSort(pair, 2);
    return pair[0].Text == second.Text;
}

// The converter's order of two names that are followed by their slack.
int Compare(const char* a, const char* b) {
    SymbolName x = Entry(a), y = Entry(b);
    return SortsBefore(x, y) ? -1 : SortsBefore(y, x) ? 1 : 0;
}

std::string WithSlack(const std::string& text) { return text + std::string(ReadSlack, '\0'); }

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

TEST(WordPaths, SymbolOrderAgreesWithTheByteModelEverywhere) {
    std::vector<std::string> texts = TrickyTexts();
    PageEnd page;
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            int expected = ModelCompare(a.c_str(), b.c_str());
            ASSERT_EQ(Compare(WithSlack(a).c_str(), WithSlack(b).c_str()), expected) << '"' << a << "\" \"" << b << '"';
            // The same names, their terminators on the last byte before an unmapped page.
            char* pa = page.Place(a, 0);
            char* pb = page.Place(b, 1);
            ASSERT_EQ(Compare(pa, pb), expected) << a << ' ' << b;
            ASSERT_EQ(Compare(pb, pa), -expected) << a << ' ' << b;
        }
    }
}

TEST(WordPaths, SymbolOrderAtEveryAlignment) {
    std::mt19937 random(6);
    std::vector<char> storage(4096 + 64);  // the texts' slack lies within it
    for (int round = 0; round < 20000; ++round) {
        size_t length = random() % 24;
        size_t offsetA = random() % 8, offsetB = random() % 8;
        std::string a(length, 'x'), b;
        for (char& c : a) c = "_@AW\x80x"[random() % 6];
        b = a;
        if (!b.empty() && random() % 2) b[random() % b.size()] = "_@AW\x80y"[random() % 6];
        if (random() % 4 == 0) b.resize(random() % (b.size() + 1));
        char* pa = storage.data() + offsetA;
        char* pb = storage.data() + 2048 + offsetB;
        std::memcpy(pa, a.c_str(), a.size() + 1);
        std::memcpy(pb, b.c_str(), b.size() + 1);
        ASSERT_EQ(Compare(pa, pb), ModelCompare(pa, pb)) << a << ' ' << b;
    }
}

TEST(WordPaths, SortOfManyNamesMatchesTheModelOrder) {
    // Long shared prefixes put the deciding byte in the second and third word.
    std::mt19937 random(7);
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i)
        names.push_back("_CreateWindowStation" + std::to_string(random() % 500) + (random() % 2 ? "A" : "W") + "@" +
                        std::to_string(4 * (random() % 13)));
    names.push_back("_CreateWindowStation\x80");
    names.push_back("_CreateWindowStation");
    std::vector<SymbolName> list;
    for (std::string& n : names) {
        size_t length = n.size();
        n.append(ReadSlack, '\0');
        list.push_back(SymbolNameOf(TextSpan{n.data(), length}));
    }
    SortSymbols(list.data(), list.size());
    for (size_t i = 1; i < list.size(); ++i) ASSERT_LE(ModelCompare(list[i - 1].Text, list[i].Text), 0) << i;
}

TEST(WordPaths, PartitionAtAPageEndMovesAsInTheHeap) {
    // Every pivot and candidate ends on the last byte before an unmapped
    // page; the quicksort must move them exactly as it moves heap copies.
    std::vector<std::string> texts = TrickyTexts();
    std::shuffle(texts.begin(), texts.end(), std::mt19937(8));
    std::vector<std::unique_ptr<PageEnd>> pages;
    std::vector<SymbolName> atPageEnds, inHeap;
    for (std::string& text : texts) {
        pages.push_back(std::make_unique<PageEnd>());
        atPageEnds.push_back(Entry(pages.back()->Place(text)));
        text = WithSlack(text);
        inHeap.push_back(Entry(text.data()));
    }
    long high = static_cast<long>(texts.size()) - 1;
    ASSERT_EQ(QuickSortLimited(atPageEnds.data(), 0, high, 0, QuickSortDepthLimit),
              QuickSortLimited(inHeap.data(), 0, high, 0, QuickSortDepthLimit));
    for (size_t i = 0; i < texts.size(); ++i) ASSERT_STREQ(atPageEnds[i].Text, inHeap[i].Text) << i;
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

TEST(WordPaths, StrLenStopsAtANulOnAnyOfAPagesLastEightBytes) {
    PageEnd page;
    for (size_t after = 0; after < 8; ++after) {
        for (size_t length = 0; length <= 24; ++length) {
            // The NUL 'after' bytes before the page's end, unmarked bytes behind it.
            std::string text = std::string(length, 'n') + '\0' + std::string(after, 'x');
            char* at = page.Last(text);
            ASSERT_EQ(StrLen(at), length) << after;
        }
    }
}

TEST(WordPaths, FormatTextWritesNothingPastItsNulNorPastItsSlack) {
    PageEnd page;
    std::vector<std::string> pieces = {"",
                                       "x",
                                       "1234567",
                                       "12345678",
                                       "123456789",
                                       "a%b",
                                       "%",
                                       "%%",
                                       "0123456789abcdef%0123456789abcdef",
                                       "% PROTO %",
                                       "\x80\xff%\x01"};
    for (const std::string& templ : pieces) {
        for (const std::string& arg : pieces) {
            std::string expected;
            int used = 0;
            for (char c : templ) {
                if (c != '%')
                    expected += c;
                else if (used++ < 2)
                    expected += arg;
            }
            char out[256];
            std::memset(out, '#', sizeof out);
            const TextSpan args[] = {SpanOf(page.Place(arg, 1)), SpanOf(page.Place(arg, 1))};
            SIZE_T n = FormatTextList(out, SpanOf(page.Place(templ, 0)), args, 2);
            const TextSpan spans[] = {page.Span(arg, 1), page.Span(arg, 1)};
            ASSERT_EQ(n, expected.size()) << templ << " / " << arg;
            ASSERT_EQ(std::string(out, n), expected);
            ASSERT_EQ(out[n], '\0');
            for (size_t i = n + 1; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << "byte " << i << " written";
            std::memset(out, '#', sizeof out);
            n = FormatTextListWithSlack(out, page.Span(templ, 0), spans, 2);
            ASSERT_EQ(std::string(out, n + 1), expected + '\0');
            for (size_t i = n + FormatSlack; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << "byte " << i << " written";
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

TEST(WordPaths, ValidationAndReadingFindTheLastNulAtTheVeryEndOfTheFile) {
    // The names end exactly on the last byte before an unmapped page, with
    // every length around a word; one byte short of the NUL is refused.
    PageEnd page;
    for (size_t length = 0; length <= 17; ++length) {
        std::string name = "a last name of length " + std::to_string(length);
        std::string bytes = TestArchive(name);
        BYTE* at = page.Tail(bytes);
        EXPECT_TRUE(IsValidImportLibrary(LibraryImage{at, bytes.size()})) << length;
        SymbolList kept = ReadSymbolTable(LibraryImage{at, bytes.size()});
        ASSERT_EQ(kept.Count, 2u) << length;
        EXPECT_EQ(std::string(kept.Names[1].Text, kept.Names[1].Length), std::string(length, 'n'));
        FreeBlock(kept.Names);
        std::string cut = TestArchive(name + ", cut");
        at = page.Tail(cut);
        EXPECT_FALSE(IsValidImportLibrary(LibraryImage{at, cut.size()})) << length;
        // The control byte drops the name, wherever it falls in a word.
        std::string tab = TestArchive(name + " and a tab");
        at = page.Tail(tab);
        kept = ReadSymbolTable(LibraryImage{at, tab.size()});
        ASSERT_EQ(kept.Count, 1u) << length;
        EXPECT_STREQ(kept.Names[0].Text, "_first");
        FreeBlock(kept.Names);
    }
}
