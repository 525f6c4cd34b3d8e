// Feeds arbitrary bytes to what the Linux layer makes of a process's
// arguments and of a search pattern. The first byte chooses:
//  - even: the rest is /proc/self/cmdline (arguments ended by NULs): the
//    line GetCommandLineA gives must fit the layer's buffer, and split by
//    ParseCommandLineText it must give the arguments back wherever none
//    holds a '"', empty and very long ones included;
//  - odd: the rest is a pattern, a NUL and a name: FindFirstFileA must list
//    the name exactly when a reference matcher says the pattern's last
//    component matches it and the name is one a Win32 program can be given.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "linux/kernel_internal.h"
#include "run.h"
#include "settings.h"

namespace {

// Each argument ends at a NUL, the last one at the end of the bytes too.
std::vector<std::string_view> Arguments(std::string_view bytes) {
    std::vector<std::string_view> arguments;
    for (size_t at = 0; at < bytes.size(); at = std::min(bytes.find('\0', at), bytes.size()) + 1)
        arguments.push_back(bytes.substr(at, bytes.find('\0', at) - at));
    return arguments;
}

void CheckCommandLine(std::string_view bytes) {
    char* line = JoinArguments(bytes.data(), bytes.size());
    ArgumentTable table;
    int count = ParseCommandLineText(line, table);
    std::vector<std::string_view> arguments = Arguments(bytes);
    bool quoteless = bytes.find('"') == std::string_view::npos;
    if (quoteless && static_cast<size_t>(count) != arguments.size()) __builtin_trap();
    for (int i = 0; quoteless && i < count; ++i)
        if (arguments[i] != table.Slots[i]) __builtin_trap();
    FreeBlock(table.Slots);
    FreeBlock(table.Text);
    free(line);
}

// '*' any run of characters, '?' any one, everything else itself, case and
// dots included: row[j] says whether the pattern so far matches name[0, j).
bool ReferenceMatch(std::string_view pattern, std::string_view name) {
    std::vector<char> row(name.size() + 1, 0);
    row[0] = 1;
    for (char c : pattern) {
        std::vector<char> next(name.size() + 1, 0);
        for (size_t j = 0; j <= name.size(); ++j)
            next[j] = c == '*' ? row[j] || (j > 0 && next[j - 1]) : j > 0 && row[j - 1] && (c == '?' || c == name[j - 1]);
        row.swap(next);
    }
    return row[name.size()] != 0;
}

void CheckSearch(std::string_view bytes) {
    size_t end = bytes.find('\0');
    if (end == std::string_view::npos) return;
    std::string pattern(bytes.substr(0, end));
    std::string name(bytes.substr(end + 1));
    if (name.find_first_of(std::string("/\0", 2)) != std::string::npos) return;  // no directory entry holds these
    size_t separator = pattern.find_last_of("/\\");
    std::string_view wildcard = std::string_view(pattern).substr(separator == std::string::npos ? 0 : separator + 1);
    bool listed = name.size() < MAX_PATH && name.find('\\') == std::string::npos && ReferenceMatch(wildcard, name);
    if (SearchLists(pattern.c_str(), name.c_str()) != listed) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0)
        CheckCommandLine(bytes);
    else
        CheckSearch(bytes);
    return 0;
}
