#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library_reader.h"
#include "test_archives.h"
#include "run.h"

namespace {

// Holds the bytes as the product does, followed by exactly its padding, so
// that the address sanitizer catches any read past that.
struct Image {
    explicit Image(const std::string& bytes) : storage(bytes.begin(), bytes.end()) {
        storage.resize(bytes.size() + LibraryImagePadding);
    }
    LibraryImage View() { return LibraryImage{storage.data(), storage.size() - LibraryImagePadding}; }
    std::vector<BYTE> storage;
};

using V = std::vector<std::string>;

// The names kept from the test archive "kept: <table>" (tests/unit/test_archives.py).
V Kept(const std::string& table) {
    Image image(TestArchive("kept: " + table));
    LibraryImage view = image.View();
    EXPECT_TRUE(IsValidImportLibrary(view));
    SymbolList list = ReadSymbolTable(view);
    V kept;
    for (SIZE_T i = 0; i < list.Count; ++i) {
        const SymbolName& entry = list.Names[i];
        kept.emplace_back(entry.Text, entry.Length);
        SymbolName fresh = SymbolNameOf(NameOf(entry));
        EXPECT_EQ(entry.OrderKey, fresh.OrderKey) << kept.back();
        EXPECT_EQ(entry.NextKey, fresh.NextKey) << kept.back();
    }
    FreeBlock(list.Names);
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

TEST(IsValidImportLibrary, RefusesEveryTableThatRunsPastTheFile) {
    // Each image is the test archive of that name (tests/unit/test_archives.py).
    struct Case {
        const char* what;
        bool valid;
    } cases[] = {
        {"a whole table", true},
        {"the signature alone", true},
        {"nothing", false},
        {"part of the signature", false},
        {"another signature", false},
        {"a member header cut short", false},
        {"no count", false},
        {"offsets cut short", false},
        {"first member not a linker member", false},
        {"a linker member name with junk", false},
        {"a count larger than the names", false},
        {"a count of 0xFFFFFFFF", false},
        {"a last name without its NUL", false},
        {"a count of zero", true},
        {"fewer names counted than present", true},
        // The member's declared size bounds the table, whatever follows it.
        {"the next member behind the table", true},
        {"names past the member's size", false},
        {"offsets past the member's size", false},
        {"a count past the member's size", false},
        {"a member past the file's end", false},
        {"a size field of letters", false},
        {"a size field of spaces", false},
        {"a size field with a leading space", false},
        {"a size field with junk after the digits", false},
    };
    for (Case& c : cases) {
        Image image(TestArchive(c.what));
        EXPECT_EQ(IsValidImportLibrary(image.View()), c.valid) << c.what;
    }
}
