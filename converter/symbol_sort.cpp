#include "symbol_sort.h"

#include "word_access.h"

namespace {

// Equal keys mean equal first sixteen bytes, and equal names when either ends
// among them. Otherwise the next words decide, up to the shorter name's
// terminator, which both names hold: a word of each, its bytes past that
// terminator cleared in both, compares in the symbol order as a key does.
bool LessPastKeys(const SymbolName& a, const SymbolName& b) {
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

// The order of two names whose first keys are equal.
bool LessPastFirstKey(const SymbolName& a, const SymbolName& b) {
    if (a.NextKey != b.NextKey) return a.NextKey < b.NextKey;
    return LessPastKeys(a, b);
}

// An entry held aside: the pivot, or the entry the insertion sort carries.
struct HeldEntry {
    ULONGLONG Key;
    SymbolName Name;
};

HeldEntry Held(const SymbolList& list, LONG_PTR i) { return HeldEntry{list.Keys[i], list.Names[i]}; }

WORD_ROUTINE_INLINE bool EntryLessThan(const SymbolList& list, LONG_PTR i, const HeldEntry& held) {
    if (list.Keys[i] != held.Key) return list.Keys[i] < held.Key;
    return LessPastFirstKey(list.Names[i], held.Name);
}

WORD_ROUTINE_INLINE bool HeldLessThan(const HeldEntry& held, const SymbolList& list, LONG_PTR i) {
    if (held.Key != list.Keys[i]) return held.Key < list.Keys[i];
    return LessPastFirstKey(held.Name, list.Names[i]);
}

WORD_ROUTINE_INLINE bool EntryLess(const SymbolList& list, LONG_PTR i, LONG_PTR j) {
    if (list.Keys[i] != list.Keys[j]) return list.Keys[i] < list.Keys[j];
    return LessPastFirstKey(list.Names[i], list.Names[j]);
}

void Put(SymbolList& list, LONG_PTR i, const HeldEntry& held) {
    list.Keys[i] = held.Key;
    list.Names[i] = held.Name;
}

void Swap(SymbolList& list, LONG_PTR i, LONG_PTR j) {
    HeldEntry held = Held(list, i);
    list.Keys[i] = list.Keys[j];
    list.Names[i] = list.Names[j];
    Put(list, j, held);
}

// The partition's downward scan: the last index from j down to i whose
// entry is less than the pivot, or i - 1. Where entries that are not less
// come in runs (a list nearly in order), their first keys alone tell it,
// four at a time.
LONG_PTR LastLessFrom(const SymbolList& list, LONG_PTR i, LONG_PTR j, const HeldEntry& pivot) {
    const ULONGLONG* keys = list.Keys;
    for (;; --j) {
        while (j - 3 >= i && keys[j] > pivot.Key && keys[j - 1] > pivot.Key && keys[j - 2] > pivot.Key &&
               keys[j - 3] > pivot.Key)
            j -= 4;
        if (j < i || EntryLessThan(list, j, pivot)) return j;
    }
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

bool IsInOrder(const SymbolList& list) {
    for (SIZE_T i = 1; i < list.Count; ++i)
        if (EntryLess(list, static_cast<LONG_PTR>(i), static_cast<LONG_PTR>(i - 1))) return false;
    return true;
}

}  // namespace

SIZE_T ForwardGap(SIZE_T gap) { return ShrinkGap(gap, 20, 27); }  // gap / 1.35
SIZE_T BackwardGap(SIZE_T gap) { return ShrinkGap(gap, 5, 7); }   // gap / 1.4

void SortSymbols(SymbolList& list) {
    // On a list already in order the sorts below move nothing (the reader
    // keeps no two equal neighbours), at the cost of the quicksort's worst
    // case: such a list is left as it is.
    if (IsInOrder(list)) return;
    LONG_PTR last = static_cast<LONG_PTR>(list.Count) - 1;
    if (QuickSortLimited(list, 0, last, 0, QuickSortDepthLimit) == SortOutcome::Abandoned) CombSort(list);
}

SortOutcome QuickSortLimited(SymbolList& list, LONG_PTR low, LONG_PTR high, int depth, int depthLimit) {
    if (low >= high) return SortOutcome::Finished;
    if (++depth >= depthLimit) return SortOutcome::Abandoned;
    const HeldEntry pivot = Held(list, high);
    LONG_PTR i = low;
    LONG_PTR j = high - 1;
    while (i <= j) {
        while (EntryLessThan(list, i, pivot)) ++i;
        j = LastLessFrom(list, i, j, pivot);
        if (i > j) break;
        Swap(list, i, j);
        ++i;
        --j;
    }
    Swap(list, i, high);
    if (QuickSortLimited(list, low, i - 1, depth, depthLimit) == SortOutcome::Abandoned) return SortOutcome::Abandoned;
    return QuickSortLimited(list, i + 1, high, depth, depthLimit);
}

void CombSort(SymbolList& list) {
    LONG_PTR last = static_cast<LONG_PTR>(list.Count) - 1;
    SIZE_T gap = list.Count;
    for (;;) {
        gap = ForwardGap(gap);
        if (gap <= 1) break;
        LONG_PTR g = static_cast<LONG_PTR>(gap);
        for (LONG_PTR i = 0; i <= last - g; ++i)
            if (EntryLess(list, i + g, i)) Swap(list, i, i + g);
        gap = BackwardGap(gap);
        if (gap <= 1) break;
        g = static_cast<LONG_PTR>(gap);
        for (LONG_PTR i = last - g; i >= 0; --i)
            if (EntryLess(list, i + g, i)) Swap(list, i, i + g);
    }
    InsertionSort(list);
}

void InsertionSort(SymbolList& list) {
    for (SIZE_T k = 1; k < list.Count; ++k) {
        HeldEntry taken = Held(list, static_cast<LONG_PTR>(k));
        LONG_PTR gap = static_cast<LONG_PTR>(k);
        for (; gap > 0 && HeldLessThan(taken, list, gap - 1); --gap) Put(list, gap, Held(list, gap - 1));
        Put(list, gap, taken);
    }
}
