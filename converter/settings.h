// The command line, and the conversion settings that its switch selects:
// one constant row per switch.
#pragma once

#include "param_list.h"
#include "text.h"

// Which family of lines the run writes.
enum class OutputMode : int {
    Prototypes = 0,         // PROTO lines
    StdcallPrototypes = 1,  // PROTO STDCALL lines
    FasmBothCharsets = 2,   // FASM definitions under conditional blocks
    Lzasm = 3,              // PROCDESC and EXTRN lines
    Solasm = 4,             // extern ... alias ... lines
    FasmOneCharset = 5,     // FASM definitions for one character set
};

// Everything a switch decides: a row of the switch table.
struct ConversionSettings {
    char SwitchText[5];  // empty for the row of a call without a switch
    OutputMode Mode;
    // The main line of an entry, and the line of an undecorated entry in the
    // prototype families ("% PROTO C :VARARG\r\n", LZASM's EXTRN line), each
    // cut at its placeholders.
    LineShape LineTemplate;
    LineShape VarargTemplate;
    ParamListBuilderFn ParamListBuilder;
    char PreferredLetter;  // 'A' or 'W', the variant the run prefers; see OtherLetter
    // Names keep their first character where the lines honour it (-l64);
    // otherwise they lose it, the leading '_' of 32-bit names.
    bool KeepFirstChar;
};

// 'A' ^ 'W' is 0x16, so one exclusive-or turns either letter into the other.
constexpr char OtherLetter(char preferred) { return static_cast<char>(preferred ^ 0x16); }

// The tokens of a command line: slot k points to token k, token 0 being the
// program name. Sized from the line, so any line fits.
struct ArgumentTable {
    char** Slots;
    char* Text;
};

// Splits the raw command line: spaces and tabs separate, double quotes
// switch quoting on and off and are dropped. Returns the token count.
int ParseCommandLineText(const char* commandLine, ArgumentTable& table);
// The same on the process's command line (GetCommandLineA).
int ParseCommandLine(ArgumentTable& table);

// The row for a call of 'count' tokens: the defaults for two, the switch's
// row for three. Null when the call needs the usage banner: a count other
// than 2 or 3, or a switch that no row matches.
const ConversionSettings* ChooseSettings(int count, const char* const* tokens);

extern const char UsageBanner[];
