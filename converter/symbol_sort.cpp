#include "symbol_sort.h"

#include "word_access.h"

namespace {

// Equal keys mean equal first sixteen bytes, and equal names when either ends
// among them. Otherwise the next words decide, up to the shorter name's
// terminator, which both names hold: a word of each, its bytes past that
// terminator cleared in both, compares in the symbol order as a key does.
bool LessPastKeys(const SymbolName& a, const SymbolName& b) {
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

// The partition's scans look at blocks of this many entries, and at each
// entry without a branch on its comparison: where the entries' order is
// random, a branch on each would be mispredicted every other time. What the
// blocks leave, the last region, is at most three blocks long.
constexpr LONG_PTR ScanBlock = 32;
constexpr LONG_PTR LastRegionMost = 3 * ScanBlock;
static_assert(ScanBlock % 4 == 0 && LastRegionMost <= 256, "a block is passed four keys at a time, offsets are bytes");

// The offsets within a block of the entries that a scan found: the left
// scan's entries that are not less than the pivot, the right scan's
// entries that are, in the order the scan met them.
struct FoundOffsets {
    BYTE At[ScanBlock];
    LONG_PTR Base;  // the block's first index (left) or last index (right)
    int Next;       // the first offset not yet paired
    int Count;      // offsets not yet paired
};

// Whether the entry is less than the pivot, without a branch unless both
// its keys equal the pivot's.
WORD_ROUTINE_INLINE bool LessThanPivot(const SymbolList& list, LONG_PTR i, const HeldEntry& pivot) {
    ULONGLONG key = list.Keys[i];
    ULONGLONG next = list.Names[i].NextKey;
    bool less = (key < pivot.Key) | ((key == pivot.Key) & (next < pivot.Name.NextKey));
    if ((key == pivot.Key) & (next == pivot.Name.NextKey)) less = LessPastKeys(list.Names[i], pivot.Name);
    return less;
}

// Whether every entry from first to last lies on one side of the pivot by
// its first key alone: in a list nearly in order whole blocks do, and are
// passed with no more than a look at their keys.
// Blocks hold a multiple of four entries.
bool AllKeysBelow(const ULONGLONG* keys, LONG_PTR first, LONG_PTR last, ULONGLONG key) {
    LONG_PTR i = first;
    while (i + 3 <= last && keys[i] < key && keys[i + 1] < key && keys[i + 2] < key && keys[i + 3] < key) i += 4;
    return i > last;
}

bool AllKeysAbove(const ULONGLONG* keys, LONG_PTR first, LONG_PTR last, ULONGLONG key) {
    LONG_PTR i = last;
    while (i - 3 >= first && keys[i] > key && keys[i - 1] > key && keys[i - 2] > key && keys[i - 3] > key) i -= 4;
    return i < first;
}

void ScanLeftBlock(const SymbolList& list, LONG_PTR first, const HeldEntry& pivot, FoundOffsets& found) {
    found = FoundOffsets{{}, first, 0, 0};
    if (AllKeysBelow(list.Keys, first, first + ScanBlock - 1, pivot.Key)) return;
    for (int k = 0; k < ScanBlock; ++k) {
        found.At[found.Count] = static_cast<BYTE>(k);
        found.Count += !LessThanPivot(list, first + k, pivot);
    }
}

void ScanRightBlock(const SymbolList& list, LONG_PTR last, const HeldEntry& pivot, FoundOffsets& found) {
    found = FoundOffsets{{}, last, 0, 0};
    if (AllKeysAbove(list.Keys, last - ScanBlock + 1, last, pivot.Key)) return;
    for (int k = 0; k < ScanBlock; ++k) {
        found.At[found.Count] = static_cast<BYTE>(k);
        found.Count += LessThanPivot(list, last - k, pivot);
    }
}

// Partitions first..last, a region whose entries before it are all less
// than the pivot and whose entries after it all are not, and gives the
// index where the pivot belongs: after the region's entries that are less.
// Its entries of each kind are found in one pass, then swapped in pairs as
// the plain partition swaps them.
LONG_PTR PartitionLastRegion(SymbolList& list, LONG_PTR first, LONG_PTR last, const HeldEntry& pivot) {
    BYTE notLess[LastRegionMost];
    BYTE less[LastRegionMost];
    int notLessCount = 0;
    int lessCount = 0;
    for (LONG_PTR i = first; i <= last; ++i) {
        bool isLess = LessThanPivot(list, i, pivot);
        notLess[notLessCount] = less[lessCount] = static_cast<BYTE>(i - first);
        notLessCount += !isLess;
        lessCount += isLess;
    }
    for (int k = 0; k < notLessCount && k < lessCount && notLess[k] < less[lessCount - 1 - k]; ++k)
        Swap(list, first + notLess[k], first + less[lessCount - 1 - k]);
    return first + lessCount;
}

// Partitions low..high - 1 around the pivot at high and gives the index
// where the pivot belongs. The entries end where the plain partition puts
// them: it swaps the k-th entry from the left that is not less than the
// pivot with the k-th from the right that is, for as long as the first
// lies left of the second. The scans find those entries block by block from
// both ends and swap them in pairs; once fewer than two blocks are left,
// the last region is the unpaired rest, from the first entry a pair still
// lacks to the last.
LONG_PTR Partition(SymbolList& list, LONG_PTR low, LONG_PTR high, const HeldEntry& pivot) {
    LONG_PTR left = low;        // the first entry no scan has looked at
    LONG_PTR right = high - 1;  // the last such entry
    FoundOffsets notLess{{}, low, 0, 0};
    FoundOffsets less{{}, high - 1, 0, 0};
    while (right - left + 1 >= 2 * ScanBlock) {
        if (notLess.Count == 0) ScanLeftBlock(list, left, pivot, notLess), left += ScanBlock;
        if (less.Count == 0) ScanRightBlock(list, right, pivot, less), right -= ScanBlock;
        int pairs = notLess.Count < less.Count ? notLess.Count : less.Count;
        for (int k = 0; k < pairs; ++k)
            Swap(list, notLess.Base + notLess.At[notLess.Next + k], less.Base - less.At[less.Next + k]);
        notLess.Next += pairs, notLess.Count -= pairs;
        less.Next += pairs, less.Count -= pairs;
    }
    LONG_PTR first = notLess.Count > 0 ? notLess.Base + notLess.At[notLess.Next] : left;
    LONG_PTR last = less.Count > 0 ? less.Base - less.At[less.Next] : right;
    return PartitionLastRegion(list, first, last, pivot);
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
    LONG_PTR i = Partition(list, low, high, Held(list, high));
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
