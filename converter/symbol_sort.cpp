#include "symbol_sort.h"

#include "word_access.h"

namespace {

// Equal keys mean equal first sixteen bytes, and equal names when either ends
// among them. Otherwise the next words decide, up to the shorter name's
// terminator, which both names hold: a word of each, its bytes past that
// terminator cleared in both, compares in the symbol order as a key does.
bool LessPastKey(const SymbolName& a, const SymbolName& b) {
    // The pivot meets itself at the end of every partition's scan: the same
    // name, which need not be read.
    if (a.Text == b.Text) return false;
    SIZE_T shorter = a.Length < b.Length ? a.Length : b.Length;
    for (SIZE_T at = KeyedBytes; at <= shorter; at += 8) {
        ULONGLONG keep = LowBytes(shorter + 1 - at);
        ULONGLONG x = LoadQword(a.Text + at) & keep;
        ULONGLONG y = LoadQword(b.Text + at) & keep;
        if (x != y) return SymbolOrderKey(x) < SymbolOrderKey(y);
    }
    return false;
}

WORD_ROUTINE_INLINE bool Less(const SymbolName& a, const SymbolName& b) {
    if (a.OrderKey != b.OrderKey) return a.OrderKey < b.OrderKey;
    if (a.NextKey != b.NextKey) return a.NextKey < b.NextKey;
    return LessPastKey(a, b);
}

void Swap(SymbolName* list, LONG_PTR i, LONG_PTR j) {
    SymbolName held = list[i];
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

bool IsInOrder(const SymbolName* list, SIZE_T count) {
    for (SIZE_T i = 1; i < count; ++i)
        if (Less(list[i], list[i - 1])) return false;
    return true;
}

}  // namespace

SIZE_T ForwardGap(SIZE_T gap) { return ShrinkGap(gap, 20, 27); }  // gap / 1.35
SIZE_T BackwardGap(SIZE_T gap) { return ShrinkGap(gap, 5, 7); }   // gap / 1.4

void SortSymbols(SymbolName* list, SIZE_T count) {
    // On a list already in order the sorts below move nothing (the reader
    // keeps no two equal neighbours), at the cost of the quicksort's worst
    // case: such a list is left as it is.
    if (IsInOrder(list, count)) return;
    if (QuickSortLimited(list, 0, static_cast<LONG_PTR>(count) - 1, 0, QuickSortDepthLimit) == SortOutcome::Abandoned)
        CombSort(list, count);
}

SortOutcome QuickSortLimited(SymbolName* list, LONG_PTR low, LONG_PTR high, int depth, int depthLimit) {
    if (low >= high) return SortOutcome::Finished;
    if (++depth >= depthLimit) return SortOutcome::Abandoned;
    const SymbolName pivot = list[high];
    LONG_PTR i = low;
    LONG_PTR j = high - 1;
    while (i <= j) {
        while (Less(list[i], pivot)) ++i;
        while (j >= i && !Less(list[j], pivot)) --j;
        if (i > j) break;
        Swap(list, i, j);
        ++i;
        --j;
    }
    Swap(list, i, high);
    if (QuickSortLimited(list, low, i - 1, depth, depthLimit) == SortOutcome::Abandoned) return SortOutcome::Abandoned;
    return QuickSortLimited(list, i + 1, high, depth, depthLimit);
}

void CombSort(SymbolName* list, SIZE_T count) {
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

void InsertionSort(SymbolName* list, SIZE_T count) {
    for (SIZE_T k = 1; k < count; ++k) {
        SymbolName taken = list[k];
        SIZE_T gap = k;
        for (; gap > 0 && Less(taken, list[gap - 1]); --gap) list[gap] = list[gap - 1];
        list[gap] = taken;
    }
}
