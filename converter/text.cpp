#include "text.h"

#include "word_access.h"

namespace {

// The bytes that stop FormatText's plain copy: the NUL and the '%'.
struct SpecialChars {
    BYTE IsSpecial[256];
};
constexpr SpecialChars MakeSpecialCharTable() {
    SpecialChars table{};
    table.IsSpecial[0] = 1;
    table.IsSpecial[static_cast<BYTE>('%')] = 1;
    return table;
}
constexpr SpecialChars SpecialCharTable = MakeSpecialCharTable();

}  // namespace

// Eight bytes at a time from the first aligned word on: an aligned word
// never crosses a page, and the bytes past the terminator are never used.
SIZE_T StrLen(const char* text) {
    const char* p = text;
    if (WholeWordReads) {
        for (; (reinterpret_cast<ULONG_PTR>(p) & 7) != 0; ++p)
            if (*p == '\0') return static_cast<SIZE_T>(p - text);
        while (ZeroBytes(LoadQword(p)) == 0) p += 8;
    }
    for (; *p != '\0'; ++p) {
    }
    return static_cast<SIZE_T>(p - text);
}

SIZE_T StrCopy(char* destination, const char* source) {
    SIZE_T n = 0;
    while ((destination[n] = source[n]) != '\0') ++n;
    return n;
}

SIZE_T StrEqualLength(const char* a, const char* b) {
    SIZE_T n = MismatchOrEnd(a, b);
    return a[n] == b[n] ? n : 0;  // equal there means both end there
}

bool BytesEqual(const char* a, const char* b, SIZE_T count) {
    SIZE_T i = 0;
    for (; i + 8 <= count; i += 8)
        if (LoadQword(a + i) != LoadQword(b + i)) return false;
    for (; i < count; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

bool SameNonEmptyText(const char* a, SIZE_T aLength, const char* b, SIZE_T bLength) {
    return aLength != 0 && aLength == bLength && BytesEqual(a, b, aLength);
}

void CopyDirectoryPart(char* destination, const char* path) {
    SIZE_T end = 0;
    for (SIZE_T i = 0; (destination[i] = path[i]) != '\0'; ++i)
        if (path[i] == '\\' || path[i] == '/') end = i + 1;
    destination[end] = '\0';
}

bool HoldsByte(const char* text, char byte) {
    for (; *text != '\0'; ++text)
        if (*text == byte) return true;
    return false;
}

void WriteConsoleText(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(StrLen(text)), &written, nullptr);
}

namespace {

// Copies the plain bytes at 'source' to destination + n: up to the NUL, and
// with stopAtPercent up to a '%' as well. Eight bytes at once while a load
// stays within its page; a word that holds a stopping byte gives the number
// of plain bytes before it. Without overshoot only bytes that belong to the
// result are written; with it the last word is stored whole, up to seven
// bytes past the result. 'source' is left on the byte that stopped the copy.
template <bool Overshoot>
WORD_ROUTINE_INLINE void CopyPlainRun(const char*& source, char* destination, SIZE_T& n, bool stopAtPercent) {
    for (;;) {
        if (QwordFitsInPage(source)) {
            ULONGLONG word = LoadQword(source);
            ULONGLONG marks = ZeroBytes(word);
            if (stopAtPercent) marks |= ZeroBytes(word ^ RepeatedByte('%'));
            if (marks == 0 || Overshoot) StoreQword(destination + n, word);
            if (marks == 0) {
                n += 8;
                source += 8;
                continue;
            }
            unsigned plain = LowestMarkedByte(marks);
            if (Overshoot) {
                n += plain;
                source += plain;
            } else {
                for (; plain > 0; --plain) destination[n++] = *source++;
            }
            return;
        }
        BYTE c = static_cast<BYTE>(*source);
        if (stopAtPercent ? SpecialCharTable.IsSpecial[c] != 0 : c == 0) return;
        destination[n++] = *source++;
    }
}

template <bool Overshoot>
SIZE_T FormatPieces(char* destination, const char* templateText, const char* const* arguments, SIZE_T argumentCount) {
    SIZE_T n = 0;
    SIZE_T next = 0;
    for (const char* t = templateText;; ++t) {
        CopyPlainRun<Overshoot>(t, destination, n, true);
        if (*t == '\0') {
            destination[n] = '\0';
            return n;
        }
        // A '%': the next argument, copied unchanged ('%' in it is plain).
        if (next < argumentCount) {
            const char* argument = arguments[next++];
            CopyPlainRun<Overshoot>(argument, destination, n, false);
        }
    }
}

}  // namespace

SIZE_T FormatTextList(char* destination, const char* templateText, const char* const* arguments, SIZE_T argumentCount) {
    return FormatPieces<false>(destination, templateText, arguments, argumentCount);
}

SIZE_T FormatTextListWithSlack(char* destination, const char* templateText, const char* const* arguments,
                               SIZE_T argumentCount) {
    return FormatPieces<true>(destination, templateText, arguments, argumentCount);
}

SIZE_T FormattedLength(const char* templateText, const char* const* arguments, SIZE_T argumentCount) {
    SIZE_T n = 0;
    SIZE_T next = 0;
    for (const char* t = templateText; *t != '\0'; ++t) {
        if (*t != '%')
            ++n;
        else if (next < argumentCount)
            n += StrLen(arguments[next++]);
    }
    return n;
}

void CopyBytes(void* destination, const void* source, SIZE_T count) {
    char* to = static_cast<char*>(destination);
    const char* from = static_cast<const char*>(source);
    SIZE_T i = 0;
    for (; i + 8 <= count; i += 8) StoreQword(to + i, LoadQword(from + i));
    for (; i < count; ++i) to[i] = from[i];
}
