// Eight bytes at a time: the loads, the byte tests and the one scan behind
// the reader, the symbol order, the decoration split and the line builder.
//
// A text handed to these word paths lies in a block that holds at least
// ReadSlack more bytes after it: the library image's padding behind the
// symbol table, the padded templates (PaddedText), the parameter list's
// buffer. The paths read whole words, the last of which may reach up to
// seven bytes past the text; those bytes never decide a result. Every read
// stays inside its block, so the address sanitizer checks these paths as
// they ship.
#pragma once

#include "win32.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a string is the lowest of a word");

// Hot word routines are forced inline into their loops.
#define WORD_ROUTINE_INLINE inline __attribute__((always_inline))

// Bytes past a text that a word path may read: the slack each block keeps.
constexpr SIZE_T ReadSlack = 8;

typedef ULONGLONG __attribute__((may_alias, aligned(1))) UnalignedQword;

constexpr ULONGLONG RepeatedByte(BYTE value) { return 0x0101010101010101ull * value; }

inline ULONGLONG LoadQword(const void* at) { return *static_cast<const UnalignedQword*>(at); }

inline void StoreQword(void* at, ULONGLONG word) { *static_cast<UnalignedQword*>(at) = word; }

// The top bit of each zero byte of the word. The lowest marked byte is always
// a real zero; a byte above a zero may be marked without being one.
constexpr ULONGLONG ZeroBytes(ULONGLONG word) { return (word - RepeatedByte(1)) & ~word & RepeatedByte(0x80); }

// The top bit of each byte below 'limit' (at most 0x80). As with ZeroBytes,
// the lowest marked byte is always a real one.
constexpr ULONGLONG BytesBelow(ULONGLONG word, BYTE limit) {
    return (word - RepeatedByte(limit)) & ~word & RepeatedByte(0x80);
}

// The top bit of each byte equal to 'value' (the lowest is a real one).
constexpr ULONGLONG BytesEqualTo(ULONGLONG word, BYTE value) { return ZeroBytes(word ^ RepeatedByte(value)); }

// The top bit of each byte that is not zero; exact, with no false marks.
constexpr ULONGLONG NonZeroBytes(ULONGLONG word) {
    return (((word & RepeatedByte(0x7F)) + RepeatedByte(0x7F)) | word) & RepeatedByte(0x80);
}

// The index (0..7) of the lowest byte that has a mark.
inline unsigned LowestMarkedByte(ULONGLONG marks) { return static_cast<unsigned>(__builtin_ctzll(marks)) >> 3; }

// The word bits that hold the first 'count' bytes (at most eight): in a
// loaded word the bytes of the text, without those of the slack.
constexpr ULONGLONG LowBytes(SIZE_T count) { return count >= 8 ? ~0ull : (1ull << (8 * count)) - 1; }

// Copies 'count' bytes in whole words: reads up to seven bytes past the
// source's and writes up to seven past the destination's.
WORD_ROUTINE_INLINE void CopyWithSlack(char* destination, const char* source, SIZE_T count) {
    for (SIZE_T i = 0; i < count; i += 8) StoreQword(destination + i, LoadQword(source + i));
}

// The one scan: the index of the first of 'length' bytes that 'marks'
// flags, or 'length' when none is. marks(at) gives, for the word at index
// 'at', the top bit of each flagged byte, as ZeroBytes does: its lowest mark
// must be a real one. Marks at or past 'length' are ignored.
template <typename Marks>
WORD_ROUTINE_INLINE SIZE_T FirstMarkedByte(SIZE_T length, Marks marks) {
    for (SIZE_T at = 0; at < length; at += 8) {
        ULONGLONG found = marks(at);
        if (found != 0) {
            SIZE_T index = at + LowestMarkedByte(found);
            return index < length ? index : length;
        }
    }
    return length;
}

// Eight bytes as one number whose unsigned order is the symbol order of the
// bytes: the first byte becomes the highest, and each byte's sign bit is
// flipped so that a signed byte compares as an unsigned one.
constexpr ULONGLONG SymbolOrderKey(ULONGLONG word) { return __builtin_bswap64(word ^ RepeatedByte(0x80)); }
