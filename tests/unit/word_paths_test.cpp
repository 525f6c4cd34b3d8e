// The eight-bytes-at-a-time paths of the string routines, the symbol
// comparison, the decoration split, the reader's scan and the large heap
// blocks: each checked against a plain byte-by-byte model, at every offset
// within a word and with the text ending on the last byte of a page whose
// successor is unmapped, so that a load crossing the page faults the test.
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

namespace {

// Two pages, the second one inaccessible: Place() puts a text so that its
// NUL is the first page's last byte.
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

    char* Place(const std::string& text, size_t slot = 0) {
        // Slot 0 ends at the page's end, slot 1 just before slot 0's room.
        size_t end = page_ - slot * 256;
        char* at = base_ + end - text.size() - 1;
        std::memcpy(at, text.c_str(), text.size() + 1);
        return at;
    }
    // The last 'size' bytes of the first page, without a NUL of their own.
    BYTE* Tail(const std::string& bytes) {
        BYTE* at = reinterpret_cast<BYTE*>(base_ + page_ - bytes.size());
        std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    size_t page_ = 0;
    char* base_ = nullptr;
};

int ModelCompare(const char* a, const char* b) {
    for (;; ++a, ++b) {
        signed char x = static_cast<signed char>(*a), y = static_cast<signed char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

int Sign(int v) { return (v > 0) - (v < 0); }

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

TEST(WordPaths, CompareSymbolsAgreesWithTheByteModelEverywhere) {
    std::vector<std::string> texts = TrickyTexts();
    PageEnd page;
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            int expected = ModelCompare(a.c_str(), b.c_str());
            ASSERT_EQ(Sign(CompareSymbols(a.c_str(), b.c_str())), expected) << '"' << a << "\" \"" << b << '"';
            // The same texts ending on the last byte before an unmapped page.
            char* pa = page.Place(a, 0);
            char* pb = page.Place(b, 1);
            ASSERT_EQ(Sign(CompareSymbols(pa, pb)), expected) << a << ' ' << b;
            ASSERT_EQ(Sign(CompareSymbols(pb, pa)), -expected) << a << ' ' << b;
        }
    }
}

TEST(WordPaths, CompareSymbolsAtEveryAlignment) {
    std::mt19937 random(6);
    std::vector<char> storage(4096 + 64);
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
        ASSERT_EQ(Sign(CompareSymbols(pa, pb)), ModelCompare(pa, pb)) << a << ' ' << b;
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
    std::vector<char*> list;
    for (std::string& n : names) list.push_back(n.data());
    SortSymbols(list.data(), list.size());
    for (size_t i = 1; i < list.size(); ++i) ASSERT_LE(ModelCompare(list[i - 1], list[i]), 0) << i;
}

TEST(WordPaths, PartitionAtAPageEndMovesAsInTheHeap) {
    // Every pivot and candidate ends on the last byte before an unmapped
    // page; the quicksort must move them exactly as it moves heap copies.
    std::vector<std::string> texts = TrickyTexts();
    std::shuffle(texts.begin(), texts.end(), std::mt19937(8));
    std::vector<std::unique_ptr<PageEnd>> pages;
    std::vector<char*> atPageEnds, inHeap;
    for (std::string& text : texts) {
        pages.push_back(std::make_unique<PageEnd>());
        atPageEnds.push_back(pages.back()->Place(text));
        inHeap.push_back(text.data());
    }
    long high = static_cast<long>(texts.size()) - 1;
    ASSERT_EQ(QuickSortLimited(atPageEnds.data(), 0, high, 0, QuickSortDepthLimit),
              QuickSortLimited(inHeap.data(), 0, high, 0, QuickSortDepthLimit));
    for (size_t i = 0; i < texts.size(); ++i) ASSERT_STREQ(atPageEnds[i], inHeap[i]) << i;
}

TEST(WordPaths, StrEqualLengthAndBytesEqualAgreeWithTheByteModel) {
    std::vector<std::string> texts = TrickyTexts();
    PageEnd page;
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            SIZE_T expected = a == b ? a.size() : 0;
            ASSERT_EQ(StrEqualLength(a.c_str(), b.c_str()), expected) << a << ' ' << b;
            ASSERT_EQ(StrEqualLength(page.Place(a, 0), page.Place(b, 1)), expected) << a << ' ' << b;
            SIZE_T common = std::min(a.size(), b.size());
            bool prefixesEqual = a.compare(0, common, b, 0, common) == 0;
            ASSERT_EQ(BytesEqual(page.Place(a, 0), page.Place(b, 1), common), prefixesEqual) << a << ' ' << b;
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
            const char* args[] = {page.Place(arg, 1), page.Place(arg, 1)};
            SIZE_T n = FormatText(out, page.Place(templ, 0), args[0], args[1]);
            ASSERT_EQ(n, expected.size()) << templ << " / " << arg;
            ASSERT_EQ(std::string(out, n), expected);
            ASSERT_EQ(out[n], '\0');
            for (size_t i = n + 1; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << "byte " << i << " written";
            std::memset(out, '#', sizeof out);
            n = FormatTextListWithSlack(out, page.Place(templ, 0), args, 2);
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

TEST(WordPaths, SplitDecorationFindsTheAtSignInAnyWordAndAtAPageEnd) {
    PageEnd page;
    TextBuffer buffer{};
    std::string name = "_abcdefghijklmnopqrstuvwxyz";
    for (size_t at = 0; at <= 20; ++at) {
        std::string entry = name.substr(0, at) + "@" + std::to_string(at) + "@8";
        std::string base = at == 0 ? std::string("@") + std::to_string(0) : name.substr(0, at);
        for (const char* placed : {entry.c_str(), static_cast<const char*>(page.Place(entry))}) {
            SplitName split = SplitDecoration(placed, buffer);
            if (at == 0) {  // an '@' in first place belongs to the name
                ASSERT_STREQ(buffer.Data, "@0");
                ASSERT_STREQ(split.DecorationDigits, "8");
            } else {
                ASSERT_EQ(std::string(buffer.Data), base);
                ASSERT_EQ(split.BaseLength, at);
                ASSERT_EQ(std::string(split.DecorationDigits), std::to_string(at) + "@8");
            }
        }
        std::string plain = name.substr(0, at);
        SplitName split = SplitDecoration(page.Place(plain), buffer);
        ASSERT_EQ(std::string(buffer.Data), plain);
        ASSERT_EQ(split.DecorationDigits, nullptr);
    }
    ReleaseText(buffer);
}

TEST(WordPaths, ParamListsForEveryCount) {
    auto model = [](int count, const std::string& item) {
        std::string list;
        for (int i = 0; i < count; ++i) list += item;
        if (count > 0) list.pop_back();
        return list + "\r\n";
    };
    for (int count = 0; count <= 24; ++count) {
        char buffer[ParamListCapacity + 1];
        ASSERT_EQ(BuildDwordList(buffer, count), model(count, ":DWORD,").size());
        ASSERT_EQ(std::string(buffer), model(count, ":DWORD,"));
        ASSERT_EQ(BuildQwordList(buffer, count), model(count, ":QWORD,").size());
        ASSERT_EQ(std::string(buffer), model(count, ":QWORD,"));
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
        EXPECT_EQ(std::string(kept.Names[1]), std::string(length, 'n'));
        FreeBlock(kept.Names);
        std::string cut = TestArchive(name + ", cut");
        at = page.Tail(cut);
        EXPECT_FALSE(IsValidImportLibrary(LibraryImage{at, cut.size()})) << length;
        // The control byte drops the name, wherever it falls in a word.
        std::string tab = TestArchive(name + " and a tab");
        at = page.Tail(tab);
        kept = ReadSymbolTable(LibraryImage{at, tab.size()});
        ASSERT_EQ(kept.Count, 1u) << length;
        EXPECT_STREQ(kept.Names[0], "_first");
        FreeBlock(kept.Names);
    }
}

TEST(WordPaths, LargeHeapBlocksAreZeroFilledWritableAndFreed) {
    HANDLE heap = GetProcessHeap();
    for (SIZE_T size : {(SIZE_T{1} << 20) - 1, SIZE_T{1} << 20, (SIZE_T{2} << 20) - 16, (SIZE_T{2} << 20) + 1,
                        (SIZE_T{9} << 20) + 12345}) {
        for (int round = 0; round < 3; ++round) {
            auto* block = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size));
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(reinterpret_cast<ULONG_PTR>(block) % 16, 0u);
            for (SIZE_T i = 0; i < size; i += 4096) ASSERT_EQ(block[i], 0) << i;
            ASSERT_EQ(block[size - 1], 0);
            block[0] = 1;
            block[size - 1] = 2;  // the last byte asked for is there
            EXPECT_TRUE(HeapFree(heap, 0, block));
        }
    }
    auto* small = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 100));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(small) % 16, 0u);
    EXPECT_TRUE(HeapFree(heap, 0, small));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}
