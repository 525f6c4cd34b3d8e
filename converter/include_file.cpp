#include "include_file.h"

namespace {

// WriteFile takes a 32-bit count; longer texts go in pieces of this size.
constexpr DWORD WritePiece = 0x40000000;
// The temporary file's name, "carvex-<n>.tmp": short, so that it fits
// wherever the include's own name fits, however long that is.
constexpr char TemporaryStart[] = "carvex-";
constexpr char TemporaryEnd[] = ".tmp";
// Where a path given back by GetFinalPathNameByHandleA may begin; padded,
// as BytesEqual reads whole words.
constexpr PaddedText LongPathStart("\\\\?\\");

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

// Removes the temporary file, once no step is running, and leaves the event
// to its default action (the 0 returned), which ends the process.
BOOL WINAPI EndWithoutTemporary(DWORD) {
    for (;;) {
        if (MoveState(TemporaryOpen, RunEnding)) {
            DeleteFileA(Shared.Name);
            return 0;
        }
        if (MoveState(NoTemporary, RunEnding)) return 0;
        // A second event while the first one is ending the run.
        if (__atomic_load_n(&Shared.State, __ATOMIC_SEQ_CST) == RunEnding) AwaitEnd();
        // A step is running: it takes moments (writing the include in place
        // at most), and hands the run over at its end.
        MoveState(StepRunning, StepInterrupted);
        Sleep(1);
    }
}

// ---- The file that receives the text ------------------------------------

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

// Where a link stands in the include's place, the file it leads to, so that
// the link stays and its file gets the text; otherwise the include itself.
void FindTarget(TextBuffer& target, const char* name) {
    HANDLE include = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool resolved = include != INVALID_HANDLE_VALUE && AskFinalPath(include, target) && SpellsEveryCharacter(target);
    if (include != INVALID_HANDLE_VALUE) CloseHandle(include);
    if (!resolved) SetText(target, name);
}

// Windows refuses to replace a read-only file, an administrator too; carvex
// refuses it on every system and as every user.
bool IsReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// ---- Writing ------------------------------------------------------------

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

// A file of this run's own next to the target: CREATE_NEW takes a name only
// while no file holds it, so no two runs ever share one. Every name that a
// file holds already (another run's temporary file, or one left by a run
// that was killed outright) is passed over; any other refusal ends the
// tries, and 'refusal' says why. The handler may remove the file it gives.
HANDLE CreateTemporaryFile(IncludeFiles& files, DWORD& refusal) {
    DWORD number = files.NextNumber;
    HANDLE file = INVALID_HANDLE_VALUE;
    do {
        NameTemporary(files, number);
        file = CreateFileA(files.TemporaryName.Data, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        refusal = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    } while (refusal == ERROR_FILE_EXISTS && ++number != files.NextNumber);
    files.NextNumber = number;
    Shared.Name = files.TemporaryName.Data;
    return file;
}

bool WriteAndClose(HANDLE file, const char* text, SIZE_T length) {
    bool written = WriteAllBytes(file, text, length);
    return CloseHandle(file) && written;
}

// The temporary file takes the target's place in one step. ReplaceFileA
// keeps what the system keeps of the old file (on Windows its attributes
// and security, on Linux its mode, owner and group); where there is no old
// file, or Windows has moved it away but not the new one in, MoveFileExA.
bool PutInPlace(const IncludeFiles& files, DWORD& error) {
    const char* target = files.Target.Data;
    const char* temporary = files.TemporaryName.Data;
    if (ReplaceFileA(target, temporary, nullptr, 0, nullptr, nullptr)) return true;
    error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) return false;
    if (MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING)) return true;
    error = GetLastError();
    return false;
}

// Writes the temporary file and puts it in place, or removes it. 'error'
// is ERROR_ACCESS_DENIED where the target's place was refused to it; a
// write that failed (a full disk) leaves 'error' 0.
bool WriteThroughTemporary(const IncludeFiles& files, HANDLE file, const char* text, SIZE_T length, DWORD& error) {
    EndStep(TemporaryOpen);
    bool written = WriteAndClose(file, text, length);
    BeginStep(TemporaryOpen);
    bool done = written && PutInPlace(files, error);
    if (!done) DeleteFileA(files.TemporaryName.Data);
    return done;
}

// As editors do: the include emptied, then written.
bool WriteInPlace(const char* target, const char* text, SIZE_T length) {
    HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && WriteAndClose(file, text, length);
}

}  // namespace

void ReleaseIncludeFiles(IncludeFiles& files) {
    ReleaseText(files.Target);
    ReleaseText(files.TemporaryName);
    ReleaseText(files.Name);
    ReleaseText(files.Text);
}

void RemoveTemporaryFileOnInterrupt() { SetConsoleCtrlHandler(EndWithoutTemporary, 1); }

namespace {

bool WriteIncludeFile(IncludeFiles& files, const char* name, const char* text, SIZE_T length) {
    FindTarget(files.Target, name);
    if (IsReadOnly(files.Target.Data)) return false;
    BeginStep(NoTemporary);
    DWORD error = 0;
    HANDLE file = CreateTemporaryFile(files, error);
    bool done = file != INVALID_HANDLE_VALUE && WriteThroughTemporary(files, file, text, length, error);
    // Where the folder refuses the temporary file, or refuses it the
    // include's place (another user's include in a folder that only lets
    // owners remove files), but the include itself may be written: never
    // where a write failed.
    if (!done && error == ERROR_ACCESS_DENIED) done = WriteInPlace(files.Target.Data, text, length);
    EndStep(NoTemporary);
    return done;
}

}  // namespace

void BeginInclude(IncludeFiles& files, const char* name) {
    SetText(files.Name, name);
    files.Text.Length = 0;
}

void AppendToInclude(IncludeFiles& files, TextSpan piece) { AppendSpan(files.Text, piece); }

IncludeOutcome EndInclude(IncludeFiles& files) {
    bool written = WriteIncludeFile(files, files.Name.Data, files.Text.Data, files.Text.Length);
    return written ? IncludeOutcome::Placed : IncludeOutcome::Failed;
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
