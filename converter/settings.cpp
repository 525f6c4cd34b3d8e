#include "settings.h"

#include "include_writer.h"
#include "text.h"

ConversionSettings Settings;

const char UsageBanner[] =
    "MS COFF import library to FASM \\ JWASM \\ HJWASM \\ LZASM \\ MASM \\ POASM \\ SOLASM include file converter\r\n"
    "Version 2.4.3\r\n"
    "\r\n"
    "Usage    : carvex libfile.lib [options]\r\n"
    "\r\n"
    "Options  :\r\n"
    "\r\n"
    "-s       : set global calling convention to STDCALL for Masm \\ Poasm\r\n"
    "-p64     : output prototypes for JWasm \\ HJWasm \\ Poasm 64-bit\r\n"
    "-l64     : output prototypes for JWasm \\ HJWasm \\ Poasm 64-bit ( compatibility mode )\r\n"
    "-fd      : output EXTERNDEFs for Fasm - direct calls\r\n"
    "-fda     : output ANSI EXTERNDEFs for Fasm - direct calls\r\n"
    "-fdu     : output UNICODE EXTERNDEFs for Fasm - direct calls\r\n"
    "-fi      : output EXTERNDEFs for Fasm - indirect calls\r\n"
    "-fia     : output EXTERNDEFs for Fasm - indirect calls\r\n"
    "-fiu     : output UNICODE EXTERNDEFs for Fasm - indirect calls\r\n"
    "-lz      : output LzAsm include files\r\n"
    "-so      : output SolAsm include files\r\n";

namespace {

constexpr char DefaultLineTemplate[] = "% PROTO %";
constexpr char DefaultVarargTemplate[] = "% PROTO C :VARARG\r\n";
constexpr char Vararg64Template[] = "% PROTO :VARARG\r\n";
constexpr char FasmDirectTemplate[] = "EXTRNDEF '__imp_%',%\r\n";
constexpr char FasmIndirectTemplate[] = "EXTERNDEF '%',%\r\n";
static_assert(sizeof(DefaultVarargTemplate) <= VarargTemplateSlot, "vararg template fits its slot");
static_assert(sizeof(Vararg64Template) <= VarargTemplateSlot, "vararg template fits its slot");

// One row of the switch table; null or zero fields keep the default.
struct SwitchRow {
    char Text[5];
    OutputMode Mode;
    const char* LineTemplate;
    bool Vararg64;
    bool QwordList;
    char PreferredLetter;
    bool KeepFirstChar;
};

constexpr SwitchRow SwitchTable[] = {
    {"-s", OutputMode::StdcallPrototypes, "% PROTO STDCALL %", false, false, 0, false},
    {"-p64", OutputMode::Prototypes, nullptr, true, true, 0, false},
    {"-l64", OutputMode::Prototypes, nullptr, true, true, 0, true},
    {"-fd", OutputMode::FasmBothCharsets, FasmDirectTemplate, false, false, 0, false},
    {"-fi", OutputMode::FasmBothCharsets, FasmIndirectTemplate, false, false, 0, false},
    {"-lz", OutputMode::Lzasm, "PROCDESC % %", false, false, 0, false},
    {"-so", OutputMode::Solasm, "extern % alias %\r\n", false, false, 0, false},
    {"-fda", OutputMode::FasmOneCharset, FasmDirectTemplate, false, false, 0, false},
    {"-fdu", OutputMode::FasmOneCharset, FasmDirectTemplate, false, false, 'W', false},
    {"-fia", OutputMode::FasmOneCharset, FasmIndirectTemplate, false, false, 0, false},
    {"-fiu", OutputMode::FasmOneCharset, FasmIndirectTemplate, false, false, 'W', false},
};

void SetDefaults() {
    Settings.Mode = OutputMode::Prototypes;
    Settings.LineTemplate = DefaultLineTemplate;
    StrCopy(DefaultVarargTemplate, Settings.VarargTemplate);
    Settings.ParamListBuilder = BuildDwordList;
    Settings.PreferredLetter = 'A';
    Settings.KeepFirstChar = false;
}

// Both texts padded with NULs to four bytes, compared on those four bytes:
// short switches must match exactly, four-character ones match any token
// that begins with them.
bool MatchesSwitch(const char* token, const char* switchText) {
    bool tokenEnded = false;
    for (int i = 0; i < 4; ++i) {
        char t = tokenEnded ? '\0' : token[i];
        tokenEnded = t == '\0';
        if (t != switchText[i]) return false;
        if (switchText[i] == '\0' && tokenEnded) return true;
    }
    return true;
}

void ApplySwitch(const SwitchRow& row) {
    Settings.Mode = row.Mode;
    if (row.LineTemplate != nullptr) Settings.LineTemplate = row.LineTemplate;
    if (row.Vararg64) StrCopy(Vararg64Template, Settings.VarargTemplate);
    if (row.QwordList) Settings.ParamListBuilder = BuildQwordList;
    if (row.PreferredLetter != 0) Settings.PreferredLetter = row.PreferredLetter;
    Settings.KeepFirstChar = row.KeepFirstChar;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool ChooseSettings(int count, const char* const* tokens) {
    SetDefaults();
    if (count == 2) return true;
    if (count != 3) return false;
    for (const SwitchRow& row : SwitchTable) {
        if (MatchesSwitch(tokens[2], row.Text)) {
            ApplySwitch(row);
            return true;
        }
    }
    return false;
}

int ParseCommandLineText(const char* commandLine, ArgumentTable& table) {
    // Every token takes at least one character of the line, and its text
    // with the NUL at most one byte more than the characters it consumed.
    SIZE_T lineLength = StrLen(commandLine);
    table.Slots = static_cast<char**>(AllocateOrFail((lineLength + 2) * sizeof(char*)));
    table.Text = static_cast<char*>(AllocateOrFail(lineLength + 2));
    const char* p = commandLine;
    char* write = table.Text;
    int count = 0;
    bool quoting = false;
    for (;;) {
        while (IsSeparator(*p)) ++p;
        if (*p == '\0') return count;
        table.Slots[count++] = write;
        for (;; ++p) {
            char c = *p;
            if (c == '\0') {
                *write++ = '\0';
                return count;
            }
            if (IsSeparator(c) && !quoting) {
                *write++ = '\0';
                ++p;
                break;
            }
            if (c == '"')
                quoting = !quoting;
            else
                *write++ = c;
        }
    }
}

int ParseCommandLine(ArgumentTable& table) { return ParseCommandLineText(GetCommandLineA(), table); }
