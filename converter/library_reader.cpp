#include "library_reader.h"

#include "run.h"
#include "text.h"
#include "word_access.h"

namespace {

constexpr char ArchiveSignature[] = "!<arch>\n";
constexpr SIZE_T SignatureSize = 8;
constexpr SIZE_T MemberHeaderSize = 60;
constexpr SIZE_T MemberNameSize = 16;
constexpr SIZE_T MemberSizeField = 48;  // within the header
constexpr SIZE_T MemberSizeFieldLength = 10;
constexpr SIZE_T CountOffset = SignatureSize + MemberHeaderSize;  // 68
constexpr SIZE_T FirstOffsetOffset = CountOffset + 4;             // 72

constexpr char ImportPrefix[] = "__imp_";
constexpr char DescriptorPrefix[] = "__IMPORT_DESCRIPTOR_";
constexpr char NullDescriptor[] = "__NULL_IMPORT_DESCRIPTOR";
constexpr char NullThunk[] = "_NULL_THUNK_DATA";
constexpr char DeleteByte = 0x7F;

bool StartsWith(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text != *prefix) return false;
    return true;
}

DWORD ReadBigEndian32(const BYTE* bytes) {
    return (static_cast<DWORD>(bytes[0]) << 24) | (static_cast<DWORD>(bytes[1]) << 16) |
           (static_cast<DWORD>(bytes[2]) << 8) | static_cast<DWORD>(bytes[3]);
}

bool HasLinkerMemberName(const BYTE* header) {
    if (header[0] != '/') return false;
    for (SIZE_T i = 1; i < MemberNameSize; ++i)
        if (header[i] != ' ') return false;
    return true;
}

bool IsDecimalDigit(BYTE c) { return c >= '0' && c <= '9'; }

// Decimal digits followed by spaces, as an archive writer pads them; false
// for anything else, an empty field included.
bool ParseMemberSize(const BYTE* field, ULONGLONG& size) {
    SIZE_T i = 0;
    size = 0;
    for (; i < MemberSizeFieldLength && IsDecimalDigit(field[i]); ++i) size = size * 10 + (field[i] - '0');
    if (i == 0) return false;
    for (; i < MemberSizeFieldLength; ++i)
        if (field[i] != ' ') return false;
    return true;
}

// Where the names start, computed in 64 bits so that no count overflows.
ULONGLONG NamesOffset(DWORD count) { return FirstOffsetOffset + 4ull * count; }

// Each of 'count' names must end in a NUL inside [position, end).
bool NamesEndInside(const BYTE* position, const BYTE* end, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        // Eight bytes at a time while they all lie before the end.
        while (end - position >= 8 && ZeroBytes(LoadQword(position)) == 0) position += 8;
        while (position < end && *position != 0) ++position;
        if (position == end) return false;
        ++position;
    }
    return true;
}

void TurnLeadingAtIntoUnderscore(char* name) {
    if (name[0] == '@') name[0] = '_';
}

// The index of the name's first byte below 0x20: its terminator, unless a
// control byte comes first. A control byte (a line break, say) would carry
// into the include file and could add lines of its own; no real library
// has one. One scan gives the check and, mostly, the length.
SIZE_T FirstByteBelowSpace(const char* name) {
    SIZE_T n = 0;
    for (;;) {
        if (QwordFitsInPage(name + n)) {
            ULONGLONG marks = BytesBelow(LoadQword(name + n), 0x20);
            if (marks != 0) return n + LowestMarkedByte(marks);
            n += 8;
            continue;
        }
        if (static_cast<BYTE>(name[n]) < 0x20) return n;
        ++n;
    }
}

// The name to keep for one table entry without control bytes, or null when
// it is dropped; 'length' goes from the entry's length to the kept name's.
char* KeptName(char* name, SIZE_T& length) {
    if (StartsWith(name, ImportPrefix)) {
        char* rest = name + sizeof(ImportPrefix) - 1;
        if (rest[0] == '?') return nullptr;
        TurnLeadingAtIntoUnderscore(rest);
        length -= sizeof(ImportPrefix) - 1;
        return rest;
    }
    if (name[0] == DeleteByte && FindNullThunk(name + 1) != nullptr) return nullptr;
    if (StartsWith(name, DescriptorPrefix)) return nullptr;
    if (SameNonEmptyText(name, length, NullDescriptor, sizeof(NullDescriptor) - 1)) return nullptr;
    if (name[0] == '?') return nullptr;
    TurnLeadingAtIntoUnderscore(name);
    return name;
}

bool HasArchiveSignature(const LibraryImage& image) {
    if (image.Size < SignatureSize) return false;
    for (SIZE_T i = 0; i < SignatureSize; ++i)
        if (image.Bytes[i] != static_cast<BYTE>(ArchiveSignature[i])) return false;
    return true;
}

// A library lists most functions twice, side by side ("__imp__X" and "_X"
// both give "_X"). Of equal names the include file has one line whatever
// their number, so a repeat is dropped here and the sort handles half the
// names. Empty names never count as equal, as in the include writer.
bool RepeatsLastKept(const SymbolList& list, SIZE_T lastLength, const char* name, SIZE_T length) {
    return list.Count > 0 && SameNonEmptyText(list.Names[list.Count - 1], lastLength, name, length);
}

}  // namespace

ULONGLONG FirstMemberEnd(const LibraryImage& image) {
    if (image.Size < ArchiveHeadSize || !HasArchiveSignature(image)) return 0;
    ULONGLONG size = 0;
    return ParseMemberSize(image.Bytes + SignatureSize + MemberSizeField, size) ? ArchiveHeadSize + size : 0;
}

bool IsValidImportLibrary(const LibraryImage& image) {
    if (!HasArchiveSignature(image)) return false;
    if (image.Size == SignatureSize) return true;
    // Everything the table holds must lie within the member, and the member
    // within the file: a count that overruns it would read the next member.
    ULONGLONG memberEnd = FirstMemberEnd(image);
    if (memberEnd < FirstOffsetOffset || memberEnd > image.Size) return false;
    if (!HasLinkerMemberName(image.Bytes + SignatureSize)) return false;
    DWORD count = ReadBigEndian32(image.Bytes + CountOffset);
    ULONGLONG namesOffset = NamesOffset(count);
    if (namesOffset > memberEnd) return false;
    return NamesEndInside(image.Bytes + namesOffset, image.Bytes + memberEnd, count);
}

const char* FindNullThunk(const char* text) {
    for (; *text != '\0'; ++text)
        if (StartsWith(text, NullThunk)) return text;
    return nullptr;
}

SymbolList ReadSymbolTable(const LibraryImage& image) {
    SymbolList list{nullptr, 0};
    if (image.Size <= SignatureSize) return list;
    DWORD count = ReadBigEndian32(image.Bytes + CountOffset);
    list.Names = static_cast<char**>(AllocateOrFail((static_cast<SIZE_T>(count) + 1) * sizeof(char*)));
    char* name = reinterpret_cast<char*>(image.Bytes + NamesOffset(count));
    SIZE_T lastLength = 0;
    for (DWORD i = 0; i < count; ++i) {
        SIZE_T length = FirstByteBelowSpace(name);
        bool holdsControlByte = name[length] != '\0';
        SIZE_T keptLength = length;
        char* kept = holdsControlByte ? nullptr : KeptName(name, keptLength);
        if (kept != nullptr && !RepeatsLastKept(list, lastLength, kept, keptLength)) {
            list.Names[list.Count++] = kept;
            lastLength = keptLength;
        }
        if (holdsControlByte) length += StrLen(name + length);
        name += length + 1;
    }
    return list;
}
