// Reads the procedure names from the first linker member of an import
// library archive.
#pragma once

#include "text.h"

// Zero bytes that follow the file's bytes in the image's block: the slack
// past the last name that the word paths may read.
constexpr SIZE_T LibraryImagePadding = 8;

// The file's bytes as read, with their length.
struct LibraryImage {
    BYTE* Bytes;
    SIZE_T Size;
};

// A kept name: where it lies in the image, its length, and its first
// sixteen bytes as two numbers whose unsigned order is the names' order (the
// terminator counts as a byte, what follows it as nothing), so that almost
// every comparison needs no more: names that share their first eight bytes
// are common ("_GetWind..."). Names in the image are followed by their
// terminator and the image's padding, which the word paths may read.
struct SymbolName {
    ULONGLONG OrderKey;  // bytes 0 to 7
    ULONGLONG NextKey;   // bytes 8 to 15
    const char* Text;
    SIZE_T Length;
};

// The bytes the two keys hold.
constexpr SIZE_T KeyedBytes = 16;

inline TextSpan NameOf(const SymbolName& entry) { return TextSpan{entry.Text, entry.Length}; }

// The kept names, in table order.
struct SymbolList {
    SymbolName* Names;
    SIZE_T Count;
};

// The entry of a name followed by its terminator and eight readable bytes.
SymbolName SymbolNameOf(TextSpan name);

// True when both entries hold the same name, and it is not empty: two
// empty names never count as equal.
bool SameName(const SymbolName& a, const SymbolName& b);

// The archive signature and the first member's header: the bytes to read
// before the table's extent is known.
constexpr SIZE_T ArchiveHeadSize = 68;

// Where the first member ends, counted from the file's start, as its header
// declares it (the size field: decimal digits followed by spaces); 0 when
// the image holds no signature and whole header, or the field is no size.
ULONGLONG FirstMemberEnd(const LibraryImage& image);

// True when the image starts with the archive signature and either ends
// there (an empty archive) or holds a first linker member that lies within
// the image, and whose count, offsets and names all lie within the member.
// The image may end with that member: nothing behind it is looked at.
bool IsValidImportLibrary(const LibraryImage& image);

// The first position at which "_NULL_THUNK_DATA" starts, or null.
const char* FindNullThunk(const char* text);

// Collects the names of a valid image in one scan, dropping the linker's
// bookkeeping symbols, the '?'-decorated names and names that hold a
// control byte; "__imp_" is cut off, and a leading '@' becomes '_' in place.
// A name equal to the one kept just before it is not kept again. Ends the
// run when the list can't be allocated.
SymbolList ReadSymbolTable(const LibraryImage& image);
