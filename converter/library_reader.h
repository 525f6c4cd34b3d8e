// Reads the procedure names from the first linker member of an import
// library archive, checking in the same pass that the member holds them.
#pragma once

#include "text.h"

// Bytes that follow the file's bytes in the image's block: the slack past
// the last name that the word paths may read. What they hold never matters.
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

// The kept names, in table order, and the length of the longest.
struct SymbolList {
    SymbolName* Names;
    SIZE_T Count;
    SIZE_T LongestName;
};

// The entry of a name followed by its terminator and eight readable bytes.
SymbolName SymbolNameOf(TextSpan name);

// True when both entries hold the same name, and it is not empty: two
// empty names never count as equal.
bool SameName(const SymbolName& a, const SymbolName& b);

// Why an archive is refused, or that it is taken; the checks in the order
// they are made.
enum class LibraryCheck : BYTE {
    Accepted,
    NoSignature,           // fewer bytes than "!<arch>\n", or others
    NoMemberHeader,        // more than the signature, but not a whole member header
    MemberSizeUnreadable,  // the header's size field is not decimal digits padded with spaces
    MemberPastFileEnd,     // the first member runs past the end of the file
    NotLinkerMember,       // the first member is not named "/"
    NoSymbolCount,         // the member is too short to hold the symbol count
    OffsetsPastMember,     // the count's offsets run past the member
    NamesPastMember,       // fewer names end inside the member than the count says
};

// The archive signature and the first member's header: the bytes to read
// before the table's extent is known.
constexpr SIZE_T ArchiveHeadSize = 68;

// The first member as the signature and header at the image's start declare
// it, in a file of 'fileSize' bytes. 'memberEnd' is where the member ends,
// counted from the file's start; for an archive of the signature alone it
// is the signature's end. Accepted does not yet say that the member holds
// its names: ReadSymbolTable checks that.
LibraryCheck CheckArchiveHead(const LibraryImage& image, ULONGLONG fileSize, ULONGLONG& memberEnd);

// The first position at which "_NULL_THUNK_DATA" starts, or null.
const char* FindNullThunk(const char* text);

// Checks the image's head as CheckArchiveHead does, the image ending with
// the first member, and collects in one scan its names, dropping the linker's
// bookkeeping symbols, the '?'-decorated names and names that hold a
// control byte; "__imp_" is cut off, and a leading '@' becomes '_' in place.
// A name equal to the one kept just before it is not kept again. Checks on
// the way that the count, its offsets and every name lie within the member;
// a refused image gives an empty list. Ends the run when the list can't be
// allocated.
LibraryCheck ReadSymbolTable(const LibraryImage& image, SymbolList& list);
