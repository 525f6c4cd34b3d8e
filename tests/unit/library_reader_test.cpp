#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library_reader.h"
#include "test_archive.h"
#include "text.h"

namespace {

// Holds the bytes in a block of exactly their size, so that the address
// sanitizer catches any read past the end.
struct Image {
    explicit Image(const std::string& bytes) : storage(bytes.begin(), bytes.end()) {}
    LibraryImage View() { return LibraryImage{storage.data(), storage.size()}; }
    std::vector<BYTE> storage;
};

std::vector<std::string> Kept(const std::vector<std::string>& names) {
    Image image(Archive(names) + std::string(8, '\0'));
    LibraryImage view = image.View();
    EXPECT_TRUE(IsValidImportLibrary(view));
    SymbolList list = ReadSymbolTable(view);
    std::vector<std::string> kept(list.Names, list.Names + list.Count);
    FreeBlock(list.Names);
    return kept;
}

using V = std::vector<std::string>;

}  // namespace

TEST(ReadSymbolTable, KeepsProcedureNamesAndDropsBookkeeping) {
    EXPECT_EQ(Kept({}), V{});
    // A name equal to the last one kept is not kept again; empty names are
    // never equal, and a repeat further away stays.
    EXPECT_EQ(Kept({"__imp__LoadIconA@8", "_LoadIconA@8"}), (V{"_LoadIconA@8"}));
    EXPECT_EQ(Kept({"_X", "__IMPORT_DESCRIPTOR_D", "__imp__X", "_X", "_Y", "_X"}), (V{"_X", "_Y", "_X"}));
    EXPECT_EQ(Kept({"__imp_", "__imp_", "_Xa", "_X"}), (V{"", "", "_Xa", "_X"}));
    EXPECT_EQ(Kept({"__imp_?Foo@@YAXXZ", "?Foo@@YAXXZ"}), V{});
    EXPECT_EQ(Kept({"__imp_@Fast@8", "@Fast@8"}), (V{"_Fast@8"}));
    EXPECT_EQ(Kept({"\x7fKERNEL32_NULL_THUNK_DATA", "\x7fKERNEL32"}), (V{"\x7fKERNEL32"}));
    EXPECT_EQ(Kept({"__IMPORT_DESCRIPTOR_KERNEL32", "__IMPORT_DESCRIPTOR"}), (V{"__IMPORT_DESCRIPTOR"}));
    EXPECT_EQ(Kept({"__NULL_IMPORT_DESCRIPTOR", "__NULL_IMPORT_DESCRIPTORX"}), (V{"__NULL_IMPORT_DESCRIPTORX"}));
    // Behind the prefix only a '?' drops a name.
    EXPECT_EQ(Kept({"__imp___NULL_IMPORT_DESCRIPTOR", "__imp_\x7fX_NULL_THUNK_DATA"}),
              (V{"__NULL_IMPORT_DESCRIPTOR", "\x7fX_NULL_THUNK_DATA"}));
    EXPECT_EQ(Kept({"__imp_", "__imp_TlsData", "_wsprintfA"}), (V{"", "TlsData", "_wsprintfA"}));
    // Only a leading '@' is turned into '_'.
    EXPECT_EQ(Kept({"_a@b@4", "@"}), (V{"_a@b@4", "_"}));
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
    std::string good = Archive({"_Foo@4", "_Bar@8"});
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
    } cases[] = {
        {"a whole table", good, true},
        {"the signature alone", "!<arch>\n", true},
        {"nothing", "", false},
        {"part of the signature", "!<arch>", false},
        {"another signature", "!<arch>\r" + good.substr(8), false},
        {"a member header cut short", good.substr(0, 40), false},
        {"no count", good.substr(0, 70), false},
        {"offsets cut short", Archive({"_Foo@4"}).substr(0, 74), false},
        {"first member not a linker member", Archive({"_Foo@4"}, -1, "/1/"), false},
        {"a linker member name with junk", Archive({"_Foo@4"}, -1, "/x"), false},
        {"a count larger than the names", Archive({"_Foo@4"}, 2), false},
        {"a count of 0xFFFFFFFF", Archive({"_Foo@4"}, 0xFFFFFFFFll), false},
        {"a last name without its NUL", good.substr(0, good.size() - 1), false},
        {"a count of zero", Archive({}), true},
        {"fewer names counted than present", Archive({"_Foo@4", "_Bar@8"}, 1), true},
        // The member's declared size bounds the table, whatever follows it.
        {"the next member behind the table", good + Header("/1/", "0"), true},
        {"names past the member's size", WithSizeField(good, std::to_string(good.size() - 69)), false},
        {"offsets past the member's size", WithSizeField(good, "6"), false},
        {"a count past the member's size", WithSizeField(good, "3"), false},
        {"a member past the file's end", WithSizeField(good, std::to_string(good.size() - 67)), false},
        {"a size field of letters", WithSizeField(good, "abc"), false},
        {"a size field of spaces", WithSizeField(good, ""), false},
        {"a size field with a leading space", WithSizeField(good, " " + std::to_string(good.size() - 68)), false},
        {"a size field with junk after the digits", WithSizeField(good, std::to_string(good.size() - 68) + "x"), false},
    };
    for (Case& c : cases) {
        Image image(c.bytes);
        EXPECT_EQ(IsValidImportLibrary(image.View()), c.valid) << c.what;
    }
}
