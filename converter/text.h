// Text routines over NUL-terminated 8-bit strings, and the one line builder
// (FormatText).
#pragma once

#include "win32.h"

SIZE_T StrLen(const char* text);
// Copies the source with its NUL; returns the number of bytes before the NUL.
SIZE_T StrCopy(char* destination, const char* source);
// The common length when both are equal byte for byte, otherwise 0; two
// empty strings give 0 as well, so they never count as equal. Despite the
// name, callers read it as a yes or no: non-zero means equal.
SIZE_T StrEqualLength(const char* a, const char* b);
// True when the first 'count' bytes of a and b are the same; reads no further.
bool BytesEqual(const char* a, const char* b, SIZE_T count);
// StrEqualLength's verdict for texts whose lengths are known: the same text,
// and not an empty one.
bool SameNonEmptyText(const char* a, SIZE_T aLength, const char* b, SIZE_T bLength);
// Copies the path and ends the copy right after its last '\' or '/'.
void CopyDirectoryPart(char* destination, const char* path);
// True when the byte stands in the text before its NUL.
bool HoldsByte(const char* text, char byte);
void WriteConsoleText(const char* text);

// Copies the template, putting the next argument in place of each '%'.
// Returns the number of bytes written before the closing NUL.
SIZE_T FormatTextList(char* destination, const char* templateText, const char* const* arguments, SIZE_T argumentCount);
// FormatTextList for a destination with FormatSlack bytes of room past the
// result's NUL: it may write into them, which spares it a byte-wise copy of
// each piece's last few bytes.
constexpr SIZE_T FormatSlack = 8;
SIZE_T FormatTextListWithSlack(char* destination, const char* templateText, const char* const* arguments,
                               SIZE_T argumentCount);
// The length FormatTextList will write, so that callers can make room first.
SIZE_T FormattedLength(const char* templateText, const char* const* arguments, SIZE_T argumentCount);

template <typename... Strings>
SIZE_T FormatText(char* destination, const char* templateText, Strings... arguments) {
    const char* list[sizeof...(arguments) + 1] = {arguments..., nullptr};
    return FormatTextList(destination, templateText, list, sizeof...(arguments));
}

// Copies exactly 'count' bytes.
void CopyBytes(void* destination, const void* source, SIZE_T count);
