// Heap texts that grow to hold whatever a path, a name or an include file
// needs.
#pragma once

#include "text.h"

// Data always ends in a NUL; Length counts the bytes before it.
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
void AppendSpan(TextBuffer& buffer, TextSpan text);

template <typename... Strings>
void AppendFormatted(TextBuffer& buffer, const char* templateText, Strings... arguments) {
    const TextSpan list[sizeof...(arguments) + 1] = {SpanOf(arguments)..., TextSpan{"", 0}};
    TextSpan shape = SpanOf(templateText);
    ReserveText(buffer, FormattedLength(shape, list, sizeof...(arguments)));
    buffer.Length += FormatTextList(buffer.Data + buffer.Length, shape, list, sizeof...(arguments));
}
