#include "text.h"

#include "word_access.h"

// Byte by byte: the texts measured here are short and few (the command
// line, paths, messages); names and templates carry their lengths.
SIZE_T StrLen(const char* text) {
    SIZE_T n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

bool BytesEqual(const char* a, const char* b, SIZE_T count) {
    return FirstMarkedByte(count, [a, b](SIZE_T at) { return NonZeroBytes(LoadQword(a + at) ^ LoadQword(b + at)); }) ==
           count;
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

void CopyBytes(void* destination, const void* source, SIZE_T count) {
    char* to = static_cast<char*>(destination);
    const char* from = static_cast<const char*>(source);
    SIZE_T i = 0;
    for (; count - i >= 8; i += 8) StoreQword(to + i, LoadQword(from + i));
    for (; i < count; ++i) to[i] = from[i];
}

SIZE_T FormatTextList(char* destination, TextSpan templateText, const TextSpan* arguments, SIZE_T argumentCount) {
    SIZE_T n = 0;
    SIZE_T next = 0;
    for (SIZE_T i = 0; i < templateText.Length; ++i) {
        char c = templateText.Data[i];
        if (c != '%') {
            destination[n++] = c;
        } else if (next < argumentCount) {
            // The argument is copied unchanged: a '%' in it is plain text.
            const TextSpan& argument = arguments[next++];
            CopyBytes(destination + n, argument.Data, argument.Length);
            n += argument.Length;
        }
    }
    destination[n] = '\0';
    return n;
}

SIZE_T FormattedLength(TextSpan templateText, const TextSpan* arguments, SIZE_T argumentCount) {
    SIZE_T n = 0;
    SIZE_T next = 0;
    for (SIZE_T i = 0; i < templateText.Length; ++i) {
        if (templateText.Data[i] != '%')
            ++n;
        else if (next < argumentCount)
            n += arguments[next++].Length;
    }
    return n;
}
