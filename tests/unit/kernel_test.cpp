// The Linux kernel-services layer: what the converter relies on from the
// search, the files and the console.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "include_file.h"
#include "linux/kernel_internal.h"
#include "settings.h"
#include "win32.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir() {
        char name[] = "/tmp/carvex-kernel-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path); }
    void Touch(const std::string& name, const std::string& content = "") {
        std::ofstream(path / name, std::ios::binary) << content;
    }
    fs::path path;
};

HANDLE Open(const fs::path& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Search(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return names;
}

using V = std::vector<std::string>;

}  // namespace

// The wildcard rule itself is held to a reference matcher by the fuzz target
// fuzz_command_line, whose seeds hold the cases that once stood here.
TEST(FindFirstFileA, YieldsMatchingNamesInByteOrder) {
    TempDir dir;
    for (const char* name : {"b.lib", "a.lib", "B.lib", "c.txt", ".hidden.lib"}) dir.Touch(name);
    fs::create_directory(dir.path / "sub.lib");
    std::string base = dir.path.string();
    EXPECT_EQ(Search(base + "/*.lib"), (V{".hidden.lib", "B.lib", "a.lib", "b.lib", "sub.lib"}));
    EXPECT_EQ(Search(base + "/*"), (V{".", "..", ".hidden.lib", "B.lib", "a.lib", "b.lib", "c.txt", "sub.lib"}));
    EXPECT_EQ(Search(base + "\\?.lib"), (V{"B.lib", "a.lib", "b.lib"}));
    EXPECT_EQ(Search(base + "/none*"), V{});
    EXPECT_EQ(Search(base + "/missing/*.lib"), V{});
    EXPECT_EQ(Search(""), V{});
}

TEST(CreateFileA, ReadsRegularFilesOnlyAndNeverWaits) {
    TempDir dir;
    dir.Touch("x.lib", "12345");
    fs::create_directory(dir.path / "d.lib");
    ASSERT_EQ(mkfifo((dir.path / "p.lib").c_str(), 0600), 0);
    std::string base = dir.path.string();
    for (const char* refused : {"/d.lib", "/none", "/p.lib"})
        EXPECT_EQ(CreateFileA((base + refused).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr),
                  INVALID_HANDLE_VALUE)
            << refused;
    EXPECT_EQ(CreateFileA("/dev/zero", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE file = CreateFileA((base + "\\x.lib").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 0u);
    char bytes[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, bytes, 8, &read, nullptr));
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(std::string(bytes), "12345");
    EXPECT_TRUE(CloseHandle(file));
}

// Each call given a handle of another kind, a closed one or a made-up value
// fails with ERROR_INVALID_HANDLE and touches nothing it does not own.
TEST(Handles, MisuseFailsWithInvalidHandle) {
    TempDir dir;
    dir.Touch("x.lib", "12345");
    std::string path = (dir.path / "x.lib").string();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE closed = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    char bytes[8];
    DWORD count = 99;
    std::vector<HANDLE> garbage = {nullptr,
                                   INVALID_HANDLE_VALUE,
                                   reinterpret_cast<HANDLE>(1),
                                   reinterpret_cast<HANDLE>(0x123456),
                                   reinterpret_cast<HANDLE>(0x1000),
                                   &count};
    struct Misuse {
        const char* call;
        std::function<BOOL(HANDLE)> run;
        std::vector<HANDLE> wrong;
    } misuses[] = {
        {"CloseHandle", [](HANDLE h) { return CloseHandle(h); }, {search}},
        {"FindNextFileA", [&](HANDLE h) { return FindNextFileA(h, &found); }, {file, closed}},
        {"FindClose", [](HANDLE h) { return FindClose(h); }, {file, closed}},
        {"ReadFile", [&](HANDLE h) { return ReadFile(h, bytes, 8, &count, nullptr); }, {search, closed}},
        {"WriteFile", [&](HANDLE h) { return WriteFile(h, "x", 1, &count, nullptr); }, {search, closed}},
        {"GetFileSize", [](HANDLE h) { return BOOL(GetFileSize(h, nullptr) != INVALID_FILE_SIZE); }, {search}},
    };
    for (Misuse& misuse : misuses) {
        misuse.wrong.insert(misuse.wrong.end(), garbage.begin(), garbage.end());
        for (HANDLE handle : misuse.wrong) {
            EXPECT_FALSE(misuse.run(handle)) << misuse.call << " " << handle;
            EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << misuse.call << " " << handle;
        }
    }
    // Both survived every misuse.
    EXPECT_TRUE(ReadFile(file, bytes, 8, &count, nullptr));
    EXPECT_EQ(count, 5u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(FindClose(search));
}

// WriteFile counts in 32 bits; a longer include text must arrive whole. The
// text is a mapping of zero pages that is never filled, read by a pipe.
TEST(WriteAllBytes, WritesTextsBeyondFourGiBInPieces) {
    const size_t length = (size_t{1} << 32) + 47;
    void* text = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(text, MAP_FAILED);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
    size_t arrived = 0;
    std::thread reader([&] {
        std::vector<char> buffer(1 << 20);
        for (ssize_t n; (n = read(fds[0], buffer.data(), buffer.size())) > 0;) arrived += static_cast<size_t>(n);
    });
    std::string end = "/proc/self/fd/" + std::to_string(fds[1]);
    HANDLE file = CreateFileA(end.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    close(fds[1]);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteAllBytes(file, static_cast<const char*>(text), length));
    CloseHandle(file);
    reader.join();
    close(fds[0]);
    munmap(text, length);
    EXPECT_EQ(arrived, length);
}

namespace {

// The child's part of the test below: writes to its standard output, a pipe
// whose reader has gone, and to a full device; 0 when both fail honestly.
int WriteToBrokenOutputs() {
    DWORD written = 99;
    if (WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "abc", 3, &written, nullptr) || written != 0) return 11;
    HANDLE full = CreateFileA("/dev/full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (full == INVALID_HANDLE_VALUE) return 12;
    written = 99;
    bool wrote = WriteFile(full, "abc", 3, &written, nullptr);
    CloseHandle(full);
    if (wrote || written != 0) return 13;
    return WriteFile(INVALID_HANDLE_VALUE, "abc", 3, &written, nullptr) ? 14 : 0;
}

}  // namespace

// Run as a program runs: this test binary started anew with SIGPIPE at its
// default, so that only the layer's own handling keeps a write to a closed
// pipe from killing it.
TEST(WriteFile, ReportsAFailedWriteHonestly) {
    if (getenv("CARVEX_BROKEN_OUTPUT_CHILD") != nullptr) _exit(WriteToBrokenOutputs());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaulted;
    sigemptyset(&defaulted);
    sigaddset(&defaulted, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaulted);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    char filter[] = "--gtest_filter=WriteFile.ReportsAFailedWriteHonestly";
    char* argv[] = {self.data(), filter, nullptr};
    char marker[] = "CARVEX_BROKEN_OUTPUT_CHILD=1";
    char* envp[] = {marker, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), &actions, &attributes, argv, envp), 0);
    close(fds[1]);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "11: stdout, 12/13: /dev/full, 14: invalid handle";
}

TEST(HeapAlloc, ZeroFillsWhenAsked) {
    // Blocks of each size are dirtied and freed first, so that the zeroed
    // ones may well be the same memory handed out again. The sizes straddle
    // the one from which blocks are mappings of their own, and huge pages.
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    for (SIZE_T size : {SIZE_T{24}, SIZE_T{4096}, SIZE_T{100000}, (SIZE_T{1} << 20) - 1, SIZE_T{1} << 20,
                        (SIZE_T{2} << 20) - 16, (SIZE_T{2} << 20) + 1, (SIZE_T{3} << 20) + 5}) {
        std::vector<unsigned char*> dirty;
        for (int i = 0; i < 4; ++i) {
            dirty.push_back(static_cast<unsigned char*>(HeapAlloc(heap, 0, size)));
            ASSERT_NE(dirty.back(), nullptr);
            std::memset(dirty.back(), 0xA5, size);
        }
        for (unsigned char* block : dirty) EXPECT_TRUE(HeapFree(heap, 0, block));
        for (int i = 0; i < 4; ++i) {
            auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size));
            ASSERT_NE(block, nullptr);
            dirty[i] = block;
            EXPECT_EQ(reinterpret_cast<ULONG_PTR>(block) % 16, 0u);
            SIZE_T at = 0;
            while (at < size && block[at] == 0) ++at;
            ASSERT_EQ(at, size) << "a block of " << size << " bytes holds a non-zero byte";
        }
        for (unsigned char* block : dirty) EXPECT_TRUE(HeapFree(heap, 0, block));
    }
}

// What the include writer tells apart by the error code: a name taken, a
// file missing, a refusal (a folder, a read-only file, even for root), a
// file that a writer sharing no writing holds, as on Windows.
TEST(GetLastError, TellsTheRefusalsApart) {
    TempDir dir;
    dir.Touch("taken", "held");
    HANDLE holder = Open(dir.path / "taken", GENERIC_WRITE, OPEN_EXISTING);
    dir.Touch("read-only", "keep");
    chmod((dir.path / "read-only").c_str(), 0444);
    fs::create_directory(dir.path / "folder");
    struct Case {
        const char* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"taken", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {"taken", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_SHARING_VIOLATION},
        {"missing", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"missing", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND},
        {"missing/x", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_NOT_FOUND},
        {"taken/x", GENERIC_WRITE, CREATE_NEW, ERROR_PATH_NOT_FOUND},
        {"folder", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"folder", 0, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"read-only", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"read-only", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED},
        {"read-only", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Open(dir.path / c.name, c.access, c.disposition), INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name << " " << c.disposition;
    }
    EXPECT_EQ(Content(dir.path / "read-only"), "keep");
    EXPECT_EQ(Content(dir.path / "taken"), "held");
    EXPECT_TRUE(CloseHandle(holder));
    EXPECT_FALSE(ReplaceFileA((dir.path / "read-only").c_str(), (dir.path / "taken").c_str(), nullptr, 0, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Content(dir.path / "read-only"), "keep");
    EXPECT_FALSE(MoveFileExA((dir.path / "read-only").c_str(), (dir.path / "taken").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_FALSE(DeleteFileA((dir.path / "missing").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(MoveFileExA((dir.path / "missing").c_str(), (dir.path / "taken").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// An access of 0 names the file without the right to read it, and leads
// through links to the file itself.
TEST(GetFinalPathNameByHandleA, FollowsLinksAndAsksForRoom) {
    TempDir dir;
    fs::create_directory(dir.path / "real");
    dir.Touch("real/y.inc");
    chmod((dir.path / "real/y.inc").c_str(), 0);
    fs::create_symlink("real/y.inc", dir.path / "x.inc");
    HANDLE file = Open(dir.path / "x.inc", 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string want = fs::canonical(dir.path / "real/y.inc").string();
    char small[4];
    EXPECT_EQ(GetFinalPathNameByHandleA(file, small, sizeof(small), 0), want.size() + 1);
    std::vector<char> room(want.size() + 1);
    EXPECT_EQ(GetFinalPathNameByHandleA(file, room.data(), static_cast<DWORD>(room.size()), 0), want.size());
    EXPECT_EQ(std::string(room.data()), want);
    // The file's name as it is now; a deleted file has none, though a file
    // may hold the name the kernel shows for it.
    fs::rename(dir.path / "real/y.inc", dir.path / "real/z.inc");
    EXPECT_EQ(GetFinalPathNameByHandleA(file, room.data(), static_cast<DWORD>(room.size()), 0), want.size());
    EXPECT_EQ(fs::path(room.data()).filename(), "z.inc");
    fs::remove(dir.path / "real/z.inc");
    dir.Touch("real/z.inc (deleted)");
    EXPECT_EQ(GetFinalPathNameByHandleA(file, room.data(), static_cast<DWORD>(room.size()), 0), 0u);
    EXPECT_TRUE(CloseHandle(file));
}

// An empty argument takes one byte of /proc/self/cmdline and three of the
// line (a space and two quotes); a thousand of them come back, each empty.
TEST(GetCommandLineA, GivesBackEveryEmptyArgument) {
    if (getenv("CARVEX_EMPTY_ARGUMENTS_CHILD") != nullptr) {
        ArgumentTable table;
        int count = ParseCommandLineText(GetCommandLineA(), table);
        _exit(count == 1002 && std::all_of(table.Slots + 2, table.Slots + count, [](char* t) { return *t == 0; }) ? 0
                                                                                                                  : 1);
    }
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string command = "CARVEX_EMPTY_ARGUMENTS_CHILD=1 '" + self + "' --gtest_filter=GetCommandLineA.*";
    for (int i = 0; i < 1000; ++i) command += " ''";
    EXPECT_EQ(std::system(command.c_str()), 0);
}
