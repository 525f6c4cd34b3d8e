#include "include_file.h"

namespace {

// WriteFile takes a 32-bit count; longer texts go in pieces of this size.
constexpr DWORD WritePiece = 0x40000000;
// A temporary file copied into the include in place goes in pieces of this size.
constexpr DWORD CopyPiece = 0x10000;
// The include's name is given relative to the current folder.
constexpr char CurrentFolder[] = ".\\";
// The temporary file's name, "carvex-<n>.tmp": short, so that it fits
// wherever the include's own name fits, however long that is.
constexpr char TemporaryStart[] = "carvex-";
constexpr char TemporaryEnd[] = ".tmp";
// Where a path given back by GetFinalPathNameByHandleA may begin; padded,
// as BytesEqual reads whole words.
constexpr PaddedText LongPathStart("\\\\?\\");
// Another run that holds the include (Windows' ReplaceFileA meets it as a
// sharing violation) is waited for this many times, this long each: a few
// hundred milliseconds in all.
constexpr int SharingTries = 30;
constexpr DWORD SharingWait = 10;

// ---- The run's temporary file and the console control handler -----------

// Where the run stands with its temporary file.
constexpr LONG NoTemporary = 0;      // none: an interruption ends the run at once
constexpr LONG TemporaryOpen = 1;    // being written: an interruption removes it
constexpr LONG StepRunning = 2;      // a file being made or put in place: an interruption waits
constexpr LONG StepInterrupted = 3;  // the same, interrupted: the step's end hands over
constexpr LONG RunEnding = 4;        // the handler has taken over: the main thread goes no further

// The one record the main thread shares with the console control handler.
// The handler is handed nothing but the kind of event and runs beside the
// main thread (on a thread of its own), so it can find the temporary file
// only here. The two hand the file over by atomic exchanges of the state:
// the handler never removes a file that is becoming the include, and the
// main thread makes or moves nothing once the handler has taken over.
struct SharedTemporary {
    LONG State;
    const char* Name;  // the temporary file, while the state is TemporaryOpen
};
SharedTemporary Shared{NoTemporary, nullptr};

bool MoveState(LONG from, LONG to) {
    return __atomic_compare_exchange_n(&Shared.State, &from, to, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

// The handler has taken over and the process is ending: wait for the end.
[[noreturn]] void AwaitEnd() {
    for (;;) Sleep(1000);
}

// A step that an interruption must not cut into: making the temporary file,
// putting it in place, writing the include in place.
void BeginStep(LONG from) {
    if (!MoveState(from, StepRunning)) AwaitEnd();
}

// Once the step is over, an interruption that came during it takes over.
void EndStep(LONG to) {
    if (MoveState(StepRunning, to)) return;
    __atomic_store_n(&Shared.State, to, __ATOMIC_SEQ_CST);
    AwaitEnd();
}

// Removes the temporary file, once no step is running, and ends the run as
// Windows' own handler does, so that whoever started it sees it interrupted
// (on Linux: ended by the signal).
BOOL WINAPI EndWithoutTemporary(DWORD) {
    for (;;) {
        if (MoveState(TemporaryOpen, RunEnding)) {
            DeleteFileA(Shared.Name);
            ExitProcess(STATUS_CONTROL_C_EXIT);
        }
        if (MoveState(NoTemporary, RunEnding)) ExitProcess(STATUS_CONTROL_C_EXIT);
        // A second event while the first one is ending the run.
        if (__atomic_load_n(&Shared.State, __ATOMIC_SEQ_CST) == RunEnding) AwaitEnd();
        // A step is running: it takes moments (writing the include in place
        // at most), and hands the run over at its end.
        MoveState(StepRunning, StepInterrupted);
        Sleep(1);
    }
}

// ---- Names and paths ----------------------------------------------------

// Tries a call again while another process holds the file it needs; where
// 'denied' says so, a refusal of access may mean that too (Windows refuses
// to rename over a file that another run's ReplaceFileA holds open).
template <typename Call>
bool WhileShared(Call call, bool denied = false) {
    for (int tries = 1;; ++tries) {
        if (call()) return true;
        DWORD error = GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || (denied && error == ERROR_ACCESS_DENIED);
        if (!held || tries == SharingTries) return false;
        Sleep(SharingWait);
    }
}

// The file's path with its links followed; false when the system gives none.
bool AskFinalPath(HANDLE file, TextBuffer& path) {
    path.Length = 0;
    ReserveText(path, MAX_PATH);
    for (;;) {
        DWORD room = path.Capacity < 0xFFFFFFFFu ? static_cast<DWORD>(path.Capacity) : 0xFFFFFFFFu;
        DWORD length = GetFinalPathNameByHandleA(file, path.Data, room, 0);
        if (length == 0) return false;
        if (length < room) {
            path.Length = length;
            return true;
        }
        ReserveText(path, length);  // the room it asks for, its NUL included
    }
}

// GetFinalPathNameByHandleA spells the path in the ANSI code page, with a
// '?' for each character the code page lacks, and no Windows name holds a
// '?' (but for the "\\?\" that starts such a path). A path with a lost
// character leads nowhere.
bool SpellsEveryCharacter(const TextBuffer& path) {
    TextSpan start = LongPathStart.Span();
    bool longPath = path.Length >= start.Length && BytesEqual(path.Data, start.Data, start.Length);
    return !HoldsByte(path.Data + (longPath ? start.Length : 0), '?');
}

// Windows refuses to replace a read-only file, an administrator too; carvex
// refuses it on every system and as every user.
bool IsReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void AppendDecimal(TextBuffer& buffer, DWORD value) {
    char digits[11];
    char* first = digits + sizeof(digits) - 1;
    *first = '\0';
    do *--first = static_cast<char>('0' + value % 10);
    while ((value /= 10) != 0);
    AppendText(buffer, first);
}

// The target's folder, then "carvex-<n>.tmp": the final rename stays on the
// target's file system.
void NameTemporary(IncludeFiles& files, DWORD number) {
    TextBuffer& name = files.TemporaryName;
    name.Length = 0;
    ReserveText(name, files.Target.Length);
    CopyDirectoryPart(name.Data, files.Target.Data);
    name.Length = StrLen(name.Data);
    AppendText(name, TemporaryStart);
    AppendDecimal(name, number);
    AppendText(name, TemporaryEnd);
}

// ---- The temporary file -------------------------------------------------

IncludeRoute Settle(IncludeFiles& files, IncludeOutcome outcome) {
    files.Outcome = outcome;
    return IncludeRoute::Settled;
}

// A file of this run's own next to the target: CREATE_NEW takes a name only
// while no file holds it, so no two runs ever share one. A name held in any
// way (another run's temporary file, one left by a run killed outright, a
// folder; on Windows a folder or a file waiting to be deleted refuses access
// rather than saying it exists) is passed over; otherwise the refusal is the
// folder's, and 'refusal' says why.
HANDLE CreateTemporaryFile(IncludeFiles& files, DWORD& refusal) {
    DWORD number = files.NextNumber;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool taken = false;
    do {
        NameTemporary(files, number);
        file = CreateFileA(files.TemporaryName.Data, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        refusal = GetLastError();
        taken = refusal == ERROR_FILE_EXISTS || GetFileAttributesA(files.TemporaryName.Data) != INVALID_FILE_ATTRIBUTES;
    } while (taken && ++number != files.NextNumber);
    files.NextNumber = number;
    Shared.Name = files.TemporaryName.Data;
    return file;
}

// The text's route once the target is known: through a temporary file next
// to it; where the folder takes no new file but the include is there to be
// written, gathered and written in place.
IncludeRoute OpenTemporary(IncludeFiles& files) {
    BeginStep(NoTemporary);
    DWORD refusal = 0;
    files.Temporary = CreateTemporaryFile(files, refusal);
    bool open = files.Temporary != INVALID_HANDLE_VALUE;
    EndStep(open ? TemporaryOpen : NoTemporary);
    if (open) return IncludeRoute::Temporary;
    if (refusal == ERROR_ACCESS_DENIED && files.Existed) return IncludeRoute::Gathered;
    return Settle(files, IncludeOutcome::Failed);
}

// ---- The file that receives the text ------------------------------------

// The current folder as the system spells it, asked once a run.
bool KnowRunFolder(IncludeFiles& files) {
    if (files.RunFolder.Length != 0) return true;
    HANDLE folder = CreateFileA(CurrentFolder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    bool known = folder != INVALID_HANDLE_VALUE && AskFinalPath(folder, files.RunFolder);
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    return known;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether the final path names the include in the current folder; where the
// system does not spell the folder, there is nothing to tell and the answer
// is yes.
bool NamesIncludeHere(IncludeFiles& files) {
    if (!KnowRunFolder(files)) return true;
    const TextBuffer& path = files.FinalPath;
    SIZE_T folder = files.RunFolder.Length;
    if (IsSeparator(files.RunFolder.Data[folder - 1])) --folder;  // the root folder, "/" or "C:\\", ends in one
    TextSpan name = SpanOf(files.Name.Data + sizeof(CurrentFolder) - 1);
    return path.Length == folder + 1 + name.Length && BytesEqual(path.Data, files.RunFolder.Data, folder) &&
           IsSeparator(path.Data[folder]) && BytesEqual(path.Data + folder + 1, name.Data, name.Length);
}

// Where a link stands in the include's place, the file it leads to gets the
// text and the link stays. The temporary file goes next to that file; where
// its path cannot be had or spelled, the only name for it is the link's, and
// the text is written in place through the link.
IncludeRoute ThroughLink(IncludeFiles& files, bool finalPath) {
    if (!finalPath || !SpellsEveryCharacter(files.FinalPath)) {
        SetText(files.Target, files.Name.Data);
        return IncludeRoute::Gathered;
    }
    SetText(files.Target, files.FinalPath.Data);
    if (IsReadOnly(files.Target.Data)) return Settle(files, IncludeOutcome::Refused);
    return OpenTemporary(files);
}

// The route for an include that is there. Opening it follows a link: a link
// that leads to no regular file (a folder, a pipe, a device), to nothing, or
// that another user planted in a folder such as /tmp is refused there. Any
// other file in the include's place is replaced. Wine shows a link to a
// file as the file itself; its final path, outside the current folder,
// tells it apart.
IncludeRoute RouteForExisting(IncludeFiles& files, bool link) {
    HANDLE include = CreateFileA(files.Name.Data, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (include == INVALID_HANDLE_VALUE && link) return Settle(files, IncludeOutcome::Refused);
    bool finalPath = include != INVALID_HANDLE_VALUE && AskFinalPath(include, files.FinalPath);
    if (include != INVALID_HANDLE_VALUE) CloseHandle(include);
    return link || (finalPath && !NamesIncludeHere(files)) ? ThroughLink(files, finalPath) : OpenTemporary(files);
}

// One look at the name tells a new include, one to replace, a link, and one
// that is refused.
IncludeRoute ChooseRoute(IncludeFiles& files) {
    DWORD attributes = GetFileAttributesA(files.Name.Data);
    SetText(files.Target, files.Name.Data);
    files.Existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (!files.Existed)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? OpenTemporary(files) : Settle(files, IncludeOutcome::Failed);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RouteForExisting(files, true);
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return Settle(files, IncludeOutcome::Refused);
    return RouteForExisting(files, false);
}

// ---- Writing in place ----------------------------------------------------

bool MoveTo(HANDLE file, ULONGLONG offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

// The text to write in place: gathered, or read back from the temporary file.
struct TextSource {
    const char* Gathered;
    HANDLE Temporary;
    ULONGLONG Length;
};

bool CopyText(HANDLE to, const TextSource& source) {
    if (source.Gathered != nullptr) return WriteAllBytes(to, source.Gathered, static_cast<SIZE_T>(source.Length));
    char* piece = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, CopyPiece));
    bool copied = piece != nullptr;
    for (ULONGLONG left = source.Length; copied && left > 0;) {
        DWORD want = left < CopyPiece ? static_cast<DWORD>(left) : CopyPiece;
        DWORD read = 0;
        copied = ReadFile(source.Temporary, piece, want, &read, nullptr) && read == want &&
                 WriteAllBytes(to, piece, want);
        left -= want;
    }
    if (piece != nullptr) HeapFree(GetProcessHeap(), 0, piece);
    return copied;
}

// The whole new length is had before the first old byte is overwritten (on
// Windows and here, setting the end of a file allocates it), so a full disk
// or a limit on the file's size leaves the old text as it was.
bool MakeRoom(HANDLE file, ULONGLONG length, ULONGLONG& old) {
    LARGE_INTEGER end;
    LARGE_INTEGER none;
    none.QuadPart = 0;
    if (!SetFilePointerEx(file, none, &end, FILE_END)) return false;
    old = static_cast<ULONGLONG>(end.QuadPart);
    if (length > old && !(MoveTo(file, length) && SetEndOfFile(file))) return false;
    if (MoveTo(file, 0)) return true;
    static_cast<void>(MoveTo(file, old) && SetEndOfFile(file));  // the old length back
    return false;
}

// As editors do: the text written over the old one, which the file is cut
// to where it was longer. Only a failure once the overwriting has begun
// leaves the include damaged.
IncludeOutcome WriteInPlace(const char* target, const TextSource& source) {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool opened = WhileShared([&] {
        file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (!opened) return GetLastError() == ERROR_ACCESS_DENIED ? IncludeOutcome::Refused : IncludeOutcome::Failed;
    ULONGLONG old = 0;
    IncludeOutcome outcome = IncludeOutcome::Failed;
    if (MakeRoom(file, source.Length, old))
        outcome = CopyText(file, source) && (source.Length >= old || (MoveTo(file, source.Length) && SetEndOfFile(file)))
                      ? IncludeOutcome::Placed
                      : IncludeOutcome::Damaged;
    if (!CloseHandle(file) && outcome == IncludeOutcome::Placed) outcome = IncludeOutcome::Damaged;
    return outcome;
}

// The temporary file, written whole, takes the target's place in one step:
// a new include by a rename that takes no name that is taken (should one
// have appeared meanwhile, it is replaced); an old one by ReplaceFileA,
// which keeps what the system keeps of it (on Windows its attributes and
// security, on Linux its mode, owner and group). Where Windows has moved
// the old file away but not the new one in, or the old one has gone,
// MoveFileExA. Where the folder lets only a file's owner replace it
// (another user's include in a folder such as /tmp) but the include may be
// written, the text is copied into it in place.
// 'moved' tells whether the temporary file has gone.
IncludeOutcome PutInPlace(IncludeFiles& files, bool& moved) {
    const char* target = files.Target.Data;
    const char* temporary = files.TemporaryName.Data;
    if (!files.Existed) {
        moved = MoveFileExA(temporary, target, 0);
        if (moved) return IncludeOutcome::Placed;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return IncludeOutcome::Failed;
    }
    moved = WhileShared([&] { return ReplaceFileA(target, temporary, nullptr, 0, nullptr, nullptr) != 0; });
    if (moved) return IncludeOutcome::Placed;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        moved = WhileShared([&] { return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING) != 0; }, true);
        return moved ? IncludeOutcome::Placed : IncludeOutcome::Failed;
    }
    if (error != ERROR_ACCESS_DENIED) return IncludeOutcome::Failed;
    HANDLE copy = CreateFileA(temporary, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) return IncludeOutcome::Failed;
    IncludeOutcome outcome = WriteInPlace(target, TextSource{nullptr, copy, files.Written});
    CloseHandle(copy);
    return outcome;
}

IncludeOutcome FinishThroughTemporary(IncludeFiles& files) {
    if (!CloseHandle(files.Temporary)) files.WriteFailed = true;
    bool moved = false;
    IncludeOutcome outcome = files.WriteFailed ? IncludeOutcome::Failed : PutInPlace(files, moved);
    if (!moved) DeleteFileA(files.TemporaryName.Data);
    return outcome;
}

}  // namespace

void ReleaseIncludeFiles(IncludeFiles& files) {
    ReleaseText(files.Name);
    ReleaseText(files.Target);
    ReleaseText(files.TemporaryName);
    ReleaseText(files.RunFolder);
    ReleaseText(files.FinalPath);
    ReleaseText(files.Text);
}

void RemoveTemporaryFileOnInterrupt() { SetConsoleCtrlHandler(EndWithoutTemporary, 1); }

void BeginInclude(IncludeFiles& files, const char* name) {
    SetText(files.Name, CurrentFolder);
    AppendText(files.Name, name);
    files.Text.Length = 0;
    files.Written = 0;
    files.WriteFailed = false;
    files.Temporary = INVALID_HANDLE_VALUE;
    files.Route = ChooseRoute(files);
}

void AppendToInclude(IncludeFiles& files, TextSpan piece) {
    if (files.Route == IncludeRoute::Gathered) AppendSpan(files.Text, piece);
    if (files.Route != IncludeRoute::Temporary || files.WriteFailed) return;
    files.WriteFailed = !WriteAllBytes(files.Temporary, piece.Data, piece.Length);
    files.Written += piece.Length;
}

IncludeOutcome EndInclude(IncludeFiles& files) {
    if (files.Route == IncludeRoute::Settled) return files.Outcome;
    bool gathered = files.Route == IncludeRoute::Gathered;
    BeginStep(gathered ? NoTemporary : TemporaryOpen);
    IncludeOutcome outcome = gathered ? WriteInPlace(files.Target.Data, TextSource{files.Text.Data, nullptr,
                                                                                   files.Text.Length})
                                      : FinishThroughTemporary(files);
    EndStep(NoTemporary);
    files.Route = IncludeRoute::Settled;
    return outcome;
}

bool WriteAllBytes(HANDLE file, const char* bytes, SIZE_T length) {
    while (length > 0) {
        DWORD piece = length < WritePiece ? static_cast<DWORD>(length) : WritePiece;
        DWORD written = 0;
        if (!WriteFile(file, bytes, piece, &written, nullptr) || written != piece) return false;
        bytes += piece;
        length -= piece;
    }
    return true;
}
