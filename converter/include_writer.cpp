#include "include_writer.h"

#include "word_access.h"

namespace {

constexpr char EquTemplate[] = "% equ <%A>\r\n\r\n";
constexpr char AnsiBlockStart[] = "\r\nif ~ defined __UNICODE__\r\n   ";
constexpr char UnicodeBlockStart[] = "\r\nif defined __UNICODE__\r\n   ";
constexpr char BlockEnd[] = "end if\r\n\r\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsVariantLetter(char c) { return c == 'A' || c == 'W'; }

char LastChar(const TextBuffer& name) { return name.Length == 0 ? '\0' : name.Data[name.Length - 1]; }

void DropLastChar(TextBuffer& name) { name.Data[--name.Length] = '\0'; }

// The name from its second character on: in 32-bit libraries every cdecl
// and stdcall name begins with an underscore, which this drops.
const char* WithoutFirstChar(const TextBuffer& name) { return name.Length < 2 ? "" : name.Data + 1; }

const char* NameArgument(const TextBuffer& name, bool keepFirstChar) {
    return keepFirstChar ? name.Data : WithoutFirstChar(name);
}

constexpr SIZE_T PrefetchDistance = 8;

// Room for every line of one entry: the templates, at most three copies of
// the BaseName, the entry itself and the longest parameter list.
constexpr SIZE_T LineRoom = 256;
static_assert(LineRoom > ParamListCapacity + 64, "a prototype line and an equ line fit");

void ReserveLines(TextBuffer& output, SIZE_T baseLength, SIZE_T entryLength) {
    ReserveText(output, LineRoom + FormatSlack + 3 * baseLength + entryLength);
}

// Appends one line; the room, with the formatter's slack, was reserved by ReserveLines.
template <typename... Strings>
void AppendLine(TextBuffer& output, const char* templateText, Strings... arguments) {
    const char* list[sizeof...(arguments) + 1] = {arguments..., nullptr};
    output.Length += FormatTextListWithSlack(output.Data + output.Length, templateText, list, sizeof...(arguments));
}

// What the generation loop carries from entry to entry: the run's row and
// the BaseNames of the current and the following entry.
struct Generation {
    const ConversionSettings& Settings;
    TextBuffer& Output;
    TextBuffer NameBuffer;
    TextBuffer NextNameBuffer;
};

// Of two equal neighbours the first gets no line, and a name gets none
// when the next entry's BaseName is its own with one 'A' or 'W' added.
// The split of the following entry, left in NextNameBuffer whole (its
// variant letter put back after the comparison), so that the next round
// takes it over instead of splitting the same entry again.
struct NextSplit {
    bool Ready;
    SplitName Split;
};

bool IsSkipped(Generation& g, const char* entry, const char* next, NextSplit& following) {
    TextBuffer& NextNameBuffer = g.NextNameBuffer;
    if (StrEqualLength(entry, next) != 0) return true;
    following = NextSplit{true, SplitDecoration(next, NextNameBuffer)};
    char letter = LastChar(NextNameBuffer);
    if (!IsVariantLetter(letter)) return false;
    DropLastChar(NextNameBuffer);
    bool skipped = SameNonEmptyText(NextNameBuffer.Data, NextNameBuffer.Length, g.NameBuffer.Data, g.NameBuffer.Length);
    NextNameBuffer.Data[NextNameBuffer.Length++] = letter;
    NextNameBuffer.Data[NextNameBuffer.Length] = '\0';
    return skipped;
}

void SwapBuffers(TextBuffer& a, TextBuffer& b) {
    TextBuffer held = a;
    a = b;
    b = held;
}

void WritePrototypeLines(Generation& g, const SplitName& split) {
    const ConversionSettings& settings = g.Settings;
    TextBuffer& NameBuffer = g.NameBuffer;
    TextBuffer& output = g.Output;
    bool keepFirstChar = settings.KeepFirstChar;
    ReserveLines(output, NameBuffer.Length, 0);
    if (split.DecorationDigits == nullptr) {
        AppendLine(output, settings.VarargTemplate, NameArgument(NameBuffer, keepFirstChar));
    } else {
        int count = ParamCountFromDecoration(split.DecorationDigits);
        if (count < 0) return;
        char list[ParamListCapacity];
        settings.ParamListBuilder(list, count);
        AppendLine(output, settings.LineTemplate, NameArgument(NameBuffer, keepFirstChar), list);
    }
    if (LastChar(NameBuffer) == settings.PreferredLetter) {
        DropLastChar(NameBuffer);
        const char* generic = NameArgument(NameBuffer, keepFirstChar);
        AppendLine(output, EquTemplate, generic, generic);
    }
}

}  // namespace

SplitName SplitDecoration(const char* entry, TextBuffer& buffer) {
    SIZE_T base = 0;
    if (entry[0] != '\0') ++base;  // an '@' in first place is part of the name
    // Eight bytes at a time up to the word that holds the '@' or the NUL.
    while (QwordFitsInPage(entry + base)) {
        ULONGLONG word = LoadQword(entry + base);
        ULONGLONG marks = ZeroBytes(word) | ZeroBytes(word ^ RepeatedByte('@'));
        if (marks != 0) {
            base += LowestMarkedByte(marks);
            break;
        }
        base += 8;
    }
    while (entry[base] != '\0' && entry[base] != '@') ++base;
    buffer.Length = 0;
    ReserveText(buffer, base);
    CopyBytes(buffer.Data, entry, base);
    buffer.Data[base] = '\0';
    buffer.Length = base;
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

void GenerateIncludeText(const SymbolList& symbols, const ConversionSettings& settings, TextBuffer& output) {
    Generation g{settings, output, {}, {}};
    NextSplit following{false, SplitName{0, nullptr}};
    for (SIZE_T i = 0; i < symbols.Count; ++i) {
        // The sorted names lie scattered over the library's bytes: ask early
        // for the one a few entries ahead.
        if (i + PrefetchDistance < symbols.Count) __builtin_prefetch(symbols.Names[i + PrefetchDistance]);
        const char* entry = symbols.Names[i];
        SplitName split;
        if (following.Ready) {
            SwapBuffers(g.NameBuffer, g.NextNameBuffer);  // NextNameBuffer holds this entry's split
            split = following.Split;
        } else {
            split = SplitDecoration(entry, g.NameBuffer);
        }
        following.Ready = false;
        if (i + 1 < symbols.Count && IsSkipped(g, entry, symbols.Names[i + 1], following)) continue;
        switch (settings.Mode) {
        case OutputMode::Prototypes:
        case OutputMode::StdcallPrototypes:
        case OutputMode::Lzasm:
            WritePrototypeLines(g, split);
            break;
        case OutputMode::FasmBothCharsets:
        case OutputMode::Solasm:
        case OutputMode::FasmOneCharset:
            WriteDefinitionLines(settings, entry, g.NameBuffer, output);
            break;
        }
    }
    ReleaseText(g.NameBuffer);
    ReleaseText(g.NextNameBuffer);
}

void WriteDefinitionLines(const ConversionSettings& settings, const char* entry, TextBuffer& baseName,
                          TextBuffer& output) {
    char marker = LastChar(baseName);
    if (settings.Mode == OutputMode::FasmOneCharset && marker == OtherLetter(settings.PreferredLetter)) return;
    ReserveLines(output, baseName.Length, StrLen(entry));
    if (IsVariantLetter(marker))
        DropLastChar(baseName);
    else
        marker = '\0';
    switch (settings.Mode) {
    case OutputMode::FasmBothCharsets:
        if (marker == 'A') AppendLine(output, "%", AnsiBlockStart);
        if (marker == 'W') AppendLine(output, "%", UnicodeBlockStart);
        AppendLine(output, settings.LineTemplate, entry, WithoutFirstChar(baseName));
        if (marker != '\0') AppendLine(output, "%", BlockEnd);
        break;
    case OutputMode::FasmOneCharset:
        AppendLine(output, settings.LineTemplate, entry, WithoutFirstChar(baseName));
        break;
    default:  // SOLASM: a 'W' stays in the alias name, an 'A' does not
        if (marker == 'W') AppendText(baseName, "W");
        AppendLine(output, settings.LineTemplate, WithoutFirstChar(baseName), entry);
        break;
    }
}
