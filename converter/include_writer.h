// Turns the sorted symbol names into the lines of the include file.
#pragma once

#include "library_reader.h"
#include "settings.h"
#include "text_buffer.h"

// An entry split at its stdcall decoration. BaseName (copied into the
// buffer) is the entry up to the first '@' that is not its first character.
struct SplitName {
    SIZE_T BaseLength;
    const char* DecorationDigits;  // after that '@'; null when undecorated
};

SplitName SplitDecoration(const char* entry, TextBuffer& buffer);

// The parameter count that the decoration's byte count gives, or -1 when
// the decoration is not usable.
int ParamCountFromDecoration(const char* digits);

// Appends the lines of every entry that passes the skip rules to 'output',
// in the shapes that the run's settings select.
void GenerateIncludeText(const SymbolList& symbols, const ConversionSettings& settings, TextBuffer& output);

// The FASM and SOLASM lines of one entry; 'baseName' holds its BaseName.
void WriteDefinitionLines(const ConversionSettings& settings, const char* entry, TextBuffer& baseName,
                          TextBuffer& output);
