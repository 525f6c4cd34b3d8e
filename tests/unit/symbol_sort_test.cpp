#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "symbol_sort.h"
#include "symbol_order.h"

namespace {

// Each name followed by the slack the word paths may read, holding bytes
// that must not count.
std::vector<std::string> WithSlack(const std::vector<std::string>& names) {
    std::vector<std::string> texts;
    for (const std::string& name : names) texts.push_back(name + JunkSlack);
    return texts;
}

std::vector<TextSpan> SpansOf(const std::vector<std::string>& texts, const std::vector<std::string>& names) {
    std::vector<TextSpan> spans;
    for (size_t i = 0; i < names.size(); ++i) spans.push_back(TextSpan{texts[i].data(), names[i].size()});
    return spans;
}

// The entries that the sort moves, over names with their slack.
struct Names {
    explicit Names(const std::vector<std::string>& names) : texts(WithSlack(names)), list(SpansOf(texts, names)) {}
    std::vector<std::string> texts;
    TestList list;
};

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

// The order, pair by pair: each pair sorted from either order. Equal names
// are not moved, as they are not less than each other.
TEST(SymbolOrder, SignedBytesWithTheTerminatorAsZero) {
    for (const OrderedPair& pair : OrderedPairs) {
        for (bool swapped : {false, true}) {
            Names names(swapped ? std::vector<std::string>{pair.less, pair.greater}
                                : std::vector<std::string>{pair.greater, pair.less});
            const char* first = names.list.entries[0].Text;
            SortSymbols(names.list.view);
            if (pair.less == pair.greater)
                EXPECT_EQ(names.list.entries[0].Text, first) << pair.less << " moved";
            else
                EXPECT_EQ(names.list.Order(), (std::vector<std::string>{pair.less, pair.greater})) << pair.less;
        }
    }
}

TEST(SortSymbols, SortsEveryShapeAsAReferenceSortDoes) {
    std::mt19937 random(12345);
    auto randomName = [&](int alphabet) {
        std::string name = "_";
        int length = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < length; ++i) name += static_cast<char>(0x7C + random() % alphabet);  // around 0x80
        return name;
    };
    std::vector<std::vector<std::string>> lists = {{}, {"_One"}, {"_B", "_A"}};
    for (int size : {3, 99, 100, 101, 102, 500, 3000}) {
        std::vector<std::string> shuffled, equalRuns, reversed = InOrder(size), highBytes, longPrefixes,
                                                      nearly = InOrder(size);
        std::reverse(reversed.begin(), reversed.end());
        std::rotate(nearly.begin(), nearly.begin() + 1, nearly.end());  // the smallest moved last
        for (int i = 0; i < size; ++i) {
            shuffled.push_back("_F" + std::to_string(random() % 1000) + "@" + std::to_string(random() % 49));
            equalRuns.push_back(i % 7 == 0 ? "_Other" : "_Same@8");
            highBytes.push_back(randomName(8));
            // The deciding byte in the second and third word.
            longPrefixes.push_back("_CreateWindowStation" + std::to_string(random() % 500) +
                                   (random() % 2 ? "A@" : "W@") + std::to_string(4 * (random() % 13)));
        }
        lists.insert(lists.end(), {shuffled, equalRuns, reversed, highBytes, longPrefixes, nearly, InOrder(size)});
    }
    for (const std::vector<std::string>& list : lists) {
        std::vector<std::string> expected = list;
        std::sort(expected.begin(), expected.end(), SymbolLess);
        Names names(list);
        SortSymbols(names.list.view);
        EXPECT_EQ(names.list.Order(), expected) << "size " << list.size();
        Names viaCombSort(list);
        CombSort(viaCombSort.list.view);
        EXPECT_EQ(viaCombSort.list.Order(), expected) << "comb sort, size " << list.size();
    }
}

// A list in order drives the quicksort into its worst case: 100 names still
// finish within the depth limit, 101 do not.
TEST(QuickSortLimited, GivesUpAtTheDepthLimitOnOrderedInput) {
    Names hundred(InOrder(100));
    EXPECT_EQ(QuickSortLimited(hundred.list.view, 0, 99, 0, QuickSortDepthLimit), SortOutcome::Finished);
    EXPECT_EQ(hundred.list.Order(), InOrder(100));
    Names hundredOne(InOrder(101));
    EXPECT_EQ(QuickSortLimited(hundredOne.list.view, 0, 100, 0, QuickSortDepthLimit), SortOutcome::Abandoned);
}

TEST(CombSort, GapsFollowTheShrinkRules) {
    EXPECT_EQ(Gaps(100), (std::vector<SIZE_T>{73, 51, 37, 25, 18, 12, 8, 5, 3}));
    EXPECT_EQ(Gaps(20), (std::vector<SIZE_T>{14, 11, 7, 4, 2}));
    // The integer rules equal the rounded division far beyond any list.
    auto reference = [](SIZE_T gap, double divisor) {
        SIZE_T next = static_cast<SIZE_T>(std::nearbyint(static_cast<double>(gap) / divisor)) - 1;
        return next == 9 || next == 10 ? SIZE_T{11} : next;
    };
    for (SIZE_T gap = 1; gap <= 10000000; ++gap) {
        ASSERT_EQ(ForwardGap(gap), reference(gap, 1.35)) << gap;
        ASSERT_EQ(BackwardGap(gap), reference(gap, 1.4)) << gap;
    }
}
