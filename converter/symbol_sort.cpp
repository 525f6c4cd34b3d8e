#include "symbol_sort.h"

#include "word_access.h"

namespace {

// The first byte that differs decides, taken as a signed value; the
// terminator takes part as 0.
WORD_ROUTINE_INLINE int CompareNames(const char* a, const char* b) {
    SIZE_T n = MismatchOrEnd(a, b);
    signed char p = static_cast<signed char>(a[n]);
    signed char q = static_cast<signed char>(b[n]);
    return (p > q) - (p < q);
}

WORD_ROUTINE_INLINE bool Less(const char* a, const char* b) {
    SIZE_T n = MismatchOrEnd(a, b);
    return static_cast<signed char>(a[n]) < static_cast<signed char>(b[n]);
}

// A partition compares every candidate with one fixed pivot, so the pivot's
// first sixteen bytes are held as two order keys, masked after its
// terminator: most candidates are then decided by one or two integer
// comparisons of their own first words, and only a candidate that matches
// all sixteen bytes goes on to the byte scan. A pivot or candidate whose
// sixteen bytes cross a page end (and every name in a sanitized build) takes
// the plain comparison; the pivot's keys are then all zero and its scan
// starts at byte 0.
struct PivotKey {
    const char* name;
    ULONGLONG high;      // bytes 0 to 7
    ULONGLONG low;       // bytes 8 to 15
    ULONGLONG highMask;  // the key bytes up to the pivot's terminator
    ULONGLONG lowMask;
    SIZE_T scanFrom;  // where the byte scan starts once all keyed bytes match
    bool endsInKey;   // matching keyed bytes then mean equal names
};

// The order-key bytes that stand for the first 'count' bytes of a word.
constexpr ULONGLONG LeadingKeyBytes(unsigned count) { return count >= 8 ? ~0ull : ~(~0ull >> (8 * count)); }

PivotKey MakePivotKey(const char* name) {
    PivotKey key = {name, 0, 0, 0, 0, 0, false};
    if (!OwordFitsInPage(name)) return key;
    ULONGLONG first = LoadQword(name);
    ULONGLONG second = LoadQword(name + 8);
    ULONGLONG firstEnds = ZeroBytes(first);
    ULONGLONG secondEnds = ZeroBytes(second);
    key.endsInKey = firstEnds != 0 || secondEnds != 0;
    key.highMask = firstEnds != 0 ? LeadingKeyBytes(LowestMarkedByte(firstEnds) + 1) : ~0ull;
    key.lowMask = firstEnds != 0 ? 0 : secondEnds != 0 ? LeadingKeyBytes(LowestMarkedByte(secondEnds) + 1) : ~0ull;
    key.high = SymbolOrderKey(first) & key.highMask;
    key.low = SymbolOrderKey(second) & key.lowMask;
    key.scanFrom = 16;
    return key;
}

// The rarer cases, out of the partition's loop: a candidate near a page end,
// or one whose first sixteen bytes match the pivot's.
__attribute__((noinline)) bool LessThanPivotPastKey(const char* candidate, const PivotKey& pivot) {
    if (!OwordFitsInPage(candidate)) return Less(candidate, pivot.name);
    return !pivot.endsInKey && Less(candidate + pivot.scanFrom, pivot.name + pivot.scanFrom);
}

WORD_ROUTINE_INLINE bool LessThanPivot(const char* candidate, const PivotKey& pivot) {
    if (!OwordFitsInPage(candidate)) return LessThanPivotPastKey(candidate, pivot);
    ULONGLONG high = SymbolOrderKey(LoadQword(candidate)) & pivot.highMask;
    if (high != pivot.high) return high < pivot.high;
    ULONGLONG low = SymbolOrderKey(LoadQword(candidate + 8)) & pivot.lowMask;
    return low < pivot.low || (low == pivot.low && LessThanPivotPastKey(candidate, pivot));
}

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
    if (QuickSortLimited(list, 0, static_cast<LONG_PTR>(count) - 1, 0, QuickSortDepthLimit) == SortOutcome::Abandoned)
        CombSort(list, count);
}

SortOutcome QuickSortLimited(char** list, LONG_PTR low, LONG_PTR high, int depth, int depthLimit) {
    if (low >= high) return SortOutcome::Finished;
    if (++depth >= depthLimit) return SortOutcome::Abandoned;
    PivotKey pivot = MakePivotKey(list[high]);
    LONG_PTR i = low;
    LONG_PTR j = high - 1;
    while (i <= j) {
        while (LessThanPivot(list[i], pivot)) {
            ++i;
            __builtin_prefetch(list[i + PrefetchDistance <= high ? i + PrefetchDistance : high]);
        }
        while (j >= i && !LessThanPivot(list[j], pivot)) {
            --j;
            __builtin_prefetch(list[j - PrefetchDistance >= low ? j - PrefetchDistance : low]);
        }
        if (i > j) break;
        Swap(list, i, j);
        ++i;
        --j;
    }
    Swap(list, i, high);
    if (QuickSortLimited(list, low, i - 1, depth, depthLimit) == SortOutcome::Abandoned) return SortOutcome::Abandoned;
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
