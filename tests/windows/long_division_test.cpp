// The 64-bit division that carvex.exe brings along for 32-bit x86, checked
// on the build machine against the hardware's own division.
#include <gtest/gtest.h>

#include "windows/long_division.h"

namespace {

void ExpectLikeHardware(ULONGLONG dividend, ULONGLONG divisor) {
    ULONGLONG remainder = 12345;
    ULONGLONG quotient = DivideUnsigned(dividend, divisor, &remainder);
    EXPECT_EQ(quotient, dividend / divisor) << dividend << " / " << divisor;
    EXPECT_EQ(remainder, dividend % divisor) << dividend << " % " << divisor;
}

constexpr ULONGLONG Max = ~0ull;

TEST(LongDivision, EdgeValues) {
    const ULONGLONG values[] = {
        0, 1, 2, 3, 7, 27, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull, 1ull << 63, (1ull << 63) + 1, Max - 1, Max};
    for (ULONGLONG dividend : values)
        for (ULONGLONG divisor : values)
            if (divisor != 0) ExpectLikeHardware(dividend, divisor);
}

// The sort's gap arithmetic: gap * 20 / 27 and gap * 5 / 7 and their
// remainders, over the gaps a large list goes through.
TEST(LongDivision, SortGapQuotients) {
    for (ULONGLONG gap = 1; gap < 5000000; gap = gap * 3 / 2 + 1) {
        ExpectLikeHardware(gap * 20, 27);
        ExpectLikeHardware(gap * 5, 7);
    }
}

TEST(LongDivision, PseudoRandomPairs) {
    ULONGLONG state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 20000; ++i) {
        ULONGLONG dividend = next();
        ULONGLONG divisor = next() >> (next() % 64);  // divisors of every width
        if (divisor != 0) ExpectLikeHardware(dividend, divisor);
    }
}

TEST(LongDivision, ByZeroGivesAllOnesAndTheDividend) {
    ULONGLONG remainder = 0;
    EXPECT_EQ(DivideUnsigned(1234, 0, &remainder), Max);
    EXPECT_EQ(remainder, 1234u);
}

}  // namespace
