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

// A kept name: where it lies in the image, its length, and its bytes 8 to
// 15 as a number whose unsigned order is the names' order (the terminator
// counts as a byte, what follows it as nothing). Names in the image are
// followed by their terminator and the image's padding, which the word
// paths may read.
struct SymbolName {
    ULONGLONG NextKey;
    const char* Text;
    SIZE_T Length;
};

// The kept names in two arrays side by side: each name's first eight bytes
// as a key like NextKey, and the rest of its entry. The first key alone
// decides almost every comparison, so that the sort streams through the
// keys, an eighth of the bytes, most of the time; names that share their
// first eight bytes are common ("_GetWind..."), and NextKey decides most of
// those without reading the name.
struct SymbolList {
    ULONGLONG* Keys;
    SymbolName* Names;
    SIZE_T Count;
    SIZE_T LongestName;
};

// The bytes the two keys hold.
constexpr SIZE_T KeyedBytes = 16;

inline TextSpan NameOf(const SymbolName& entry) { return TextSpan{entry.Text, entry.Length}; }

// The keys and the entry of a name followed by its terminator and eight
// readable bytes.
ULONGLONG FirstKeyOf(TextSpan name);
SymbolName SymbolNameOf(TextSpan name);

// True when the entries at a and b hold the same name, and it is not empty:
// two empty names never count as equal.
bool SameName(const SymbolList& list, SIZE_T a, SIZE_T b);

// Frees the list's arrays.
void ReleaseSymbolList(SymbolList& list);

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
