// Turns the sorted symbol names into the lines of the include file.
#pragma once

#include "library_reader.h"
#include "text.h"

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

// ":DWORD," (or ":QWORD,") 'count' times, the last comma turned into
// "\r\n"; "\r\n" alone for no parameters. Returns the length.
SIZE_T BuildDwordList(char* buffer, int count);
SIZE_T BuildQwordList(char* buffer, int count);
// Room a parameter list can need: 24 parameters at most (from "99").
constexpr SIZE_T ParamListCapacity = 24 * 7 + 2;

// Appends the lines of every entry that passes the skip rules to 'output',
// in the shapes that the run's settings select.
void GenerateIncludeText(const SymbolList& symbols, TextBuffer& output);

// The FASM and SOLASM lines of one entry; 'baseName' holds its BaseName.
void WriteDefinitionLines(const char* entry, TextBuffer& baseName, TextBuffer& output);
