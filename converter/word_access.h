// Eight or sixteen bytes at a time: the loads and tests behind the fast
// paths of the string routines, the symbol comparison and the reader's scans.
//
// A load may take bytes past a name's terminator. Such a load never leaves
// the 4 KiB page of its first byte (QwordFitsInPage, OwordFitsInPage), so it
// cannot fault, and the bytes past the terminator never decide a result.
// The address sanitizer would still report them; so a sanitized build (the
// sanitizer tests and the fuzzer) takes the byte-at-a-time paths instead,
// and the sanitizer sees every read of untrusted input. The guard-page unit
// tests keep the word paths honest in the normal build.
#pragma once

#include "sanitizer.h"
#include "win32.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a string is the lowest of a word");

// False in a sanitized build: every fast path that reads past a terminator
// gives way to its byte-at-a-time path.
constexpr bool WholeWordReads = CARVEX_ADDRESS_SANITIZER == 0;

// Hot word routines are forced inline into their loops.
#define WORD_ROUTINE_INLINE inline __attribute__((always_inline))

typedef ULONGLONG __attribute__((may_alias, aligned(1))) UnalignedQword;

constexpr ULONGLONG RepeatedByte(BYTE value) { return 0x0101010101010101ull * value; }

inline ULONGLONG LoadQword(const void* at) { return *static_cast<const UnalignedQword*>(at); }

inline void StoreQword(void* at, ULONGLONG word) { *static_cast<UnalignedQword*>(at) = word; }

// True when the eight bytes from 'at' lie in one 4 KiB page.
inline bool QwordFitsInPage(const void* at) {
    return WholeWordReads && (reinterpret_cast<ULONG_PTR>(at) & 4095) <= 4096 - 8;
}

// The top bit of each zero byte of the word. The lowest marked byte is always
// a real zero; a byte above a zero may be marked without being one.
constexpr ULONGLONG ZeroBytes(ULONGLONG word) { return (word - RepeatedByte(1)) & ~word & RepeatedByte(0x80); }

// The top bit of each byte below 'limit' (at most 0x80). As with ZeroBytes,
// the lowest marked byte is always a real one.
constexpr ULONGLONG BytesBelow(ULONGLONG word, BYTE limit) {
    return (word - RepeatedByte(limit)) & ~word & RepeatedByte(0x80);
}

// The index (0..7) of the lowest byte that has a mark.
inline unsigned LowestMarkedByte(ULONGLONG marks) { return static_cast<unsigned>(__builtin_ctzll(marks)) >> 3; }

// True when the sixteen bytes from 'at' lie in one 4 KiB page.
inline bool OwordFitsInPage(const void* at) {
    return WholeWordReads && (reinterpret_cast<ULONG_PTR>(at) & 4095) <= 4096 - 16;
}

#if defined(__SSE2__)
// Sixteen bytes, compared lane by lane with the vector unit.
typedef char Oword __attribute__((vector_size(16), may_alias, aligned(1)));

inline Oword LoadOword(const void* at) { return *static_cast<const Oword*>(at); }
#endif

// Eight bytes as one number whose unsigned order is the symbol order of the
// bytes: the first byte becomes the highest, and each byte's sign bit is
// flipped so that a signed byte compares as an unsigned one.
constexpr ULONGLONG SymbolOrderKey(ULONGLONG word) { return __builtin_bswap64(word ^ RepeatedByte(0x80)); }

// The first index at which the two texts differ or a ends: there a[n] and
// b[n] differ, or both are the terminator.
WORD_ROUTINE_INLINE SIZE_T MismatchOrEnd(const char* a, const char* b) {
    SIZE_T n = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time where the vector unit is there: one mask of
    // the bytes that differ or end a, whose lowest bit names the place. Most
    // names are decided within their first sixteen bytes, so the loop rarely
    // goes round and its branch is rarely mispredicted.
    while (OwordFitsInPage(a + n) && OwordFitsInPage(b + n)) {
        Oword x = LoadOword(a + n);
        unsigned marks = static_cast<unsigned>(__builtin_ia32_pmovmskb128((x != LoadOword(b + n)) | (x == 0)));
        if (marks != 0) return n + static_cast<unsigned>(__builtin_ctz(marks));
        n += 16;
    }
#endif
    for (;;) {
        if (QwordFitsInPage(a + n) && QwordFitsInPage(b + n)) {
            ULONGLONG x = LoadQword(a + n);
            ULONGLONG marks = (x ^ LoadQword(b + n)) | ZeroBytes(x);
            if (marks != 0) return n + LowestMarkedByte(marks);
            n += 8;
            continue;
        }
        // Near a page end: one byte, then words again.
        if (a[n] != b[n] || a[n] == '\0') return n;
        ++n;
    }
}
