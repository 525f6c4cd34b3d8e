// Feeds arbitrary bytes to the converter as a library file: the reader and
// its checks, then the sort and the include writer with every switch, the
// text made in pieces as the driver makes it. Every
// text it writes must be lines that end in CR LF, hold no other byte below
// 0x20, and each have a shape that the switch writes; anything else stops
// the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "banner_switches.h"
#include "include_writer.h"
#include "library_reader.h"
#include "run.h"
#include "settings.h"
#include "symbol_sort.h"

namespace {

// No switch, then every switch the usage banner lists.
const std::vector<std::string> Switches = [] {
    std::vector<std::string> switches = BannerSwitches(UsageBanner);
    switches.insert(switches.begin(), "");
    return switches;
}();

// A fresh zero-padded copy for each conversion: the reader edits names in place.
LibraryImage CopyImage(const uint8_t* data, size_t size) {
    auto* bytes = static_cast<BYTE*>(AllocateOrFail(size + LibraryImagePadding));
    std::memcpy(bytes, data, size);
    return LibraryImage{bytes, size};
}

[[noreturn]] void Refuse(const std::string& switchText, std::string_view line, const char* why) {
    std::fprintf(stderr, "switch '%s': %s: \"%.*s\"\n", switchText.c_str(), why, static_cast<int>(line.size()),
                 line.data());
    __builtin_trap();
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// "<name> PROTO <list>" (or the row's other prototype shape): the list is
// empty or up to 24 items of the row's type, comma-separated.
bool IsPrototype(std::string_view line, std::string_view lead, std::string_view item) {
    for (int items = 0; items <= 24; ++items) {
        std::string list;
        for (int i = 0; i < items; ++i) list += (i > 0 ? "," : "") + std::string(item);
        if (EndsWith(line, std::string(lead) + list)) return true;
    }
    return false;
}

bool IsEquLine(std::string_view line) { return line.find(" equ <") != std::string_view::npos && EndsWith(line, "A>"); }

bool IsFasmLine(std::string_view line) {
    return (StartsWith(line, "EXTRNDEF '__imp_") || StartsWith(line, "EXTERNDEF '")) &&
           line.find("',") != std::string_view::npos;
}

bool HasAllowedShape(const std::string& switchText, std::string_view line) {
    if (line.empty()) return true;  // after an equ line or a block
    if (switchText.empty() || switchText == "-s")
        return IsPrototype(line, switchText.empty() ? " PROTO " : " PROTO STDCALL ", ":DWORD") ||
               EndsWith(line, " PROTO C :VARARG") || IsEquLine(line);
    if (switchText == "-p64" || switchText == "-l64")
        return IsPrototype(line, " PROTO ", ":QWORD") || EndsWith(line, " PROTO :VARARG") || IsEquLine(line);
    if (switchText == "-lz")
        return (StartsWith(line, "PROCDESC ") && IsPrototype(line, " ", ":DWORD")) ||
               (StartsWith(line, "EXTRN ") && EndsWith(line, ":PROC")) || IsEquLine(line);
    if (switchText == "-so") return StartsWith(line, "extern ") && line.find(" alias ") != std::string_view::npos;
    if (switchText == "-fd" || switchText == "-fi")
        return line == "if ~ defined __UNICODE__" || line == "if defined __UNICODE__" || line == "end if" ||
               IsFasmLine(StartsWith(line, "   ") ? line.substr(3) : line);
    return IsFasmLine(line);  // -fda, -fdu, -fia, -fiu
}

void CheckLines(const std::string& switchText, std::string_view text) {
    while (!text.empty()) {
        size_t end = text.find("\r\n");
        if (end == std::string_view::npos) Refuse(switchText, text, "text that does not end in CR LF");
        std::string_view line = text.substr(0, end);
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20) Refuse(switchText, line, "a byte below 0x20 in a line");
        if (!HasAllowedShape(switchText, line)) Refuse(switchText, line, "a line of no shape the switch writes");
        text.remove_prefix(end + 2);
    }
}

// False when the reader refuses the bytes.
bool Convert(const uint8_t* data, size_t size, const std::string& switchText, TextBuffer& piece) {
    const char* tokens[] = {"carvex", "x.lib", switchText.c_str()};
    const ConversionSettings* settings = ChooseSettings(switchText.empty() ? 2 : 3, tokens);
    if (settings == nullptr) __builtin_trap();
    LibraryImage image = CopyImage(data, size);
    SymbolList symbols;
    bool accepted = ReadSymbolTable(image, symbols) == LibraryCheck::Accepted;
    SortSymbols(symbols);
    piece.Length = 0;
    ReserveText(piece, IncludePieceSize + EntryRoom(symbols.LongestName));
    std::string text;
    SIZE_T next = 0;
    for (bool done = !accepted; !done; piece.Length = 0) {
        done = GenerateIncludeText(symbols, *settings, next, piece);
        text.append(piece.Data, piece.Length);
    }
    CheckLines(switchText, text);
    ReleaseSymbolList(symbols);
    FreeBlock(image.Bytes);
    return accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TextBuffer piece{};
    for (const std::string& switchText : Switches)
        if (!Convert(data, size, switchText, piece)) break;
    ReleaseText(piece);
    return 0;
}
