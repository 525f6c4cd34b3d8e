// Turns the sorted symbol names into the lines of the include file.
#pragma once

#include "library_reader.h"
#include "settings.h"
#include "text_buffer.h"

// An entry split at its stdcall decoration: BaseName is the entry up to the
// first '@' that is not its first character; the digits are what follows
// that '@'.
struct SplitName {
    TextSpan BaseName;
    TextSpan DecorationDigits;
    bool Decorated;
};

SplitName SplitDecoration(TextSpan entry);

// The parameter count that the decoration's byte count gives, or -1 when
// the decoration is not usable.
int ParamCountFromDecoration(TextSpan digits);

// The include text is made a piece at a time, in a buffer of at least
// IncludePieceSize bytes and the room of one entry's lines, EntryRoom(the
// longest name). A small buffer stays in the cache, and its pages, each a
// fault when first touched, are few; a write a piece costs less than those.
constexpr SIZE_T IncludePieceSize = 0x8000;
SIZE_T EntryRoom(SIZE_T longestName);

// Appends to 'piece' the lines of the entries from index 'next' on that
// pass the skip rules, in the shapes of the run's row, for as long as the
// piece has room for one more entry's lines, or until the list is done;
// 'next' then indexes the first entry not yet handled. True when every
// entry is done. Nothing here allocates.
bool GenerateIncludeText(const SymbolList& symbols, const ConversionSettings& settings, SIZE_T& next,
                         TextBuffer& piece);
