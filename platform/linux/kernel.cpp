// Kernel services on POSIX: the part of KERNEL32 that the programs call.
// A handle names a slot of one table, which says what the handle stands
// for: a file (a descriptor) or a search (the sorted list of matching
// names, taken when the search starts). A handle of the wrong kind, a closed
// one or a made-up value fails with ERROR_INVALID_HANDLE, as on Windows,
// and never reaches a descriptor or a list it does not own. The programs
// are single-threaded, and so is the table.
#include "win32.h"
#include "linux/kernel_internal.h"
#include "sanitizer.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

// Lists the directory once and keeps the names that match, in byte order.
Search* StartSearch(const char* pattern) {
    char* path = CopyAsPosixPath(pattern);
    if (path == nullptr) return nullptr;
    char* slash = strrchr(path, '/');
    const char* directory = ".";
    const char* wildcard = path;
    if (slash != nullptr) {
        *slash = '\0';
        directory = slash == path ? "/" : path;
        wildcard = slash + 1;
    }
    Search* search = static_cast<Search*>(calloc(1, sizeof(Search)));
    DIR* dir = search != nullptr ? opendir(directory) : nullptr;
    bool ok = dir != nullptr;
    size_t capacity = 0;
    while (ok) {
        struct dirent* entry = readdir(dir);
        if (entry == nullptr) break;
        if (IsWin32Name(entry->d_name) && WildcardMatches(wildcard, entry->d_name))
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

// The arguments as Windows would show them: one line, tokens separated by
// spaces, a token that holds a space or a tab (or is empty) in quotes.
char* JoinArguments(const char* arguments, size_t size) {
    char* line = static_cast<char*>(malloc(size * 2 + 3));
    if (line == nullptr) return nullptr;
    size_t n = 0;
    for (const char* token = arguments; token < arguments + size; token += strlen(token) + 1) {
        bool quoted = token[0] == '\0' || strpbrk(token, " \t") != nullptr;
        if (n > 0) line[n++] = ' ';
        if (quoted) line[n++] = '"';
        for (const char* c = token; *c != '\0'; ++c) line[n++] = *c;
        if (quoted) line[n++] = '"';
    }
    line[n] = '\0';
    return line;
}

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
            break;
        }
    }
    if (done != nullptr) *done = moved;
    return ok;
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

}  // namespace

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
    return TransferAll(hFile, nNumberOfBytesToWrite, lpNumberOfBytesWritten, false,
                       [bytes](int fd, DWORD at, DWORD left) { return write(fd, bytes + at, left); });
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED) {
    char* bytes = static_cast<char*>(lpBuffer);
    return TransferAll(hFile, nNumberOfBytesToRead, lpNumberOfBytesRead, true,
                       [bytes](int fd, DWORD at, DWORD left) { return read(fd, bytes + at, left); });
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
    Search* search = StartSearch(lpFileName);
    if (search == nullptr) return INVALID_HANDLE_VALUE;
    HANDLE handle = NewHandle(HandleKind::Search, -1, search);
    if (handle == nullptr) {
        FreeSearch(search);
        return INVALID_HANDLE_VALUE;
    }
    YieldNext(search, lpFindFileData);
    return handle;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
    HandleSlot* slot = SlotOf(hFindFile, HandleKind::Search);
    return slot != nullptr && YieldNext(slot->search, lpFindFileData);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    HandleSlot* slot = SlotOf(hFindFile, HandleKind::Search);
    if (slot == nullptr) return 0;
    FreeSearch(slot->search);
    *slot = HandleSlot{HandleKind::Free, -1, nullptr};
    return 1;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE) {
    char* path = CopyAsPosixPath(lpFileName);
    if (path == nullptr) return INVALID_HANDLE_VALUE;
    bool writing = (dwDesiredAccess & GENERIC_WRITE) != 0;
    // Opening never waits: a named pipe with no writer would hold the
    // program forever. The flag is cleared once the file is open.
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (writing)
        flags |= (dwDesiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY;
    else
        flags |= O_RDONLY;
    if (dwCreationDisposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
    if (dwCreationDisposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
    int fd = open(path, flags, 0666);
    free(path);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    // Windows refuses to open a directory as a file. What is read must be a
    // regular file: a pipe or a device would hang the reader or never end.
    // The descriptor's own kind is asked, so no file swapped in after a
    // look at the name can slip through.
    struct stat info;
    bool refused = fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || (!writing && !S_ISREG(info.st_mode));
    HANDLE handle =
        refused || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : NewHandle(HandleKind::File, fd, nullptr);
    if (handle == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    char* from = CopyAsPosixPath(lpExistingFileName);
    char* to = CopyAsPosixPath(lpNewFileName);
    int result = -1;
    if (from != nullptr && to != nullptr)
        result = (dwFlags & MOVEFILE_REPLACE_EXISTING) ? rename(from, to)
                                                       : renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    free(from);
    free(to);
    return result == 0;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    char* path = CopyAsPosixPath(lpFileName);
    int result = path != nullptr ? unlink(path) : -1;
    free(path);
    return result == 0;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    struct stat info;
    HandleSlot* file = SlotOf(hFile, HandleKind::File);
    if (file == nullptr || fstat(file->fd, &info) != 0) {
        if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = 0;
        return INVALID_FILE_SIZE;
    }
    ULONGLONG size = static_cast<ULONGLONG>(info.st_size);
    if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

// Closes files only: a search ends with FindClose, as on Windows.
BOOL WINAPI CloseHandle(HANDLE hObject) {
    HandleSlot* file = SlotOf(hObject, HandleKind::File);
    if (file == nullptr) return 0;
    int fd = file->fd;
    *file = HandleSlot{HandleKind::Free, -1, nullptr};
    return close(fd) == 0;
}

HANDLE WINAPI GetProcessHeap() {
    static int heap;  // any stable non-null value will do: there is one heap
    return &heap;
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD dwFlags, SIZE_T dwBytes) {
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

void WINAPI ExitProcess(UINT uExitCode) { exit(static_cast<int>(uExitCode)); }

int WINAPI lstrlenA(LPCSTR lpString) { return lpString == nullptr ? 0 : static_cast<int>(strlen(lpString)); }

}  // extern "C"
