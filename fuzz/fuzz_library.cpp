// Feeds arbitrary bytes to the converter as a library file: validation,
// then the reader, the sort and the include writer with every switch.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
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

void Convert(const uint8_t* data, size_t size, const std::string& switchText) {
    const char* tokens[] = {"carvex", "x.lib", switchText.c_str()};
    const ConversionSettings* settings = ChooseSettings(switchText.empty() ? 2 : 3, tokens);
    if (settings == nullptr) __builtin_trap();
    LibraryImage image = CopyImage(data, size);
    SymbolList symbols = ReadSymbolTable(image);
    SortSymbols(symbols.Names, symbols.Count);
    TextBuffer output{};
    GenerateIncludeText(symbols, *settings, output);
    ReleaseText(output);
    FreeBlock(symbols.Names);
    FreeBlock(image.Bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LibraryImage probe = CopyImage(data, size);
    bool valid = IsValidImportLibrary(probe);
    FreeBlock(probe.Bytes);
    if (!valid) return 0;
    for (const std::string& switchText : Switches) Convert(data, size, switchText);
    return 0;
}
