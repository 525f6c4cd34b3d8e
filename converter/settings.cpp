#include "settings.h"

#include "run.h"
#include "text.h"
#include "version.h"

const char UsageBanner[] =
    "MS COFF import library to FASM \\ JWASM \\ HJWASM \\ LZASM \\ MASM \\ POASM \\ SOLASM include file converter\r\n"
    "Version " CARVEX_VERSION
    "\r\n"
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

// The templates, padded for the line builder's word paths and cut at their
// placeholders in the rows below.
constexpr PaddedText Prototype("% PROTO %");
constexpr PaddedText StdcallPrototype("% PROTO STDCALL %");
constexpr PaddedText Vararg32("% PROTO C :VARARG\r\n");
constexpr PaddedText Vararg64("% PROTO :VARARG\r\n");
constexpr PaddedText FasmDirect("EXTRNDEF '__imp_%',%\r\n");
constexpr PaddedText FasmIndirect("EXTERNDEF '%',%\r\n");
constexpr PaddedText LzasmPrototype("PROCDESC % %");
constexpr PaddedText LzasmExtern("EXTRN %:PROC\r\n");
constexpr PaddedText SolasmAlias("extern % alias %\r\n");
constexpr LineShape None{};

// The first row serves a call without a switch. The FASM and SOLASM lines
// use no parameter list and no vararg line.
constexpr ConversionSettings SwitchTable[] = {
    {"", OutputMode::Prototypes, ShapeOf(Prototype), ShapeOf(Vararg32), BuildDwordList, 'A', false},
    {"-s", OutputMode::StdcallPrototypes, ShapeOf(StdcallPrototype), ShapeOf(Vararg32), BuildDwordList, 'A', false},
    {"-p64", OutputMode::Prototypes, ShapeOf(Prototype), ShapeOf(Vararg64), BuildQwordList, 'A', false},
    {"-l64", OutputMode::Prototypes, ShapeOf(Prototype), ShapeOf(Vararg64), BuildQwordList, 'A', true},
    {"-fd", OutputMode::FasmBothCharsets, ShapeOf(FasmDirect), None, nullptr, 'A', false},
    {"-fi", OutputMode::FasmBothCharsets, ShapeOf(FasmIndirect), None, nullptr, 'A', false},
    {"-lz", OutputMode::Lzasm, ShapeOf(LzasmPrototype), ShapeOf(LzasmExtern), BuildDwordList, 'A', false},
    {"-so", OutputMode::Solasm, ShapeOf(SolasmAlias), None, nullptr, 'A', false},
    {"-fda", OutputMode::FasmOneCharset, ShapeOf(FasmDirect), None, nullptr, 'A', false},
    {"-fdu", OutputMode::FasmOneCharset, ShapeOf(FasmDirect), None, nullptr, 'W', false},
    {"-fia", OutputMode::FasmOneCharset, ShapeOf(FasmIndirect), None, nullptr, 'A', false},
    {"-fiu", OutputMode::FasmOneCharset, ShapeOf(FasmIndirect), None, nullptr, 'W', false},
};

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

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const ConversionSettings* ChooseSettings(int count, const char* const* tokens) {
    if (count == 2) return &SwitchTable[0];
    if (count != 3) return nullptr;
    for (const ConversionSettings& row : SwitchTable)
        if (row.SwitchText[0] != '\0' && MatchesSwitch(tokens[2], row.SwitchText)) return &row;
    return nullptr;
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
