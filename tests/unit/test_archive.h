// Builds archives for the tests: the signature and a first linker member
// whose symbol table holds exactly the names given, or a deliberately broken
// one (a count that disagrees with the names, another member name, another
// size field).
#pragma once

#include <string>
#include <vector>

// A member header with the member name and the size field as given (ten
// columns); the other fields are blank.
inline std::string Header(const std::string& memberName, const std::string& sizeField) {
    std::string header = memberName;
    header.resize(48, ' ');
    return header + sizeField + std::string(10 - sizeField.size(), ' ') + "`\n";
}

inline std::string Archive(const std::vector<std::string>& names, long long count = -1,
                           std::string memberName = "/") {
    std::string body;
    unsigned n = count < 0 ? static_cast<unsigned>(names.size()) : static_cast<unsigned>(count);
    for (int shift = 24; shift >= 0; shift -= 8) body += static_cast<char>((n >> shift) & 0xFF);
    body += std::string(4 * names.size(), '\0');
    for (const std::string& name : names) body += name + '\0';
    return "!<arch>\n" + Header(memberName, std::to_string(body.size())) + body;
}

// The same archive with another size field in the first member's header.
inline std::string WithSizeField(const std::string& archive, const std::string& sizeField) {
    return archive.substr(0, 8) + Header("/", sizeField) + archive.substr(68);
}
