// The switches the usage banner lists, in its order: the first word of each
// line that begins with '-'. The unit tests hold the banner and the switch
// table to each other; the fuzzer tries each switch.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> BannerSwitches(const std::string& banner) {
    std::vector<std::string> switches;
    for (size_t line = 0; line < banner.size();) {
        size_t end = banner.find('\n', line);
        if (end == std::string::npos) end = banner.size();
        if (banner[line] == '-') switches.push_back(banner.substr(line, banner.find(' ', line) - line));
        line = end + 1;
    }
    return switches;
}
