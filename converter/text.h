// Text routines over 8-bit strings, and the one line builder (FormatText).
// Names and templates travel with their lengths (TextSpan); the few texts
// that arrive without one (the command line, a listed file name) are
// measured once with StrLen.
#pragma once

#include "win32.h"

// A run of bytes that holds no NUL, with its length. Data need not end in a
// NUL: the bytes past Length are never read.
struct TextSpan {
    const char* Data;
    SIZE_T Length;
};

// A constant text stored with eight zero bytes after its NUL, so that the
// word paths may read it (the templates of the include file's lines).
template <SIZE_T N>
struct PaddedText {
    char Bytes[N + 8];
    constexpr PaddedText(const char (&text)[N]) : Bytes{} {
        for (SIZE_T i = 0; i < N; ++i) Bytes[i] = text[i];
    }
    constexpr TextSpan Span() const { return TextSpan{Bytes, N - 1}; }
};

// The empty text, padded.
constexpr PaddedText NoText("");

// A line template cut once, when the program is built, at its (at most two)
// placeholders: the text before the first argument, between the two, and
// after the second. The pieces are padded for the word paths.
struct LineShape {
    TextSpan Before;
    TextSpan Between;
    TextSpan After;
};

template <SIZE_T N>
constexpr LineShape ShapeOf(const PaddedText<N>& text) {
    SIZE_T cuts[2] = {N - 1, N - 1};
    SIZE_T found = 0;
    for (SIZE_T i = 0; i + 1 < N && found < 2; ++i)
        if (text.Bytes[i] == '%') cuts[found++] = i;
    const char* bytes = text.Bytes;
    SIZE_T afterFirst = found > 0 ? cuts[0] + 1 : N - 1;
    SIZE_T afterSecond = found > 1 ? cuts[1] + 1 : N - 1;
    return LineShape{TextSpan{bytes, cuts[0]}, TextSpan{bytes + afterFirst, cuts[1] - afterFirst},
                     TextSpan{bytes + afterSecond, N - 1 - afterSecond}};
}

SIZE_T StrLen(const char* text);
// The span of a NUL-terminated string.
inline TextSpan SpanOf(const char* text) { return TextSpan{text, StrLen(text)}; }
// True when the first 'count' bytes of a and b are the same. Reads whole
// words: each text must be followed by eight readable bytes.
bool BytesEqual(const char* a, const char* b, SIZE_T count);
// The equality the skip rules use: the same bytes, and not empty. Two empty
// names never count as equal.
inline bool SameNonEmptyText(TextSpan a, TextSpan b) {
    return a.Length != 0 && a.Length == b.Length && BytesEqual(a.Data, b.Data, a.Length);
}
// Copies the path and ends the copy right after its last '\' or '/'.
void CopyDirectoryPart(char* destination, const char* path);
// True when the byte stands in the text before its NUL.
bool HoldsByte(const char* text, char byte);
void WriteConsoleText(const char* text);
// Copies exactly 'count' bytes.
void CopyBytes(void* destination, const void* source, SIZE_T count);

// Copies the template, putting the next argument in place of each '%'; a
// '%' with no argument left adds nothing. Writes a NUL after the result and
// returns the number of bytes before it.
SIZE_T FormatTextList(char* destination, TextSpan templateText, const TextSpan* arguments, SIZE_T argumentCount);
// The length FormatTextList will write, so that callers can make room first.
SIZE_T FormattedLength(TextSpan templateText, const TextSpan* arguments, SIZE_T argumentCount);
