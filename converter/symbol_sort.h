// Orders the symbol names in place: a quicksort with a depth limit, and a
// comb sort ending in an insertion sort when the limit is reached. The
// order: byte by byte, each byte a signed 8-bit value, the terminator
// taking part as 0; most pairs are told apart by their first keys alone.
#pragma once

#include "library_reader.h"

constexpr int QuickSortDepthLimit = 100;

enum class SortOutcome { Finished, Abandoned };

void SortSymbols(SymbolList& list);
SortOutcome QuickSortLimited(SymbolList& list, LONG_PTR low, LONG_PTR high, int depth, int depthLimit);
void CombSort(SymbolList& list);
void InsertionSort(SymbolList& list);

// The comb sort's gap rules: round(gap / 1.35) - 1 before a forward pass and
// round(gap / 1.4) - 1 before a backward pass, with 9 and 10 made 11.
// Public so that their integer arithmetic can be checked against the
// rounded division over a wide range.
SIZE_T ForwardGap(SIZE_T gap);
SIZE_T BackwardGap(SIZE_T gap);
