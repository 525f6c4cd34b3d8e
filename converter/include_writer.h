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

// Appends the lines of every entry that passes the skip rules to 'output',
// in the shapes of the run's row.
void GenerateIncludeText(const SymbolList& symbols, const ConversionSettings& settings, TextBuffer& output);
