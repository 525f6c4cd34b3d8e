// Kernel services on POSIX: the part of KERNEL32 that the programs call.
// A handle names a slot of one table, which says what the handle stands
// for: a file (a descriptor) or a search (the sorted list of matching
// names, taken when the search starts). A handle of the wrong kind, a closed
// one or a made-up value fails with ERROR_INVALID_HANDLE, as on Windows,
// and never reaches a descriptor or a list it does not own. The programs
// call in from one thread, and the table serves that thread only; the
// console control handler runs on a thread of its own, as on Windows, and
// what it may call (DeleteFileA, Sleep) touches no handle.
#include "win32.h"
#include "linux/kernel_internal.h"
#include "sanitizer.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// On Windows a write to a pipe whose reader has gone, or past the size a
// file may reach, fails with an error the caller can see; here a signal
// would kill the process instead, so the signals are ignored and the write
// reports the failure.
[[gnu::constructor]] void IgnoreWriteSignals() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

thread_local DWORD LastError;

// The console control events the signals stand for: SIGINT for Ctrl+C,
// SIGHUP for the console closing, SIGTERM for the system's request to end.
constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

// The Windows error code a failed system call stands for, as far as the
// programs tell the errors apart; the rest read as a general failure.
DWORD ErrorOf(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:  // Windows opens no folder as a file
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // past the size a file may reach
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Records why the call failed and gives the failed call's result.
template <typename Result>
Result Fail(DWORD error, Result result) {
    LastError = error;
    return result;
}
BOOL FailFromErrno() { return Fail(ErrorOf(errno), BOOL{0}); }

// The signal whose console control event the handler is handling, on the
// thread that runs it; 0 on every other thread.
thread_local int HandledSignal;
// Set once the handler waits (for a step of the main thread to end).
bool HandlerWaits;

#ifdef CARVEX_FAULTS
// A second build of the layer, for the tests only, fails a chosen call on
// purpose, so that every failure path of the programs can be walked:
//   CARVEX_FAULT=WriteFile:3:disk-full  the third WriteFile fails, as on a full disk
//   CARVEX_FAULT=ReplaceFileA:1:SIGINT  the first ReplaceFileA is interrupted first
// and CARVEX_FAULT_LOG names a file where the layer notes the call it failed
// (and the file it named), so that a walk over n knows when no n-th call is
// left. A failed call does nothing else. An interruption waits until the
// console control handler has ended the process or waits for the main
// thread, then lets the call go on.
struct FaultKind {
    const char* name;
    DWORD error;
    int signal;
};
constexpr FaultKind FaultKinds[] = {
    {"disk-full", ERROR_DISK_FULL, 0},        {"access-denied", ERROR_ACCESS_DENIED, 0},
    {"sharing-violation", ERROR_SHARING_VIOLATION, 0}, {"io-error", ERROR_IO_DEVICE, 0},
    {"out-of-memory", ERROR_NOT_ENOUGH_MEMORY, 0}, {"SIGINT", 0, SIGINT},
    {"SIGTERM", 0, SIGTERM},                  {"SIGHUP", 0, SIGHUP},
};

struct FaultPlan {
    char call[40];
    long number;
    const FaultKind* kind;
    long seen;
};

FaultPlan ReadFaultPlan() {
    FaultPlan plan{};
    const char* text = getenv("CARVEX_FAULT");
    char kind[40];
    if (text == nullptr || sscanf(text, "%39[^:]:%ld:%39s", plan.call, &plan.number, kind) != 3) return plan;
    for (const FaultKind& known : FaultKinds)
        if (strcmp(kind, known.name) == 0) plan.kind = &known;
    return plan;
}

void NoteFault(const FaultPlan& plan, const char* name) {
    const char* log = getenv("CARVEX_FAULT_LOG");
    int fd = log != nullptr ? open(log, O_WRONLY | O_APPEND | O_CLOEXEC) : -1;
    if (fd < 0) return;
    dprintf(fd, "%s %ld %s %s\n", plan.call, plan.number, plan.kind->name, name);
    close(fd);
}

void AwaitHandler(int number) {
    struct sigaction now;
    if (sigaction(number, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) return;  // nothing will act
    kill(getpid(), number);
    for (int waited = 0; !__atomic_load_n(&HandlerWaits, __ATOMIC_SEQ_CST) && waited < 100000; ++waited) usleep(100);
}

bool Faulted(const char* call, const char* name = "") {
    static FaultPlan plan = ReadFaultPlan();
    if (plan.kind == nullptr || strcmp(call, plan.call) != 0 || HandledSignal != 0) return false;
    if (__atomic_add_fetch(&plan.seen, 1, __ATOMIC_SEQ_CST) != plan.number) return false;
    NoteFault(plan, name);
    if (plan.kind->signal != 0) {
        AwaitHandler(plan.kind->signal);
        return false;
    }
    LastError = plan.kind->error;
    return true;
}
#else
constexpr bool Faulted(const char*, const char* = "") { return false; }
#endif

struct Search;
enum class HandleKind : unsigned char { Free, File, Search };
struct HandleSlot {
    HandleKind kind;
    int fd;
    Search* search;
};
HandleSlot* Slots;
size_t SlotCount;

// Handles are multiples of four from 4 up, as on Windows: never null, never
// INVALID_HANDLE_VALUE.
HANDLE HandleOfSlot(size_t index) { return reinterpret_cast<HANDLE>((index + 1) * 4); }

// The slot behind a handle of the given kind; null (and ERROR_INVALID_HANDLE)
// for any other value.
HandleSlot* SlotOf(HANDLE handle, HandleKind kind) {
    size_t value = reinterpret_cast<size_t>(handle);
    size_t index = value / 4 - 1;
    if (value % 4 == 0 && value != 0 && index < SlotCount && Slots[index].kind == kind) return &Slots[index];
    LastError = ERROR_INVALID_HANDLE;
    return nullptr;
}

// A free slot (the table grows when none is left); null when memory runs out.
HANDLE NewHandle(HandleKind kind, int fd, Search* search) {
    size_t index = 0;
    while (index < SlotCount && Slots[index].kind != HandleKind::Free) ++index;
    if (index == SlotCount) {
        size_t grown = SlotCount == 0 ? 16 : SlotCount * 2;
        void* bigger = realloc(Slots, grown * sizeof(HandleSlot));
        if (bigger == nullptr) return nullptr;
        Slots = static_cast<HandleSlot*>(bigger);
        for (size_t i = SlotCount; i < grown; ++i) Slots[i] = HandleSlot{HandleKind::Free, -1, nullptr};
        SlotCount = grown;
    }
    Slots[index] = HandleSlot{kind, fd, search};
    return HandleOfSlot(index);
}

// Windows accepts both separators; the OS here knows only '/'.
char* CopyAsPosixPath(const char* path) {
    char* copy = strdup(path);
    if (copy == nullptr) return nullptr;
    for (char* p = copy; *p != '\0'; ++p)
        if (*p == '\\') *p = '/';
    return copy;
}

struct Search {
    char** names;
    size_t count;
    size_t next;
};

int CompareBytes(const void* a, const void* b) {
    return strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

void FreeSearch(Search* search) {
    for (size_t i = 0; i < search->count; ++i) free(search->names[i]);
    free(search->names);
    free(search);
}

bool AddName(Search* search, size_t* capacity, const char* name) {
    if (search->count == *capacity) {
        size_t grown = *capacity == 0 ? 16 : *capacity * 2;
        void* bigger = realloc(search->names, grown * sizeof(char*));
        if (bigger == nullptr) return false;
        search->names = static_cast<char**>(bigger);
        *capacity = grown;
    }
    char* copy = strdup(name);
    if (copy == nullptr) return false;
    search->names[search->count++] = copy;
    return true;
}

// A name the Win32 programs can be given: it fits the search record, and it
// holds no '\\', which they would take for a separator and so follow out of
// the folder.
bool IsWin32Name(const char* name) { return strlen(name) < MAX_PATH && strchr(name, '\\') == nullptr; }

// The wildcard rule of the search: '*' matches any run of characters (a
// leading dot included), '?' any one character; case matters.
bool WildcardMatches(const char* pattern, const char* name) {
    // Iterative match with one backtrack point: the last '*' seen.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace

// The pattern's last component decides: both separators end a folder.
bool SearchLists(const char* pattern, const char* name) {
    const char* wildcard = pattern;
    for (const char* p = pattern; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') wildcard = p + 1;
    return IsWin32Name(name) && WildcardMatches(wildcard, name);
}

namespace {

// Lists the directory once and keeps the names that match, in byte order.
Search* StartSearch(const char* pattern) {
    char* path = CopyAsPosixPath(pattern);
    if (path == nullptr) return nullptr;
    char* slash = strrchr(path, '/');
    const char* directory = ".";
    if (slash != nullptr) {
        *slash = '\0';
        directory = slash == path ? "/" : path;
    }
    Search* search = static_cast<Search*>(calloc(1, sizeof(Search)));
    DIR* dir = search != nullptr ? opendir(directory) : nullptr;
    bool ok = dir != nullptr;
    size_t capacity = 0;
    while (ok) {
        struct dirent* entry = readdir(dir);
        if (entry == nullptr) break;
        if (SearchLists(pattern, entry->d_name))
            ok = AddName(search, &capacity, entry->d_name);
    }
    if (dir != nullptr) closedir(dir);
    free(path);
    if (search != nullptr && (!ok || search->count == 0)) {
        FreeSearch(search);
        return nullptr;
    }
    qsort(search->names, search->count, sizeof(char*), CompareBytes);
    return search;
}

bool YieldNext(Search* search, WIN32_FIND_DATAA* data) {
    if (search->next >= search->count) return false;
    memset(data, 0, sizeof(*data));
    strcpy(data->cFileName, search->names[search->next++]);
    return true;
}

}  // namespace

// The arguments as Windows would show them: one line, tokens separated by
// spaces, a token that holds a space or a tab (or is empty) in quotes. Each
// argument byte and its NUL give at most three bytes of line: an empty
// argument takes one byte and gives a space and two quotes.
char* JoinArguments(const char* arguments, size_t size) {
    char* line = static_cast<char*>(malloc(size * 3 + 1));
    if (line == nullptr) return nullptr;
    size_t n = 0;
    for (const char* token = arguments; token < arguments + size;) {
        size_t length = strnlen(token, static_cast<size_t>(arguments + size - token));
        bool quoted = length == 0 || memchr(token, ' ', length) != nullptr || memchr(token, '\t', length) != nullptr;
        if (n > 0) line[n++] = ' ';
        if (quoted) line[n++] = '"';
        memcpy(line + n, token, length);
        n += length;
        if (quoted) line[n++] = '"';
        token += length + 1;
    }
    line[n] = '\0';
    return line;
}

namespace {

char* ReadCommandLine() {
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    size_t size = 0;
    size_t capacity = 4096;
    char* arguments = static_cast<char*>(malloc(capacity));
    for (ssize_t n = 1; arguments != nullptr && n > 0;) {
        if (size == capacity) {
            capacity *= 2;
            char* bigger = static_cast<char*>(realloc(arguments, capacity));
            if (bigger == nullptr) free(arguments);
            arguments = bigger;
            if (arguments == nullptr) break;
        }
        n = read(fd, arguments + size, capacity - size);
        if (n > 0) size += static_cast<size_t>(n);
    }
    close(fd);
    char* line = arguments != nullptr ? JoinArguments(arguments, size) : nullptr;
    free(arguments);
    return line;
}

// How CreateFileA opens a file, and what it checks once the file is open.
struct Opening {
    int flags;
    bool writing;
    bool created;     // CREATE_NEW: the file is a new, empty regular file of the caller's own
    bool truncating;  // emptied once it passes the checks
    int lock;         // the flock(2) operation that stands for the share mode, or 0
    bool folder;      // a folder may be opened
};

Opening OpeningOf(DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    Opening opening{O_CLOEXEC, (access & GENERIC_WRITE) != 0, disposition == CREATE_NEW,
                    disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING, 0, false};
    // An access of 0 asks for a handle that only names the file: it needs
    // no right to read or write it, and may name a folder where asked to.
    if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) {
        opening.flags |= O_PATH;
        opening.folder = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
        return opening;
    }
    // Opening never waits: a named pipe with no writer would hold the
    // program forever. The flag is cleared once such a file is open.
    opening.flags |= O_NONBLOCK;
    if (opening.writing)
        opening.flags |= (access & GENERIC_READ) ? O_RDWR : O_WRONLY;
    else
        opening.flags |= O_RDONLY;
    if (disposition == CREATE_ALWAYS) opening.flags |= O_CREAT;
    if (disposition == CREATE_NEW) opening.flags |= O_CREAT | O_EXCL;
    // A writer says what it shares as Windows does, so that a second writer
    // that the share mode keeps out fails instead of mixing its bytes in:
    // one that shares no writing holds the file alone, others hold it
    // together. Readers take no lock: two runs may read one library at once.
    if (opening.writing) opening.lock = (share & FILE_SHARE_WRITE) ? LOCK_SH : LOCK_EX;
    return opening;
}

// Windows marks a file read-only with an attribute that stops every writer,
// an administrator too; here a file its owner may not write stands for it,
// and refuses root as well.
bool IsReadOnly(const struct stat& info) { return (info.st_mode & S_IWUSR) == 0; }

// The kernel's own rule for links in sticky, world-writable folders such as
// /tmp, applied whether or not the kernel applies it (fs.protected_symlinks):
// such a link is followed only when it is the caller's own or the folder
// owner's, so that no other user can send a write elsewhere by planting one.
bool MayFollowLink(const char* path) {
    struct stat link, folder;
    const char* slash = strrchr(path, '/');
    char* parent = slash == nullptr ? strdup(".") : strndup(path, slash == path ? 1 : static_cast<size_t>(slash - path));
    bool known = parent != nullptr && lstat(path, &link) == 0 && stat(parent, &folder) == 0;
    free(parent);
    if (!known) return false;
    bool guarded = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !guarded || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

// Opens the file itself first; only a link (the rare case) costs more: the
// rule above, then the open that follows it. O_EXCL never follows a link.
int OpenFollowingSafeLinks(const char* path, int flags) {
    int fd = open(path, flags | O_NOFOLLOW, 0666);
    if (fd >= 0 && (flags & O_PATH) != 0) {
        // O_PATH opens a link itself rather than refusing it.
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISLNK(info.st_mode)) return fd;
        close(fd);
    } else if (fd >= 0 || errno != ELOOP || (flags & O_EXCL) != 0) {
        return fd;
    }
    if (!MayFollowLink(path)) {
        errno = EACCES;
        return -1;
    }
    return open(path, flags, 0666);
}

// Why the open file must not be handed out, or 0. Windows refuses to open a
// folder as a file, or a read-only file for writing. What is read must be a
// regular file: a pipe or a device would hang the reader or never end. The
// descriptor's own kind is asked, so no file swapped in after a look at the
// name can slip through. A file that CREATE_NEW made is known already.
DWORD RefusalOf(int fd, const Opening& opening) {
    struct stat info;
    if (!opening.created) {
        if (fstat(fd, &info) != 0) return ErrorOf(errno);
        bool regular = S_ISREG(info.st_mode);
        if (S_ISDIR(info.st_mode) ? !opening.folder : !opening.writing && !regular) return ERROR_ACCESS_DENIED;
        if (opening.writing && regular && IsReadOnly(info)) return ERROR_ACCESS_DENIED;
        // O_NONBLOCK changes nothing for a regular file.
        if ((opening.flags & O_PATH) == 0 && !regular && fcntl(fd, F_SETFL, opening.flags & ~O_NONBLOCK) != 0)
            return ErrorOf(errno);
    }
    if (opening.lock != 0 && flock(fd, opening.lock | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return ERROR_SHARING_VIOLATION;
    if (opening.truncating && ftruncate(fd, 0) != 0 && errno != EINVAL) return ErrorOf(errno);
    return 0;
}

// The console's standard output, which the fault hook leaves alone: a run
// that cannot write there has nothing more to say.
bool IsConsoleOutput(HANDLE handle) {
    size_t index = reinterpret_cast<size_t>(handle) / 4 - 1;
    return index < SlotCount && Slots[index].kind == HandleKind::File && Slots[index].fd == STDOUT_FILENO;
}

BOOL NothingMoved(LPDWORD done) {
    if (done != nullptr) *done = 0;
    return 0;
}

// Repeats a read or write over short counts and interrupted calls. A call
// that moves nothing ends the loop: for a read that is the end of the file
// (a short read, as on Windows), for a write a failure.
template <typename Transfer>
BOOL TransferAll(HANDLE handle, DWORD count, LPDWORD done, bool nothingMeansEnd, Transfer transfer) {
    DWORD moved = 0;
    HandleSlot* file = SlotOf(handle, HandleKind::File);
    BOOL ok = file != nullptr;
    while (ok && moved < count) {
        ssize_t n = transfer(file->fd, moved, count - moved);
        if (n > 0) {
            moved += static_cast<DWORD>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ok = n == 0 && nothingMeansEnd;
            if (n < 0) LastError = ErrorOf(errno);
            break;
        }
    }
    if (done != nullptr) *done = moved;
    return ok;
}

// ReplaceFileA on POSIX paths: the mode, owner and group onto the
// replacement, then the rename.
BOOL ReplacePosixFile(const char* replaced, const char* replacement) {
    struct stat old;
    if (stat(replaced, &old) != 0) return FailFromErrno();
    if (IsReadOnly(old)) return Fail(ERROR_ACCESS_DENIED, BOOL{0});
    int fd = open(replacement, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return FailFromErrno();
    // The owner first: a change of owner clears the set-user-ID bits that
    // the mode then sets again. Only root may give a file away, anyone may
    // give it one of their own groups; where neither is allowed, the file
    // stays the process's own.
    static_cast<void>(fchown(fd, old.st_uid, old.st_gid) == 0 || fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0);
    bool moded = fchmod(fd, old.st_mode & 07777) == 0;
    int error = errno;
    close(fd);
    if (!moded) return Fail(ErrorOf(error), BOOL{0});
    return rename(replacement, replaced) == 0 ? 1 : FailFromErrno();
}

// Every heap block starts with a header that holds the length of its own
// mapping, or 0 for a block from malloc; 16 bytes keep malloc's alignment.
constexpr size_t BlockHeaderSize = 16;
// Blocks from 1 MiB up (a large library's bytes, its symbol list, its
// include text) come straight from the kernel, 2 MiB aligned and marked for
// transparent huge pages. Every fresh 4 KiB page costs a fault, and where
// faults are dear (under a hypervisor above all) they take most of the time
// of reading a 15 MB library; a huge page takes one fault for 2 MiB. Smaller
// blocks stay with malloc, which reuses freed memory across the libraries
// of a batch.
constexpr size_t LargeBlock = 1u << 20;
constexpr size_t HugePage = 2u << 20;
constexpr bool Sanitized = CARVEX_ADDRESS_SANITIZER;  // keep every block visible to the sanitizer

size_t RoundUp(size_t value, size_t unit) { return (value + unit - 1) & ~(unit - 1); }

// A fresh, zero-filled mapping for the block; null when the kernel refuses.
BYTE* MapLargeBlock(size_t bytes) {
    size_t length = RoundUp(bytes + BlockHeaderSize, HugePage);
    void* raw = mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    BYTE* first = static_cast<BYTE*>(raw);
    BYTE* start = reinterpret_cast<BYTE*>(RoundUp(reinterpret_cast<size_t>(raw), HugePage));
    size_t head = static_cast<size_t>(start - first);
    if (head != 0) munmap(first, head);
    if (head != HugePage) munmap(start + length, HugePage - head);
    madvise(start, length, MADV_HUGEPAGE);  // a hint: without it the block still works
    *reinterpret_cast<size_t*>(start) = length;
    return start + BlockHeaderSize;
}

// The console control handler. On Windows it runs on a thread of its own
// when Ctrl+C is pressed or the console closes; here a thread of the same
// kind waits for the signals that stand for those events, which every other
// thread blocks. So the handler may call what it likes and may wait for the
// main thread, as on Windows.
PHANDLER_ROUTINE ControlHandler;
// The signals the handler takes over: those not ignored when it is set. A
// signal the parent set to be ignored (nohup, a shell's background job)
// stays ignored, as the parent asked.
sigset_t TakenSignals;

sigset_t SignalsNotIgnored() {
    sigset_t signals;
    sigemptyset(&signals);
    constexpr int Events[] = {SIGINT, SIGTERM, SIGHUP};
    for (int number : Events) {
        struct sigaction now;
        if (sigaction(number, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) sigaddset(&signals, number);
    }
    return signals;
}

DWORD ControlEventOf(int number) {
    if (number == SIGINT) return CTRL_C_EVENT;
    return number == SIGHUP ? CTRL_CLOSE_EVENT : CTRL_SHUTDOWN_EVENT;
}

// The process ends by the signal, so that its parent sees why.
[[noreturn]] void EndBySignal(int number) {
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    signal(number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(number);
    _exit(128 + number);  // only should the default action not end it
}

// A handler that returns FALSE leaves the event to the default action, which
// ends the process: here the signal's own. So does a handler that ends the
// process as Windows' default handler does, with STATUS_CONTROL_C_EXIT.
void* AwaitControlSignals(void*) {
    for (;;) {
        int number = 0;
        if (sigwait(&TakenSignals, &number) != 0) continue;
        HandledSignal = number;
        if (!ControlHandler(ControlEventOf(number))) EndBySignal(number);
        HandledSignal = 0;
    }
}

// A thread that never needs much of a stack: the handler and what it calls.
constexpr size_t ControlThreadStack = 256 * 1024;

}  // namespace

extern "C" {

LPSTR WINAPI GetCommandLineA() {
    static char* line = ReadCommandLine();
    static char empty[1] = "";
    return line != nullptr ? line : empty;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    // Only the program's own module is asked for; any stable value serves.
    static char module;
    return lpModuleName == nullptr ? reinterpret_cast<HMODULE>(&module) : nullptr;
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    static HANDLE output = NewHandle(HandleKind::File, STDOUT_FILENO, nullptr);
    if (nStdHandle == STD_OUTPUT_HANDLE && output != nullptr) return output;
    return INVALID_HANDLE_VALUE;
}

DWORD WINAPI GetLastError() { return LastError; }

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED) {
    const char* bytes = static_cast<const char*>(lpBuffer);
    if (!IsConsoleOutput(hFile) && Faulted("WriteFile")) return NothingMoved(lpNumberOfBytesWritten);
    return TransferAll(hFile, nNumberOfBytesToWrite, lpNumberOfBytesWritten, false,
                       [bytes](int fd, DWORD at, DWORD left) { return write(fd, bytes + at, left); });
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED) {
    char* bytes = static_cast<char*>(lpBuffer);
    if (Faulted("ReadFile")) return NothingMoved(lpNumberOfBytesRead);
    return TransferAll(hFile, nNumberOfBytesToRead, lpNumberOfBytesRead, true,
                       [bytes](int fd, DWORD at, DWORD left) { return read(fd, bytes + at, left); });
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
    if (Faulted("FindFirstFileA")) return INVALID_HANDLE_VALUE;
    Search* search = StartSearch(lpFileName);
    if (search == nullptr) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    HANDLE handle = NewHandle(HandleKind::Search, -1, search);
    if (handle == nullptr) {
        FreeSearch(search);
        return INVALID_HANDLE_VALUE;
    }
    YieldNext(search, lpFindFileData);
    return handle;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
    if (Faulted("FindNextFileA")) return 0;
    HandleSlot* slot = SlotOf(hFindFile, HandleKind::Search);
    if (slot == nullptr) return 0;
    return YieldNext(slot->search, lpFindFileData) ? 1 : Fail(ERROR_NO_MORE_FILES, BOOL{0});
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    HandleSlot* slot = SlotOf(hFindFile, HandleKind::Search);
    if (slot == nullptr) return 0;
    FreeSearch(slot->search);
    *slot = HandleSlot{HandleKind::Free, -1, nullptr};
    return 1;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (Faulted("CreateFileA", lpFileName)) return INVALID_HANDLE_VALUE;
    char* path = CopyAsPosixPath(lpFileName);
    if (path == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
    Opening opening = OpeningOf(dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
    int fd = OpenFollowingSafeLinks(path, opening.flags);
    free(path);
    if (fd < 0) return Fail(ErrorOf(errno), INVALID_HANDLE_VALUE);
    DWORD refusal = RefusalOf(fd, opening);
    HANDLE handle = refusal == 0 ? NewHandle(HandleKind::File, fd, nullptr) : nullptr;
    if (handle == nullptr) {
        close(fd);
        return Fail(refusal != 0 ? refusal : ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
    }
    return handle;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (Faulted("MoveFileExA", lpNewFileName)) return 0;
    char* from = CopyAsPosixPath(lpExistingFileName);
    char* to = CopyAsPosixPath(lpNewFileName);
    int result = -1;
    errno = ENOMEM;
    if (from != nullptr && to != nullptr)
        result = (dwFlags & MOVEFILE_REPLACE_EXISTING) ? rename(from, to)
                                                       : renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    int error = errno;
    free(from);
    free(to);
    return result == 0 ? 1 : Fail(ErrorOf(error), BOOL{0});
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (Faulted("DeleteFileA", lpFileName)) return 0;
    char* path = CopyAsPosixPath(lpFileName);
    if (path == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, BOOL{0});
    int result = unlink(path);
    int error = errno;
    free(path);
    return result == 0 ? 1 : Fail(ErrorOf(error), BOOL{0});
}

// The replacing file takes the replaced one's name and what the system keeps
// of it: Windows carries over its attributes and security, here its mode
// and, where the process may set them, its owner and group. A read-only
// file is not replaced, as on Windows. Only what the programs ask for is
// offered: no backup file.
BOOL WINAPI ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName, LPCSTR lpBackupFileName, DWORD,
                         LPVOID, LPVOID) {
    if (lpBackupFileName != nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOL{0});
    if (Faulted("ReplaceFileA", lpReplacedFileName)) return 0;
    char* replaced = CopyAsPosixPath(lpReplacedFileName);
    char* replacement = CopyAsPosixPath(lpReplacementFileName);
    BOOL done = replaced != nullptr && replacement != nullptr ? ReplacePosixFile(replaced, replacement)
                                                              : Fail(ERROR_NOT_ENOUGH_MEMORY, BOOL{0});
    free(replaced);
    free(replacement);
    return done;
}

// The attributes of the name itself, as Windows gives them: a link is a
// reparse point, whatever it leads to.
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    if (Faulted("GetFileAttributesA", lpFileName)) return INVALID_FILE_ATTRIBUTES;
    char* path = CopyAsPosixPath(lpFileName);
    if (path == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_FILE_ATTRIBUTES);
    struct stat info;
    int result = lstat(path, &info);
    int error = errno;
    free(path);
    if (result != 0) return Fail(ErrorOf(error), INVALID_FILE_ATTRIBUTES);
    if (S_ISLNK(info.st_mode)) return FILE_ATTRIBUTE_REPARSE_POINT;
    DWORD attributes =
        (S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0) | (IsReadOnly(info) ? FILE_ATTRIBUTE_READONLY : 0);
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// The file's absolute path, its links followed, as the kernel names the
// descriptor (a rename since the file was opened included). A name that
// leads to another file is no answer: a deleted file's, which the kernel
// shows with " (deleted)" after it, may well be another file's.
DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD) {
    if (Faulted("GetFinalPathNameByHandleA")) return 0;
    HandleSlot* file = SlotOf(hFile, HandleKind::File);
    if (file == nullptr) return 0;
    char link[32];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", file->fd);
    char path[PATH_MAX];
    ssize_t length = readlink(link, path, sizeof(path) - 1);
    if (length < 0) return Fail(ErrorOf(errno), DWORD{0});
    path[length] = '\0';
    struct stat opened, named;
    if (fstat(file->fd, &opened) != 0 || stat(path, &named) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino)
        return Fail(ERROR_FILE_NOT_FOUND, DWORD{0});
    DWORD size = static_cast<DWORD>(length);
    if (size >= cchFilePath) return size + 1;  // the room it needs, its NUL included
    memcpy(lpszFilePath, path, size + 1);
    return size;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    if (Faulted("GetFileSize")) return INVALID_FILE_SIZE;
    struct stat info;
    HandleSlot* file = SlotOf(hFile, HandleKind::File);
    if (file == nullptr || fstat(file->fd, &info) != 0) {
        if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = 0;
        return INVALID_FILE_SIZE;
    }
    ULONGLONG size = static_cast<ULONGLONG>(info.st_size);
    if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    // As on Windows, a size whose low word reads as INVALID_FILE_SIZE says
    // so through the error code, which tells it from a failure.
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) LastError = 0;
    return static_cast<DWORD>(size);
}

// Closes files only: a search ends with FindClose, as on Windows. As
// close(2), a failed close has closed the descriptor all the same.
BOOL WINAPI CloseHandle(HANDLE hObject) {
    HandleSlot* file = SlotOf(hObject, HandleKind::File);
    if (file == nullptr) return 0;
    int fd = file->fd;
    *file = HandleSlot{HandleKind::Free, -1, nullptr};
    bool closed = close(fd) == 0;
    if (Faulted("CloseHandle")) return 0;
    return closed ? 1 : FailFromErrno();
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                             DWORD dwMoveMethod) {
    if (Faulted("SetFilePointerEx")) return 0;
    HandleSlot* file = SlotOf(hFile, HandleKind::File);
    if (file == nullptr) return 0;
    if (dwMoveMethod > FILE_END) return Fail(ERROR_INVALID_PARAMETER, BOOL{0});
    constexpr int Whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    off_t at = lseek(file->fd, liDistanceToMove.QuadPart, Whence[dwMoveMethod]);
    if (at < 0) return FailFromErrno();
    if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = at;
    return 1;
}

// The file ends at the file pointer. A file made longer gets its blocks
// there and then, as on Windows, so that a later write into them cannot
// find the disk full; where they cannot all be had, the file keeps its old
// length and bytes.
BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    if (Faulted("SetEndOfFile")) return 0;
    HandleSlot* file = SlotOf(hFile, HandleKind::File);
    if (file == nullptr) return 0;
    struct stat info;
    off_t at = lseek(file->fd, 0, SEEK_CUR);
    if (at < 0 || fstat(file->fd, &info) != 0) return FailFromErrno();
    if (at <= info.st_size) return ftruncate(file->fd, at) == 0 ? 1 : FailFromErrno();
    int error = posix_fallocate(file->fd, info.st_size, at - info.st_size);
    if (error == 0) return 1;
    static_cast<void>(ftruncate(file->fd, info.st_size));  // gives back what was had
    return Fail(ErrorOf(error), BOOL{0});
}

HANDLE WINAPI GetProcessHeap() {
    static int heap;  // any stable non-null value will do: there is one heap
    return &heap;
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD dwFlags, SIZE_T dwBytes) {
    if (Faulted("HeapAlloc")) return nullptr;
    if (dwBytes == 0) dwBytes = 1;
    if (dwBytes > ~static_cast<size_t>(0) - 2 * HugePage) return nullptr;
    if (dwBytes >= LargeBlock && !Sanitized) {
        if (BYTE* block = MapLargeBlock(dwBytes)) return block;
    }
    size_t total = dwBytes + BlockHeaderSize;
    void* raw = (dwFlags & HEAP_ZERO_MEMORY) ? calloc(1, total) : malloc(total);
    if (raw == nullptr) return nullptr;
    *static_cast<size_t*>(raw) = 0;  // not a mapping
    return static_cast<BYTE*>(raw) + BlockHeaderSize;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID lpMem) {
    if (lpMem == nullptr) return 1;
    void* raw = static_cast<BYTE*>(lpMem) - BlockHeaderSize;
    size_t mapped = *static_cast<size_t*>(raw);
    if (mapped != 0) return munmap(raw, mapped) == 0;
    free(raw);
    return 1;
}

// Windows' own handler of Ctrl+C ends the process with STATUS_CONTROL_C_EXIT;
// a handler of a signal that does the same ends it by that signal here.
void WINAPI ExitProcess(UINT uExitCode) {
    if (uExitCode == STATUS_CONTROL_C_EXIT && HandledSignal != 0) EndBySignal(HandledSignal);
    exit(static_cast<int>(uExitCode));
}

int WINAPI lstrlenA(LPCSTR lpString) { return lpString == nullptr ? 0 : static_cast<int>(strlen(lpString)); }

// The programs set one handler, once, and never take it away; that is all
// this offers.
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
    if (HandlerRoutine == nullptr || !Add || ControlHandler != nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOL{0});
    TakenSignals = SignalsNotIgnored();
    ControlHandler = HandlerRoutine;
    if (sigisemptyset(&TakenSignals)) return 1;  // every event is ignored: nothing to wait for
    sigset_t before;
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = pthread_sigmask(SIG_BLOCK, &TakenSignals, &before) == 0 && pthread_attr_init(&attributes) == 0;
    if (started) {
        pthread_attr_setstacksize(&attributes, ControlThreadStack);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        started = pthread_create(&thread, &attributes, AwaitControlSignals, nullptr) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (started) return 1;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ControlHandler = nullptr;
    return Fail(ERROR_NOT_ENOUGH_MEMORY, BOOL{0});
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (HandledSignal != 0) __atomic_store_n(&HandlerWaits, true, __ATOMIC_SEQ_CST);
    timespec left{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // extern "C"
