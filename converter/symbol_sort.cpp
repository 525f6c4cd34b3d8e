#include "symbol_sort.h"

#include "word_access.h"

namespace {

// Eight bytes of both names at a time while neither load crosses a page.
// Within a word, bytes past a's terminator are masked off; the first byte
// that differs then decides, and flipping the top bit of every byte turns
// the signed byte order into the unsigned order of the byte-swapped words.
READS_WHOLE_WORDS WORD_ROUTINE_INLINE int CompareNames(const char* a, const char* b) {
#if defined(__SSE2__)
    // Sixteen bytes at a time where the vector unit is there: one mask of the
    // bytes that differ or end a, whose lowest bit names the deciding byte.
    // Most names are decided within their first sixteen bytes, so the loop
    // rarely goes round and its branch is rarely mispredicted.
    while (OwordFitsInPage(a) && OwordFitsInPage(b)) {
        Oword x = LoadOword(a);
        Oword y = LoadOword(b);
        unsigned marks = static_cast<unsigned>(__builtin_ia32_pmovmskb128((x != y) | (x == 0)));
        if (marks == 0) {
            a += 16;
            b += 16;
            continue;
        }
        unsigned at = static_cast<unsigned>(__builtin_ctz(marks));
        signed char p = static_cast<signed char>(a[at]);
        signed char q = static_cast<signed char>(b[at]);
        return (p > q) - (p < q);
    }
#endif
    for (;;) {
        if (QwordFitsInPage(a) && QwordFitsInPage(b)) {
            ULONGLONG x = LoadQword(a);
            ULONGLONG y = LoadQword(b);
            ULONGLONG differ = x ^ y;
            ULONGLONG ends = ZeroBytes(x);
            if ((differ | ends) == 0) {
                a += 8;
                b += 8;
                continue;
            }
            if (ends != 0) {
                ULONGLONG upToEnd = (ends ^ (ends - 1));  // every bit up to the terminator's top bit
                if ((differ & upToEnd) == 0) return 0;
            }
            ULONGLONG left = __builtin_bswap64(x ^ RepeatedByte(0x80));
            ULONGLONG right = __builtin_bswap64(y ^ RepeatedByte(0x80));
            return left < right ? -1 : 1;
        }
        signed char x = static_cast<signed char>(*a);
        signed char y = static_cast<signed char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
        ++a;
        ++b;
    }
}

inline __attribute__((always_inline)) bool Less(const char* a, const char* b) { return CompareNames(a, b) < 0; }

// The names lie scattered over the library's bytes: the partition asks for
// the name this many entries ahead while it compares the current one.
constexpr LONG_PTR PrefetchDistance = 16;

void Swap(char** list, LONG_PTR i, LONG_PTR j) {
    char* held = list[i];
    list[i] = list[j];
    list[j] = held;
}

// round(gap * numerator / denominator) - 1. The exact quotient never ends
// in one half (both denominators are odd), so rounding to nearest needs no
// tie rule and no floating point.
SIZE_T ShrinkGap(SIZE_T gap, ULONGLONG numerator, ULONGLONG denominator) {
    ULONGLONG scaled = static_cast<ULONGLONG>(gap) * numerator;
    ULONGLONG rounded = scaled / denominator + (2 * (scaled % denominator) > denominator ? 1 : 0);
    SIZE_T next = rounded == 0 ? 0 : static_cast<SIZE_T>(rounded - 1);
    return next == 9 || next == 10 ? 11 : next;
}

bool IsInOrder(char** list, SIZE_T count) {
    for (SIZE_T i = 1; i < count; ++i)
        if (Less(list[i], list[i - 1])) return false;
    return true;
}

}  // namespace

int CompareSymbols(const char* a, const char* b) { return CompareNames(a, b); }

SIZE_T ForwardGap(SIZE_T gap) { return ShrinkGap(gap, 20, 27); }  // gap / 1.35
SIZE_T BackwardGap(SIZE_T gap) { return ShrinkGap(gap, 5, 7); }   // gap / 1.4

void SortSymbols(char** list, SIZE_T count) {
    // A list already in order is left as it is: the sorts below would give
    // the same order, at the cost of the quicksort's worst case.
    if (count < 2 || IsInOrder(list, count)) return;
    if (QuickSortLimited(list, 0, static_cast<LONG_PTR>(count) - 1, 0, QuickSortDepthLimit) ==
        SortOutcome::Abandoned)
        CombSort(list, count);
}

SortOutcome QuickSortLimited(char** list, LONG_PTR low, LONG_PTR high, int depth, int depthLimit) {
    if (low >= high) return SortOutcome::Finished;
    if (++depth >= depthLimit) return SortOutcome::Abandoned;
    const char* pivot = list[high];
    LONG_PTR i = low;
    LONG_PTR j = high - 1;
    while (i <= j) {
        while (Less(list[i], pivot)) {
            ++i;
            if (i + PrefetchDistance <= high) __builtin_prefetch(list[i + PrefetchDistance]);
        }
        while (j >= i && !Less(list[j], pivot)) {
            --j;
            if (j - PrefetchDistance >= low) __builtin_prefetch(list[j - PrefetchDistance]);
        }
        if (i > j) break;
        Swap(list, i, j);
        ++i;
        --j;
    }
    Swap(list, i, high);
    if (QuickSortLimited(list, low, i - 1, depth, depthLimit) == SortOutcome::Abandoned)
        return SortOutcome::Abandoned;
    return QuickSortLimited(list, i + 1, high, depth, depthLimit);
}

void CombSort(char** list, SIZE_T count) {
    LONG_PTR last = static_cast<LONG_PTR>(count) - 1;
    SIZE_T gap = count;
    for (;;) {
        gap = ForwardGap(gap);
        if (gap <= 1) break;
        LONG_PTR g = static_cast<LONG_PTR>(gap);
        for (LONG_PTR i = 0; i <= last - g; ++i)
            if (Less(list[i + g], list[i])) Swap(list, i, i + g);
        gap = BackwardGap(gap);
        if (gap <= 1) break;
        g = static_cast<LONG_PTR>(gap);
        for (LONG_PTR i = last - g; i >= 0; --i)
            if (Less(list[i + g], list[i])) Swap(list, i, i + g);
    }
    InsertionSort(list, count);
}

void InsertionSort(char** list, SIZE_T count) {
    for (SIZE_T k = 1; k < count; ++k) {
        char* taken = list[k];
        SIZE_T gap = k;
        for (; gap > 0 && Less(taken, list[gap - 1]); --gap) list[gap] = list[gap - 1];
        list[gap] = taken;
    }
}
