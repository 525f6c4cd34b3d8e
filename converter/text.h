// Text routines over NUL-terminated 8-bit strings, the one line builder
// (FormatText) and the growable text buffers that hold whatever a path, a
// name or an include file needs.
#pragma once

#include "win32.h"

SIZE_T StrLen(const char* text);
SIZE_T StrCopy(const char* source, char* destination);
void StrAppend(char* destination, const char* source);
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
void CopyDirectoryPart(const char* path, char* destination);
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

// A heap text that grows on demand; Data always ends in a NUL.
struct TextBuffer {
    char* Data;
    SIZE_T Length;
    SIZE_T Capacity;
};

// Makes room for 'extra' more bytes and a NUL; ends the run with
// "memory allocation failure" when the heap has no more.
void ReserveText(TextBuffer& buffer, SIZE_T extra);
void ReleaseText(TextBuffer& buffer);
void SetText(TextBuffer& buffer, const char* text);
void AppendText(TextBuffer& buffer, const char* text);

template <typename... Strings>
void AppendFormatted(TextBuffer& buffer, const char* templateText, Strings... arguments) {
    const char* list[sizeof...(arguments) + 1] = {arguments..., nullptr};
    ReserveText(buffer, FormattedLength(templateText, list, sizeof...(arguments)));
    buffer.Length += FormatTextList(buffer.Data + buffer.Length, templateText, list, sizeof...(arguments));
}

// How a run ends: every library converted, a failure message printed, or
// the usage banner shown.
enum class ExitStatus : UINT { Converted = 0, Failed = 1, Usage = 2 };

// Prints the message and ends the process with ExitStatus::Failed.
[[noreturn]] void FailRun(const char* message);

// Heap blocks for the whole converter, always zero-filled. AllocateOrFail ends the run with
// "memory allocation failure" instead of returning null.
void* AllocateOrFail(SIZE_T bytes);
void FreeBlock(void* block);
void CopyBytes(void* destination, const void* source, SIZE_T count);
