#include "text_buffer.h"

#include "run.h"

void ReserveText(TextBuffer& buffer, SIZE_T extra) {
    constexpr SIZE_T Largest = ~static_cast<SIZE_T>(0) / 2;
    if (extra >= Largest - buffer.Length) FailRun("memory allocation failure");
    SIZE_T needed = buffer.Length + extra + 1;
    if (needed <= buffer.Capacity) return;
    SIZE_T capacity = buffer.Capacity < 256 ? 256 : buffer.Capacity;
    while (capacity < needed) capacity *= 2;
    char* grown = static_cast<char*>(AllocateOrFail(capacity));
    if (buffer.Data != nullptr) CopyBytes(grown, buffer.Data, buffer.Length + 1);
    FreeBlock(buffer.Data);
    buffer.Data = grown;
    buffer.Capacity = capacity;
}

void ReleaseText(TextBuffer& buffer) {
    FreeBlock(buffer.Data);
    buffer = TextBuffer{};
}

void SetText(TextBuffer& buffer, const char* text) {
    buffer.Length = 0;
    AppendText(buffer, text);
}

void AppendText(TextBuffer& buffer, const char* text) { AppendSpan(buffer, SpanOf(text)); }

void AppendSpan(TextBuffer& buffer, TextSpan text) {
    ReserveText(buffer, text.Length);
    CopyBytes(buffer.Data + buffer.Length, text.Data, text.Length);
    buffer.Length += text.Length;
    buffer.Data[buffer.Length] = '\0';
}
