#include "include_writer.h"

#include "word_access.h"

namespace {

// The templates and pieces, padded for the line builder's word paths.
constexpr PaddedText EquTemplate("% equ <%A>\r\n\r\n");
constexpr PaddedText AnsiBlockStart("\r\nif ~ defined __UNICODE__\r\n   ");
constexpr PaddedText UnicodeBlockStart("\r\nif defined __UNICODE__\r\n   ");
constexpr PaddedText BlockEnd("end if\r\n\r\n");
constexpr LineShape EquLine = ShapeOf(EquTemplate);

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsVariantLetter(char c) { return c == 'A' || c == 'W'; }

char LastChar(TextSpan name) { return name.Length == 0 ? '\0' : name.Data[name.Length - 1]; }

TextSpan WithoutLastChar(TextSpan name) { return TextSpan{name.Data, name.Length - 1}; }

// The name from its second character on: in 32-bit libraries every cdecl
// and stdcall name begins with an underscore, which this drops.
TextSpan WithoutFirstChar(TextSpan name) {
    return name.Length < 2 ? NoText.Span() : TextSpan{name.Data + 1, name.Length - 1};
}

TextSpan NameArgument(TextSpan name, bool keepFirstChar) { return keepFirstChar ? name : WithoutFirstChar(name); }

// Of two equal neighbours the first gets no line, and a name gets none when
// the next entry's BaseName is its own with one 'A' or 'W' added.
bool IsVariantOf(TextSpan nextBase, TextSpan base) {
    return IsVariantLetter(LastChar(nextBase)) && SameNonEmptyText(WithoutLastChar(nextBase), base);
}

// Room for every line of one entry but its names: the templates and the
// longest parameter list. The lines hold at most three copies of the
// BaseName and the entry itself, and the word copies write up to seven
// bytes past the end.
constexpr SIZE_T LineRoom = 256;
static_assert(LineRoom > LongestParamList * 7 + 2 + 64, "a prototype line and an equ line fit");
constexpr SIZE_T CopySlack = 8;

char* Put(char* at, TextSpan text) {
    CopyWithSlack(at, text.Data, text.Length);
    return at + text.Length;
}

// Appends one line of the shape, filled with the arguments.
void AppendLine(TextBuffer& output, const LineShape& shape, TextSpan first, TextSpan second = NoText.Span()) {
    char* at = output.Data + output.Length;
    at = Put(Put(Put(Put(Put(at, shape.Before), first), shape.Between), second), shape.After);
    output.Length = static_cast<SIZE_T>(at - output.Data);
}

void AppendPiece(TextBuffer& output, TextSpan text) {
    output.Length = static_cast<SIZE_T>(Put(output.Data + output.Length, text) - output.Data);
}

// PROTO, PROTO STDCALL and LZASM lines: the prototype (or the vararg line of
// an undecorated entry), then the generic name of a preferred variant.
void WritePrototypeLines(const ConversionSettings& settings, const SplitName& split, TextBuffer& output) {
    TextSpan base = split.BaseName;
    bool keepFirstChar = settings.KeepFirstChar;
    if (!split.Decorated) {
        AppendLine(output, settings.VarargTemplate, NameArgument(base, keepFirstChar));
    } else {
        int count = ParamCountFromDecoration(split.DecorationDigits);
        if (count < 0) return;
        AppendLine(output, settings.LineTemplate, NameArgument(base, keepFirstChar), settings.ParamListBuilder(count));
    }
    if (LastChar(base) == settings.PreferredLetter) {
        TextSpan generic = NameArgument(WithoutLastChar(base), keepFirstChar);
        AppendLine(output, EquLine, generic, generic);
    }
}

// FASM and SOLASM lines: each binds the name a programmer writes, G (the
// BaseName without a final 'A' or 'W', from its second character), to the
// library symbol itself.
void WriteDefinitionLines(const ConversionSettings& settings, TextSpan entry, TextSpan base, TextBuffer& output) {
    char marker = LastChar(base);
    if (settings.Mode == OutputMode::FasmOneCharset && marker == OtherLetter(settings.PreferredLetter)) return;
    if (!IsVariantLetter(marker)) marker = '\0';
    TextSpan generic = WithoutFirstChar(marker != '\0' ? WithoutLastChar(base) : base);
    if (settings.Mode == OutputMode::Solasm) {
        // A 'W' stays in the alias name, an 'A' does not.
        AppendLine(output, settings.LineTemplate, marker == 'W' ? WithoutFirstChar(base) : generic, entry);
        return;
    }
    bool block = settings.Mode == OutputMode::FasmBothCharsets && marker != '\0';
    if (block) AppendPiece(output, marker == 'A' ? AnsiBlockStart.Span() : UnicodeBlockStart.Span());
    AppendLine(output, settings.LineTemplate, entry, generic);
    if (block) AppendPiece(output, BlockEnd.Span());
}

void WriteEntryLines(const ConversionSettings& settings, TextSpan entry, const SplitName& split, TextBuffer& output) {
    switch (settings.Mode) {
    case OutputMode::Prototypes:
    case OutputMode::StdcallPrototypes:
    case OutputMode::Lzasm:
        WritePrototypeLines(settings, split, output);
        return;
    case OutputMode::FasmBothCharsets:
    case OutputMode::FasmOneCharset:
    case OutputMode::Solasm:
        WriteDefinitionLines(settings, entry, split.BaseName, output);
        return;
    }
}

// The sorted names lie scattered over the library's bytes: the loop asks
// early for the one this many entries ahead.
constexpr SIZE_T PrefetchDistance = 8;

}  // namespace

SplitName SplitDecoration(TextSpan entry) {
    // An '@' in first place is part of the name.
    SIZE_T from = entry.Length == 0 ? 0 : 1;
    const char* rest = entry.Data + from;
    SIZE_T at = from + FirstMarkedByte(entry.Length - from,
                                       [rest](SIZE_T i) { return BytesEqualTo(LoadQword(rest + i), '@'); });
    if (at == entry.Length) return SplitName{entry, TextSpan{"", 0}, false};
    return SplitName{TextSpan{entry.Data, at}, TextSpan{entry.Data + at + 1, entry.Length - at - 1}, true};
}

int ParamCountFromDecoration(TextSpan digits) {
    if (digits.Length == 0 || !IsDigit(digits.Data[0])) return -1;
    int value = digits.Data[0] - '0';
    if (digits.Length > 1) {
        if (!IsDigit(digits.Data[1])) return -1;
        value = value * 10 + (digits.Data[1] - '0');
    }
    return value / 4;
}

SIZE_T EntryRoom(SIZE_T longestName) { return LineRoom + CopySlack + 4 * longestName; }

bool GenerateIncludeText(const SymbolList& symbols, const ConversionSettings& settings, SIZE_T& next,
                         TextBuffer& piece) {
    SIZE_T i = next;
    SplitName split = i < symbols.Count ? SplitDecoration(NameOf(symbols.Names[i])) : SplitName{};
    // Room for the lines and the NUL after them.
    const SIZE_T room = EntryRoom(symbols.LongestName) + 1;
    for (; i < symbols.Count && piece.Capacity - piece.Length >= room; ++i) {
        if (i + PrefetchDistance < symbols.Count) __builtin_prefetch(symbols.Names[i + PrefetchDistance].Text);
        const SymbolName& entry = symbols.Names[i];
        if (i + 1 == symbols.Count) {  // the last entry is compared with nothing
            WriteEntryLines(settings, NameOf(entry), split, piece);
            continue;
        }
        const SymbolName& following = symbols.Names[i + 1];
        SplitName followingSplit = SplitDecoration(NameOf(following));
        bool skipped = SameName(symbols, i, i + 1) || IsVariantOf(followingSplit.BaseName, split.BaseName);
        if (!skipped) WriteEntryLines(settings, NameOf(entry), split, piece);
        split = followingSplit;
    }
    piece.Data[piece.Length] = '\0';
    next = i;
    return i == symbols.Count;
}
