// Eight bytes at a time: the loads and tests behind the fast paths of the
// string routines, the symbol comparison and the reader's scans.
//
// A load may take bytes past a name's terminator. Such a load never leaves
// the 4 KiB page of its first byte (QwordFitsInPage), so it cannot fault, and
// the bytes past the terminator never decide a result. The address sanitizer
// would still report them, hence the exemption on these helpers and their
// callers (the same one that every libc string routine has).
#pragma once

#include "win32.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a string is the lowest of a word");

#define READS_WHOLE_WORDS __attribute__((no_sanitize("address")))

// Hot word routines are forced inline into their loops, except under the
// address sanitizer, which refuses to inline an exempt routine into a
// checked one.
#if defined(__SANITIZE_ADDRESS__)
#define WORD_ROUTINE_INLINE inline
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WORD_ROUTINE_INLINE inline
#endif
#endif
#ifndef WORD_ROUTINE_INLINE
#define WORD_ROUTINE_INLINE inline __attribute__((always_inline))
#endif

typedef ULONGLONG __attribute__((may_alias, aligned(1))) UnalignedQword;

constexpr ULONGLONG RepeatedByte(BYTE value) { return 0x0101010101010101ull * value; }

READS_WHOLE_WORDS inline ULONGLONG LoadQword(const void* at) { return *static_cast<const UnalignedQword*>(at); }

inline void StoreQword(void* at, ULONGLONG word) { *static_cast<UnalignedQword*>(at) = word; }

// True when the eight bytes from 'at' lie in one 4 KiB page.
inline bool QwordFitsInPage(const void* at) { return (reinterpret_cast<ULONG_PTR>(at) & 4095) <= 4096 - 8; }

// The top bit of each zero byte of the word. The lowest marked byte is always
// a real zero; a byte above a zero may be marked without being one.
constexpr ULONGLONG ZeroBytes(ULONGLONG word) { return (word - RepeatedByte(1)) & ~word & RepeatedByte(0x80); }

// The index (0..7) of the lowest byte that has a mark.
inline unsigned LowestMarkedByte(ULONGLONG marks) { return static_cast<unsigned>(__builtin_ctzll(marks)) >> 3; }

#if defined(__SSE2__)
// Sixteen bytes, compared lane by lane with the vector unit.
typedef char Oword __attribute__((vector_size(16), may_alias, aligned(1)));

READS_WHOLE_WORDS inline Oword LoadOword(const void* at) { return *static_cast<const Oword*>(at); }

// True when the sixteen bytes from 'at' lie in one 4 KiB page.
inline bool OwordFitsInPage(const void* at) { return (reinterpret_cast<ULONG_PTR>(at) & 4095) <= 4096 - 16; }
#endif
