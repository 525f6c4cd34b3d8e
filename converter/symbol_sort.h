// Orders the symbol names in place: a quicksort with a depth limit, and a
// comb sort ending in an insertion sort when the limit is reached.
#pragma once

#include "win32.h"

// The symbol order: byte by byte, each byte a signed 8-bit value, the NUL
// taking part as 0. Negative, zero or positive like strcmp.
int CompareSymbols(const char* a, const char* b);

constexpr int QuickSortDepthLimit = 100;

enum class SortOutcome { Finished, Abandoned };

void SortSymbols(char** list, SIZE_T count);
SortOutcome QuickSortLimited(char** list, LONG_PTR low, LONG_PTR high, int depth, int depthLimit);
void CombSort(char** list, SIZE_T count);
void InsertionSort(char** list, SIZE_T count);

// The comb sort's gap rules: round(gap / 1.35) - 1 before a forward pass and
// round(gap / 1.4) - 1 before a backward pass, with 9 and 10 made 11.
SIZE_T ForwardGap(SIZE_T gap);
SIZE_T BackwardGap(SIZE_T gap);
