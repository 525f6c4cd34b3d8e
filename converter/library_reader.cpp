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

// The first bytes of a text as the low bytes of a word, as LoadQword reads them.
constexpr ULONGLONG WordOf(const char* text, SIZE_T count) {
    ULONGLONG word = 0;
    for (SIZE_T i = count; i-- > 0;) word = word << 8 | static_cast<BYTE>(text[i]);
    return word;
}

// Names are followed by their terminator and the image's padding: a word
// can be read from any of them.
bool HasImportPrefix(const char* name) {
    constexpr SIZE_T PrefixLength = sizeof(ImportPrefix) - 1;
    return (LoadQword(name) & LowBytes(PrefixLength)) == WordOf(ImportPrefix, PrefixLength);
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

void TurnLeadingAtIntoUnderscore(char* name) {
    if (name[0] == '@') name[0] = '_';
}

// The index of the first byte below 0x20 in the name at 'name': its
// terminator, unless a control byte comes first. A control byte (a line
// break, say) would carry into the include file and could add lines of its
// own; no real library has one. One scan gives the check and, mostly, the
// length. 'left' bytes lie before the end of the member: a name that
// reaches it has no terminator inside.
SIZE_T FirstByteBelowSpace(const char* name, SIZE_T left) {
    return FirstMarkedByte(left, [name](SIZE_T at) { return BytesBelow(LoadQword(name + at), 0x20); });
}

// The name to keep of one table entry without control bytes, or an empty
// span when it is dropped.
TextSpan KeptName(char* name, SIZE_T length) {
    // Most names are plain: an underscore, then anything but another.
    if (name[0] == '_' && name[1] != '_') return TextSpan{name, length};
    if (HasImportPrefix(name)) {
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

// The key bits that stand for the first 'count' bytes of a name.
constexpr ULONGLONG LeadingKeyBytes(SIZE_T count) { return count >= 8 ? ~0ull : ~(~0ull >> (8 * count)); }

// Where the name at 'name' ends, or null when no terminator comes before
// 'end'. 'length' is its length up to the first byte below 0x20, 'controlled'
// whether that byte is a control byte rather than the terminator.
const char* NameEnd(const char* name, const char* end, SIZE_T& length, bool& controlled) {
    SIZE_T left = static_cast<SIZE_T>(end - name);
    length = FirstByteBelowSpace(name, left);
    if (length == left) return nullptr;
    controlled = name[length] != '\0';
    if (!controlled) return name + length;
    const char* rest = name + length;
    SIZE_T tail = FirstMarkedByte(left - length, [rest](SIZE_T at) { return ZeroBytes(LoadQword(rest + at)); });
    return tail == left - length ? nullptr : rest + tail;
}

// Keeps the name unless it is dropped. A library lists most functions
// twice, side by side ("__imp__X" and "_X" both give "_X"); of equal names
// the include file has one line whatever their number, so a name equal to
// the one kept last is not kept again, and the sort handles half the names.
// The name goes into the slot after the last one, where it stays only when
// it is kept.
void Keep(SymbolList& list, char* name, SIZE_T length) {
    TextSpan kept = KeptName(name, length);
    if (kept.Data == nullptr) return;
    list.Keys[list.Count] = FirstKeyOf(kept);
    list.Names[list.Count] = SymbolNameOf(kept);
    if (list.Count > 0 && SameName(list, list.Count - 1, list.Count)) return;
    ++list.Count;
    if (kept.Length > list.LongestName) list.LongestName = kept.Length;
}

LibraryCheck Refuse(SymbolList& list, LibraryCheck why) {
    ReleaseSymbolList(list);
    return why;
}

// Room for 'count' entries and the one being tried, in one block: the keys,
// then the rest of the entries.
SymbolList NewSymbolList(DWORD count) {
    constexpr SIZE_T SlotSize = sizeof(ULONGLONG) + sizeof(SymbolName);
    SIZE_T slots = static_cast<SIZE_T>(count) + 1;
    // Where SIZE_T has 32 bits, a table of some hundred megabytes could count more.
    if (slots > ~static_cast<SIZE_T>(0) / SlotSize) FailRun("memory allocation failure");
    BYTE* block = static_cast<BYTE*>(AllocateUnclearedOrFail(slots * SlotSize));
    return SymbolList{reinterpret_cast<ULONGLONG*>(block),
                      reinterpret_cast<SymbolName*>(block + slots * sizeof(ULONGLONG)), 0, 0};
}

}  // namespace

LibraryCheck CheckArchiveHead(const LibraryImage& image, ULONGLONG fileSize, ULONGLONG& memberEnd) {
    memberEnd = SignatureSize;
    if (!HasArchiveSignature(image)) return LibraryCheck::NoSignature;
    if (fileSize == SignatureSize) return LibraryCheck::Accepted;  // an empty archive
    if (image.Size < ArchiveHeadSize) return LibraryCheck::NoMemberHeader;
    ULONGLONG size = 0;
    if (!ParseMemberSize(image.Bytes + SignatureSize + MemberSizeField, size))
        return LibraryCheck::MemberSizeUnreadable;
    memberEnd = ArchiveHeadSize + size;
    // Everything the table holds must lie within the member, and the member
    // within the file: a count that overruns it would read the next member.
    if (memberEnd > fileSize) return LibraryCheck::MemberPastFileEnd;
    if (!HasLinkerMemberName(image.Bytes + SignatureSize)) return LibraryCheck::NotLinkerMember;
    return LibraryCheck::Accepted;
}

const char* FindNullThunk(const char* text) {
    for (; *text != '\0'; ++text)
        if (StartsWith(text, NullThunk)) return text;
    return nullptr;
}

// The terminator takes part in the keys.
ULONGLONG FirstKeyOf(TextSpan name) { return SymbolOrderKey(LoadQword(name.Data)) & LeadingKeyBytes(name.Length + 1); }

SymbolName SymbolNameOf(TextSpan name) {
    SIZE_T keyed = name.Length + 1;
    ULONGLONG second = keyed > 8 ? SymbolOrderKey(LoadQword(name.Data + 8)) & LeadingKeyBytes(keyed - 8) : 0;
    return SymbolName{second, name.Data, name.Length};
}

bool SameName(const SymbolList& list, SIZE_T a, SIZE_T b) {
    const SymbolName& x = list.Names[a];
    const SymbolName& y = list.Names[b];
    if (list.Keys[a] != list.Keys[b] || x.NextKey != y.NextKey || x.Length != y.Length || x.Length == 0) return false;
    return x.Length <= KeyedBytes || BytesEqual(x.Text + KeyedBytes, y.Text + KeyedBytes, x.Length - KeyedBytes);
}

void ReleaseSymbolList(SymbolList& list) {
    FreeBlock(list.Keys);
    list = SymbolList{};
}

LibraryCheck ReadSymbolTable(const LibraryImage& image, SymbolList& list) {
    list = SymbolList{};
    ULONGLONG memberEnd = 0;
    LibraryCheck head = CheckArchiveHead(image, image.Size, memberEnd);
    if (head != LibraryCheck::Accepted || memberEnd == SignatureSize) return head;
    if (memberEnd < FirstOffsetOffset) return LibraryCheck::NoSymbolCount;
    DWORD count = ReadBigEndian32(image.Bytes + CountOffset);
    if (NamesOffset(count) > memberEnd) return LibraryCheck::OffsetsPastMember;
    list = NewSymbolList(count);
    char* name = reinterpret_cast<char*>(image.Bytes + NamesOffset(count));
    const char* end = reinterpret_cast<const char*>(image.Bytes + memberEnd);
    for (DWORD i = 0; i < count; ++i) {
        SIZE_T length = 0;
        bool controlled = false;
        const char* after = NameEnd(name, end, length, controlled);
        if (after == nullptr) return Refuse(list, LibraryCheck::NamesPastMember);
        // A name with a control byte is passed over whole.
        if (!controlled) Keep(list, name, length);
        name += after - name + 1;  // past the terminator
    }
    return LibraryCheck::Accepted;
}
