// Reads the procedure names from the first linker member of an import
// library archive.
#pragma once

#include "win32.h"

// Zero bytes that follow the file's bytes in the image's block, so that
// word-wise length scans of the last name stay inside the block.
constexpr SIZE_T LibraryImagePadding = 8;

// The file's bytes as read, with their length.
struct LibraryImage {
    BYTE* Bytes;
    SIZE_T Size;
};

// The kept names: pointers into the image, in table order.
struct SymbolList {
    char** Names;
    SIZE_T Count;
};

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

// Collects the names of a valid image, dropping the linker's bookkeeping
// symbols and the '?'-decorated names; "__imp_" is cut off, and a leading
// '@' becomes '_' in place. A name equal to the one kept just before it is
// not kept again. Ends the run when the list can't be allocated.
SymbolList ReadSymbolTable(const LibraryImage& image);
