// Kernel services on POSIX: the part of KERNEL32 that the programs call.
// Handles of files are file descriptors in disguise; a search handle points
// to the sorted list of matching names, taken when the search starts.
#include "win32.h"
#include "linux/kernel_internal.h"
#include "sanitizer.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// On Windows a write to a pipe whose reader has gone fails with an error the
// caller can see; here it would kill the process instead, so the signal is
// ignored and the write reports the failure.
[[gnu::constructor]] void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

// 0 would read as a null handle, so descriptors are stored shifted by one.
HANDLE HandleFromDescriptor(int fd) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(fd) + 1); }
int DescriptorFromHandle(HANDLE handle) { return static_cast<int>(reinterpret_cast<LONG_PTR>(handle) - 1); }
bool IsUsableHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

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
        if (strlen(entry->d_name) < MAX_PATH && WildcardMatches(wildcard, entry->d_name))
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
    BOOL ok = IsUsableHandle(handle);
    while (ok && moved < count) {
        ssize_t n = transfer(DescriptorFromHandle(handle), moved, count - moved);
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
// transparent huge pages. Filling fresh 4 KiB pages costs one fault each,
// and in a virtual machine those faults took most of the time of reading a
// 15 MB library; a huge page takes one fault for 2 MiB. Smaller blocks stay
// with malloc, which reuses freed memory across the libraries of a batch.
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
    if (nStdHandle == STD_OUTPUT_HANDLE) return HandleFromDescriptor(STDOUT_FILENO);
    return INVALID_HANDLE_VALUE;
}

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
    YieldNext(search, lpFindFileData);
    return search;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
    if (!IsUsableHandle(hFindFile)) return 0;
    return YieldNext(static_cast<Search*>(hFindFile), lpFindFileData);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!IsUsableHandle(hFindFile)) return 0;
    FreeSearch(static_cast<Search*>(hFindFile));
    return 1;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE) {
    char* path = CopyAsPosixPath(lpFileName);
    if (path == nullptr) return INVALID_HANDLE_VALUE;
    int flags = O_CLOEXEC;
    if (dwDesiredAccess & GENERIC_WRITE)
        flags |= (dwDesiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY;
    else
        flags |= O_RDONLY;
    if (dwCreationDisposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
    int fd = open(path, flags, 0666);
    free(path);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat info;
    // Windows refuses to open a directory as a file; so do we.
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return HandleFromDescriptor(fd);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    struct stat info;
    if (!IsUsableHandle(hFile) || fstat(DescriptorFromHandle(hFile), &info) != 0) {
        if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = 0;
        return INVALID_FILE_SIZE;
    }
    ULONGLONG size = static_cast<ULONGLONG>(info.st_size);
    if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (!IsUsableHandle(hObject)) return 0;
    return close(DescriptorFromHandle(hObject)) == 0;
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
