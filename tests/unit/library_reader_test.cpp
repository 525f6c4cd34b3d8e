#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library_reader.h"
#include "run.h"
#include "symbol_order.h"
#include "test_archives.h"

namespace {

// Holds the bytes as the product does, followed by exactly its padding.
// The padding holds bytes that would change a result if they were taken for
// the file's (a NUL first of all), and the address sanitizer catches any
// read past it.
struct Image {
    explicit Image(std::string_view bytes) : storage(bytes.begin(), bytes.end()) {
        storage.insert(storage.end(), JunkSlack.begin(), JunkSlack.end());
    }
    LibraryImage View() { return LibraryImage{storage.data(), storage.size() - LibraryImagePadding}; }
    std::vector<BYTE> storage;
};

using V = std::vector<std::string>;

// The names kept from the test archive "kept: <table>" (tests/unit/test_archives.py).
V Kept(const std::string& table) {
    Image image(TestArchive("kept: " + table));
    SymbolList list;
    EXPECT_EQ(ReadSymbolTable(image.View(), list), LibraryCheck::Accepted);
    V kept;
    for (SIZE_T i = 0; i < list.Count; ++i) kept.emplace_back(list.Names[i].Text, list.Names[i].Length);
    ReleaseSymbolList(list);
    return kept;
}

}  // namespace

TEST(ReadSymbolTable, KeepsProcedureNamesAndDropsBookkeeping) {
    EXPECT_EQ(Kept("no names"), V{});
    // A name equal to the last one kept is not kept again; empty names are
    // never equal, and a repeat further away stays.
    EXPECT_EQ(Kept("a thunk and its name"), (V{"_LoadIconA@8"}));
    EXPECT_EQ(Kept("repeats near and far"), (V{"_X", "_Y", "_X"}));
    EXPECT_EQ(Kept("empty names"), (V{"", "", "_Xa", "_X"}));
    EXPECT_EQ(Kept("C++ names"), V{});
    EXPECT_EQ(Kept("fastcall names"), (V{"_Fast@8"}));
    EXPECT_EQ(Kept("a null thunk"), (V{"\x7fKERNEL32"}));
    EXPECT_EQ(Kept("import descriptors"), (V{"__IMPORT_DESCRIPTOR"}));
    EXPECT_EQ(Kept("the null import descriptor"), (V{"__NULL_IMPORT_DESCRIPTORX"}));
    // Behind the prefix only a '?' drops a name.
    EXPECT_EQ(Kept("bookkeeping behind the prefix"), (V{"__NULL_IMPORT_DESCRIPTOR", "\x7fX_NULL_THUNK_DATA"}));
    EXPECT_EQ(Kept("the prefix alone"), (V{"", "TlsData", "_wsprintfA"}));
    // Only a leading '@' is turned into '_'.
    EXPECT_EQ(Kept("at signs"), (V{"_a@b@4", "_"}));
}

TEST(FindNullThunk, FindsTheFirstPlace) {
    const char* text = "DLL_NULL_THUNK_DATA_NULL_THUNK_DATA";
    EXPECT_EQ(FindNullThunk(text), text + 3);
    EXPECT_EQ(FindNullThunk("_NULL_THUNK_DAT"), nullptr);
    EXPECT_EQ(FindNullThunk(""), nullptr);
    const char* exact = "_NULL_THUNK_DATA";
    EXPECT_EQ(FindNullThunk(exact), exact);
}

// Every test archive is refused by the check named beside it
// (tests/e2e/archive.py), or taken; a refused one leaves no list.
TEST(ReadSymbolTable, RefusesByTheCheckThatFails) {
    for (const NamedArchive& archive : TestArchives) {
        Image image(archive.bytes);
        SymbolList list{nullptr, reinterpret_cast<SymbolName*>(&image), 7, 7};
        EXPECT_EQ(ReadSymbolTable(image.View(), list), archive.check) << archive.name;
        if (archive.check != LibraryCheck::Accepted) EXPECT_EQ(list.Names, nullptr) << archive.name;
        if (archive.check != LibraryCheck::Accepted) EXPECT_EQ(list.Count, 0u) << archive.name;
        ReleaseSymbolList(list);
    }
}
