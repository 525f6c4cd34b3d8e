// Builds archives for the tests: the signature and a first linker member
// whose symbol table holds exactly the names given, or a deliberately broken
// one (a count that disagrees with the names, another member name).
#pragma once

#include <string>
#include <vector>

inline std::string Archive(const std::vector<std::string>& names, long long count = -1,
                           std::string memberName = "/") {
    std::string header = memberName;
    header.resize(16, ' ');
    header += std::string(42, ' ') + "`\n";
    std::string body;
    unsigned n = count < 0 ? static_cast<unsigned>(names.size()) : static_cast<unsigned>(count);
    for (int shift = 24; shift >= 0; shift -= 8) body += static_cast<char>((n >> shift) & 0xFF);
    body += std::string(4 * names.size(), '\0');
    for (const std::string& name : names) body += name + '\0';
    return "!<arch>\n" + header + body;
}
