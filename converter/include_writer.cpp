#include "include_writer.h"

#include "settings.h"

namespace {

// Name buffers reused for every entry of every library.
TextBuffer NameBuffer;
TextBuffer NextNameBuffer;

constexpr char EquTemplate[] = "% equ <%A>\r\n\r\n";
constexpr char ExternProcTemplate[] = "EXTRN %:PROC\r\n";
constexpr char AnsiBlockStart[] = "\r\nif ~ defined __UNICODE__\r\n   ";
constexpr char UnicodeBlockStart[] = "\r\nif defined __UNICODE__\r\n   ";
constexpr char BlockEnd[] = "end if\r\n\r\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsVariantLetter(char c) { return c == 'A' || c == 'W'; }

char LastChar(const TextBuffer& name) { return name.length == 0 ? '\0' : name.data[name.length - 1]; }

void DropLastChar(TextBuffer& name) { name.data[--name.length] = '\0'; }

// The name from its second character on: in 32-bit libraries every cdecl
// and stdcall name begins with an underscore, which this drops.
const char* WithoutFirstChar(const TextBuffer& name) { return name.length < 2 ? "" : name.data + 1; }

const char* NameArgument(const TextBuffer& name, bool keepFirstChar) {
    return keepFirstChar ? name.data : WithoutFirstChar(name);
}

SIZE_T BuildList(char* buffer, int count, const char* item) {
    SIZE_T n = 0;
    for (int i = 0; i < count; ++i) n += StrCopy(item, buffer + n);
    if (count > 0) --n;  // the last comma gives way to the line end
    return n + StrCopy("\r\n", buffer + n);
}

// Of two equal neighbours the first gets no line, and a name gets none
// when the next entry's BaseName is its own with one 'A' or 'W' added.
bool IsSkipped(const char* entry, const char* next) {
    if (StrEqualLength(entry, next) != 0) return true;
    SplitDecoration(next, NextNameBuffer);
    if (!IsVariantLetter(LastChar(NextNameBuffer))) return false;
    DropLastChar(NextNameBuffer);
    return StrEqualLength(NextNameBuffer.data, NameBuffer.data) != 0;
}

void WritePrototypeLines(const SplitName& split, TextBuffer& output) {
    bool keepFirstChar = Settings.KeepFirstChar != 0;
    if (split.DecorationDigits == nullptr) {
        if (Settings.Mode == OutputMode::Lzasm)
            AppendFormatted(output, ExternProcTemplate, WithoutFirstChar(NameBuffer));
        else
            AppendFormatted(output, Settings.VarargTemplate, NameArgument(NameBuffer, keepFirstChar));
    } else {
        int count = ParamCountFromDecoration(split.DecorationDigits);
        if (count < 0) return;
        char list[ParamListCapacity + 1];
        Settings.ParamListBuilder(list, count);
        AppendFormatted(output, Settings.LineTemplate, NameArgument(NameBuffer, keepFirstChar), list);
    }
    if (LastChar(NameBuffer) == Settings.PreferredLetter) {
        DropLastChar(NameBuffer);
        const char* generic = NameArgument(NameBuffer, keepFirstChar);
        AppendFormatted(output, EquTemplate, generic, generic);
    }
}

}  // namespace

SplitName SplitDecoration(const char* entry, TextBuffer& buffer) {
    SIZE_T base = 0;
    if (entry[0] != '\0') ++base;  // an '@' in first place is part of the name
    while (entry[base] != '\0' && entry[base] != '@') ++base;
    buffer.length = 0;
    ReserveText(buffer, base);
    CopyBytes(buffer.data, entry, base);
    buffer.data[base] = '\0';
    buffer.length = base;
    return SplitName{base, entry[base] == '@' ? entry + base + 1 : nullptr};
}

int ParamCountFromDecoration(const char* digits) {
    if (!IsDigit(digits[0])) return -1;
    int value = digits[0] - '0';
    if (digits[1] != '\0') {
        if (!IsDigit(digits[1])) return -1;
        value = value * 10 + (digits[1] - '0');
    }
    return value / 4;
}

SIZE_T BuildDwordList(char* buffer, int count) { return BuildList(buffer, count, ":DWORD,"); }
SIZE_T BuildQwordList(char* buffer, int count) { return BuildList(buffer, count, ":QWORD,"); }

void GenerateIncludeText(const SymbolList& symbols, TextBuffer& output) {
    for (SIZE_T i = 0; i < symbols.Count; ++i) {
        const char* entry = symbols.Names[i];
        SplitName split = SplitDecoration(entry, NameBuffer);
        if (i + 1 < symbols.Count && IsSkipped(entry, symbols.Names[i + 1])) continue;
        switch (Settings.Mode) {
            case OutputMode::Prototypes:
            case OutputMode::StdcallPrototypes:
            case OutputMode::Lzasm:
                WritePrototypeLines(split, output);
                break;
            case OutputMode::FasmBothCharsets:
            case OutputMode::Solasm:
            case OutputMode::FasmOneCharset:
                WriteDefinitionLines(entry, NameBuffer, output);
                break;
        }
    }
}

void WriteDefinitionLines(const char* entry, TextBuffer& baseName, TextBuffer& output) {
    char marker = LastChar(baseName);
    if (Settings.Mode == OutputMode::FasmOneCharset && marker == OtherLetter(Settings.PreferredLetter)) return;
    if (IsVariantLetter(marker))
        DropLastChar(baseName);
    else
        marker = '\0';
    switch (Settings.Mode) {
        case OutputMode::FasmBothCharsets:
            if (marker == 'A') AppendFormatted(output, "%", AnsiBlockStart);
            if (marker == 'W') AppendFormatted(output, "%", UnicodeBlockStart);
            AppendFormatted(output, Settings.LineTemplate, entry, WithoutFirstChar(baseName));
            if (marker != '\0') AppendFormatted(output, "%", BlockEnd);
            break;
        case OutputMode::FasmOneCharset:
            AppendFormatted(output, Settings.LineTemplate, entry, WithoutFirstChar(baseName));
            break;
        default:  // SOLASM: a 'W' stays in the alias name, an 'A' does not
            if (marker == 'W') AppendText(baseName, "W");
            AppendFormatted(output, Settings.LineTemplate, WithoutFirstChar(baseName), entry);
            break;
    }
}
