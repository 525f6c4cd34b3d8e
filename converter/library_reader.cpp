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

// Each of 'count' names must end in a NUL inside [position, end): the
// names lie one behind the other, so that holds when the range holds at
// least 'count' NULs. Counted a word at a time, with no branch on the bytes.
bool NamesEndInside(const char* position, const char* end, DWORD count) {
    SIZE_T length = static_cast<SIZE_T>(end - position);
    ULONGLONG nuls = 0;
    for (SIZE_T at = 0; at < length; at += 8) {
        ULONGLONG word = LoadQword(position + at);
        ULONGLONG inside = length - at >= 8 ? ~0ull : LowBytes(length - at);
        ULONGLONG marks = ~NonZeroBytes(word) & RepeatedByte(0x80) & inside;
        nuls += ((marks >> 7) * RepeatedByte(1)) >> 56;  // the number of marked bytes
    }
    return nuls >= count;
}

void TurnLeadingAtIntoUnderscore(char* name) {
    if (name[0] == '@') name[0] = '_';
}

// The index of the first byte below 0x20 in the name at 'name': its
// terminator, unless a control byte comes first. A control byte (a line
// break, say) would carry into the include file and could add lines of its
// own; no real library has one. One scan gives the check and, mostly, the
// length. 'left' bytes lie before the end of the member, the terminator
// among them.
SIZE_T FirstByteBelowSpace(const char* name, SIZE_T left) {
    return FirstMarkedByte(left, [name](SIZE_T at) { return BytesBelow(LoadQword(name + at), 0x20); });
}

// The name to keep of one table entry without control bytes, or an empty
// span when it is dropped.
TextSpan KeptName(char* name, SIZE_T length) {
    // Most names are plain: an underscore, then anything but another.
    if (name[0] == '_' && name[1] != '_') return TextSpan{name, length};
    if (StartsWith(name, ImportPrefix)) {
        constexpr SIZE_T PrefixLength = sizeof(ImportPrefix) - 1;
        char* rest = name + PrefixLength;
        if (rest[0] == '?') return TextSpan{};
        TurnLeadingAtIntoUnderscore(rest);
        return TextSpan{rest, length - PrefixLength};
    }
    if (name[0] == DeleteByte && FindNullThunk(name + 1) != nullptr) return TextSpan{};
    if (StartsWith(name, DescriptorPrefix)) return TextSpan{};
    if (length == sizeof(NullDescriptor) - 1 && StartsWith(name, NullDescriptor)) return TextSpan{};
    if (name[0] == '?') return TextSpan{};
    TurnLeadingAtIntoUnderscore(name);
    return TextSpan{name, length};
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
bool RepeatsLastKept(const SymbolList& list, const SymbolName& name) {
    return list.Count > 0 && SameName(list.Names[list.Count - 1], name);
}

// The key bits that stand for the first 'count' bytes of a name.
constexpr ULONGLONG LeadingKeyBytes(SIZE_T count) { return count >= 8 ? ~0ull : ~(~0ull >> (8 * count)); }

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
    const char* names = reinterpret_cast<const char*>(image.Bytes);
    return NamesEndInside(names + namesOffset, names + memberEnd, count);
}

const char* FindNullThunk(const char* text) {
    for (; *text != '\0'; ++text)
        if (StartsWith(text, NullThunk)) return text;
    return nullptr;
}

SymbolName SymbolNameOf(TextSpan name) {
    SIZE_T keyed = name.Length + 1;  // the terminator takes part
    ULONGLONG first = SymbolOrderKey(LoadQword(name.Data)) & LeadingKeyBytes(keyed);
    ULONGLONG second = keyed > 8 ? SymbolOrderKey(LoadQword(name.Data + 8)) & LeadingKeyBytes(keyed - 8) : 0;
    return SymbolName{first, second, name.Data, name.Length};
}

bool SameName(const SymbolName& a, const SymbolName& b) {
    if (a.OrderKey != b.OrderKey || a.NextKey != b.NextKey || a.Length != b.Length || a.Length == 0) return false;
    return a.Length <= KeyedBytes || BytesEqual(a.Text + KeyedBytes, b.Text + KeyedBytes, a.Length - KeyedBytes);
}

SymbolList ReadSymbolTable(const LibraryImage& image) {
    SymbolList list{nullptr, 0};
    if (image.Size <= SignatureSize) return list;
    DWORD count = ReadBigEndian32(image.Bytes + CountOffset);
    list.Names = static_cast<SymbolName*>(AllocateOrFail((static_cast<SIZE_T>(count) + 1) * sizeof(SymbolName)));
    char* name = reinterpret_cast<char*>(image.Bytes + NamesOffset(count));
    const char* end = reinterpret_cast<const char*>(image.Bytes + image.Size);
    for (DWORD i = 0; i < count; ++i) {
        SIZE_T left = static_cast<SIZE_T>(end - name);
        SIZE_T length = FirstByteBelowSpace(name, left);
        if (name[length] != '\0') {  // a control byte: the name is passed over whole
            const char* rest = name + length;
            length += FirstMarkedByte(left - length, [rest](SIZE_T at) { return ZeroBytes(LoadQword(rest + at)); });
        } else if (TextSpan kept = KeptName(name, length); kept.Data != nullptr) {
            SymbolName entry = SymbolNameOf(kept);
            if (!RepeatsLastKept(list, entry)) list.Names[list.Count++] = entry;
        }
        name += length + 1;
    }
    return list;
}
