// 64-bit unsigned division from 64-bit shifts, compares and subtractions
// only: 32-bit x86 has no instruction for it, and the compiler's own helper
// lives in the C runtime these programs don't link. A header so that the
// tests can run it on the build machine too.
#pragma once

#include "win32.h"

// Shift-and-subtract long division, one quotient bit per step. Division by
// zero yields an all-ones quotient and the dividend as remainder, where the
// hardware would fault.
inline ULONGLONG DivideUnsigned(ULONGLONG dividend, ULONGLONG divisor, ULONGLONG* remainder) {
    ULONGLONG quotient = 0;
    ULONGLONG rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        rest = (rest << 1) | ((dividend >> bit) & 1);
        if (rest >= divisor) {
            rest -= divisor;
            quotient |= 1ull << bit;
        }
    }
    *remainder = rest;
    return quotient;
}
