// The symbol order as the tests hold the converter to it: byte by byte,
// each byte a signed 8-bit value, the terminator taking part as 0.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "library_reader.h"
#include "word_access.h"

// Bytes for the slack past a text, which the word paths may read but must
// never use: NULs, '%', '@', a control byte and a high byte.
static_assert(ReadSlack == 8);
inline const std::string JunkSlack("\0%@\x01\x80@%\0", ReadSlack);

inline bool SymbolLess(const std::string& a, const std::string& b) {
    const char* x = a.c_str();
    const char* y = b.c_str();
    return std::lexicographical_compare(x, x + a.size() + 1, y, y + b.size() + 1, [](char p, char q) {
        return static_cast<signed char>(p) < static_cast<signed char>(q);
    });
}

// Pairs in the order, the lesser first; names that end, or differ, on each
// side of the eight- and sixteen-byte keys. A pair of equal names stays as it is.
struct OrderedPair {
    std::string less, greater;
};

inline const OrderedPair OrderedPairs[] = {
    {"_Foo@8", "_FooA@8"},
    {"_Foo", "_FooA"},
    {"_FooA", "_FooW"},
    {"_Foo\x80", "_Foo"},  // 0x80 counts as -128, below the NUL
    {"\xff", "A"},
    {"\x80", "\x7f"},
    {"Z", "_"},
    {"a", "b"},
    {"", "\x01"},
    {"_GetWindowTextA", "_GetWindowTextW"},     // decided past the first key
    {"_GetWindow", "_GetWindowA"},              // one ends in the first key's last byte
    {"_GetWindo", "_GetWindoA"},                // one ends just past the first key
    {"_GetWindowTextLe", "_GetWindowTextLeA"},  // one ends just past both keys
    {"_GetWindowText\x80", "_GetWindowText"},   // a high byte past the first key
    {"_GetWindowTextLength\x80", "_GetWindowTextLength"},
    {"_GetWindowTextLengthA@4", "_GetWindowTextLengthW@4"},  // decided past both keys
    {"_CreateWindowStationA@4", "_CreateWindowStationW@4"},
    {"", ""},
    {"same", "same"},
    {"_GetWindow", "_GetWindow"},
    {"_GetWindowTextLengthW@4", "_GetWindowTextLengthW@4"},
};

// Names as the sort sees them: the keys and entries of texts that the
// caller keeps, each followed by the word paths' slack.
struct TestList {
    explicit TestList(const std::vector<TextSpan>& names) {
        for (TextSpan name : names) {
            keys.push_back(FirstKeyOf(name));
            entries.push_back(SymbolNameOf(name));
        }
        view = SymbolList{keys.data(), entries.data(), keys.size(), 0};
    }
    std::vector<std::string> Order() const {
        std::vector<std::string> order;
        for (const SymbolName& e : entries) order.emplace_back(e.Text, e.Length);
        return order;
    }
    std::vector<ULONGLONG> keys;
    std::vector<SymbolName> entries;
    SymbolList view;
};
