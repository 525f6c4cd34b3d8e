#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "symbol_sort.h"

namespace {

// The entry of a name held as the library image holds it: its bytes, then
// zero bytes that the word paths may read.
SymbolName Entry(const std::string& padded, size_t length) {
    TextSpan name{padded.c_str(), length};
    return SymbolNameOf(name);
}

// Names and the entries that the sort moves.
struct Names {
    explicit Names(const std::vector<std::string>& list) {
        for (const std::string& t : list) texts.push_back(t + std::string(LibraryImagePadding, '\0'));
        for (size_t i = 0; i < list.size(); ++i) entries.push_back(Entry(texts[i], list[i].size()));
    }
    std::vector<std::string> Order() const {
        std::vector<std::string> order;
        for (const SymbolName& e : entries) order.emplace_back(e.Text, e.Length);
        return order;
    }
    // Where each entry's text lies: equal names are told apart by it.
    std::vector<const char*> Places() const {
        std::vector<const char*> places;
        for (const SymbolName& e : entries) places.push_back(e.Text);
        return places;
    }
    std::vector<std::string> texts;
    std::vector<SymbolName> entries;
};

// The terminator takes part as 0, so a byte of 0x80 or above after a
// common prefix sorts before the end of the shorter name.
bool SignedLess(const std::string& a, const std::string& b) {
    const char* x = a.c_str();
    const char* y = b.c_str();
    return std::lexicographical_compare(x, x + a.size() + 1, y, y + b.size() + 1, [](char x, char y) {
        return static_cast<signed char>(x) < static_cast<signed char>(y);
    });
}

bool ModelLess(const SymbolName& a, const SymbolName& b) {
    return SignedLess(std::string(a.Text, a.Length), std::string(b.Text, b.Length));
}

// The quicksort move by move with the byte model's comparison: the
// converter's partition has to make the very same swaps and give up at the
// same point, whatever shortcuts its comparisons take.
SortOutcome ModelQuickSort(std::vector<SymbolName>& list, long low, long high, int depth) {
    if (low >= high) return SortOutcome::Finished;
    if (++depth >= QuickSortDepthLimit) return SortOutcome::Abandoned;
    const SymbolName pivot = list[high];
    long i = low, j = high - 1;
    while (i <= j) {
        while (ModelLess(list[i], pivot)) ++i;
        while (j >= i && !ModelLess(list[j], pivot)) --j;
        if (i > j) break;
        std::swap(list[i++], list[j--]);
    }
    std::swap(list[i], list[high]);
    if (ModelQuickSort(list, low, i - 1, depth) == SortOutcome::Abandoned) return SortOutcome::Abandoned;
    return ModelQuickSort(list, i + 1, high, depth);
}

std::vector<std::string> Expected(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end(), SignedLess);
    return texts;
}

std::vector<std::string> InOrder(int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) texts.push_back("_F" + std::to_string(10000 + i));
    return texts;
}

std::vector<SIZE_T> Gaps(SIZE_T count) {
    std::vector<SIZE_T> gaps;
    SIZE_T gap = count;
    for (bool forward = true;; forward = !forward) {
        gap = forward ? ForwardGap(gap) : BackwardGap(gap);
        if (gap <= 1) return gaps;
        gaps.push_back(gap);
    }
}

}  // namespace

TEST(SortSymbols, UsesSignedBytesWithTheTerminatorAsZero) {
    struct Case {
        std::string less, greater;
    } cases[] = {
        {"_Foo@8", "_FooA@8"},
        {"_Foo", "_FooA"},
        {"_FooA", "_FooW"},
        {"_Foo\x80", "_Foo"},  // 0x80 counts as -128, below the NUL
        {"\xff", "A"},
        {"Z", "_"},
        {"a", "b"},
        {"_GetWindowTextA", "_GetWindowTextW"},     // decided past the key
        {"_GetWindow", "_GetWindowA"},              // one ends in the key's last byte
        {"_GetWindo", "_GetWindoA"},                // one ends just past the key
        {"_GetWindowTextLe", "_GetWindowTextLeA"},  // one ends just past both keys
        {"_GetWindowText\x80", "_GetWindowText"},   // a high byte past the key
        {"_CreateWindowStationA@4", "_CreateWindowStationW@4"},
    };
    for (const Case& c : cases) {
        Names pair({c.greater, c.less});
        SortSymbols(pair.entries.data(), 2);
        EXPECT_EQ(pair.Order(), (std::vector<std::string>{c.less, c.greater})) << c.less << " < " << c.greater;
        SortSymbols(pair.entries.data(), 2);
        EXPECT_EQ(pair.Order(), (std::vector<std::string>{c.less, c.greater})) << "in order stays";
    }
    // Equal names are not moved: they are not less than each other.
    for (std::string same : {"", "same", "_GetWindow", "_GetWindowTextLengthW@4"}) {
        Names pair({same, same});
        std::vector<const char*> places = pair.Places();
        InsertionSort(pair.entries.data(), 2);
        EXPECT_EQ(pair.Places(), places) << same;
    }
}

TEST(QuickSortLimited, GivesUpAtTheDepthLimitOnOrderedInput) {
    Names hundred(InOrder(100));
    EXPECT_EQ(QuickSortLimited(hundred.entries.data(), 0, 99, 0, QuickSortDepthLimit), SortOutcome::Finished);
    EXPECT_EQ(hundred.Order(), InOrder(100));
    Names hundredOne(InOrder(101));
    EXPECT_EQ(QuickSortLimited(hundredOne.entries.data(), 0, 100, 0, QuickSortDepthLimit), SortOutcome::Abandoned);
    // The comb sort then finishes the job, whatever the quicksort left.
    CombSort(hundredOne.entries.data(), 101);
    EXPECT_EQ(hundredOne.Order(), InOrder(101));
}

TEST(CombSort, GapsFollowTheShrinkRules) {
    EXPECT_EQ(Gaps(100), (std::vector<SIZE_T>{73, 51, 37, 25, 18, 12, 8, 5, 3}));
    EXPECT_EQ(Gaps(20), (std::vector<SIZE_T>{14, 11, 7, 4, 2}));
}

TEST(CombSort, IntegerGapsEqualRoundedDivisionUpToTenMillion) {
    auto reference = [](SIZE_T gap, double divisor) {
        SIZE_T next = static_cast<SIZE_T>(std::nearbyint(static_cast<double>(gap) / divisor)) - 1;
        return next == 9 || next == 10 ? SIZE_T{11} : next;
    };
    for (SIZE_T gap = 1; gap <= 10000000; ++gap) {
        ASSERT_EQ(ForwardGap(gap), reference(gap, 1.35)) << gap;
        ASSERT_EQ(BackwardGap(gap), reference(gap, 1.4)) << gap;
    }
}

TEST(SortSymbols, MatchesAReferenceSortOnManyShapes) {
    std::mt19937 random(12345);
    auto randomName = [&](int alphabet) {
        std::string name = "_";
        int length = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < length; ++i) name += static_cast<char>(0x7C + random() % alphabet);  // around 0x80
        return name;
    };
    std::vector<std::vector<std::string>> lists = {{}, {"_One"}, {"_B", "_A"}};
    for (int size : {2, 3, 99, 100, 101, 102, 500, 3000}) {
        std::vector<std::string> shuffled, equalRuns, reversed = InOrder(size), highBytes;
        std::reverse(reversed.begin(), reversed.end());
        for (int i = 0; i < size; ++i) {
            shuffled.push_back("_F" + std::to_string(random() % 1000) + "@" + std::to_string(random() % 49));
            equalRuns.push_back(i % 7 == 0 ? "_Other" : "_Same@8");
            highBytes.push_back(randomName(8));
        }
        lists.insert(lists.end(), {shuffled, equalRuns, reversed, highBytes, InOrder(size)});
    }
    for (const std::vector<std::string>& list : lists) {
        Names names(list);
        SortSymbols(names.entries.data(), names.entries.size());
        EXPECT_EQ(names.Order(), Expected(list)) << "size " << list.size();
        Names viaCombSort(list);
        CombSort(viaCombSort.entries.data(), viaCombSort.entries.size());
        EXPECT_EQ(viaCombSort.Order(), Expected(list)) << "comb sort, size " << list.size();
    }
}

TEST(QuickSortLimited, MakesTheSameMovesAsTheByteModel) {
    // Names that end, or differ from each other, at every place around the
    // first sixteen bytes, with bytes of 0x80 and above; equal names are told
    // apart by where they lie.
    std::mt19937 random(11);
    std::vector<std::string> names;
    const std::string stem = "_CreateWindowStationW@4";
    for (size_t length = 0; length <= stem.size(); ++length)
        for (char last : {'\0', '\x01', 'A', '\x7f', '\x80', '\xff'}) {
            std::string name = stem.substr(0, length);
            if (last != '\0') name += last;
            names.insert(names.end(), 2, name);
        }
    std::vector<std::string> shuffled = names, nearly = Expected(names), sorted = Expected(names);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::rotate(nearly.begin(), nearly.begin() + 1, nearly.end());  // the smallest moved last: the depth limit
    for (const std::vector<std::string>& list : {shuffled, nearly, sorted}) {
        Names converter(list);
        Names model(list);
        model.entries = converter.entries;  // the same texts, so the same places
        long high = static_cast<long>(list.size()) - 1;
        SortOutcome outcome = QuickSortLimited(converter.entries.data(), 0, high, 0, QuickSortDepthLimit);
        EXPECT_EQ(outcome, ModelQuickSort(model.entries, 0, high, 0));
        EXPECT_EQ(converter.Places(), model.Places());
    }
}
