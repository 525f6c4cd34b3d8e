// The Linux kernel-services layer: what the converter relies on from the
// search, the files and the console.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "linux/kernel_internal.h"
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

std::vector<std::string> Search(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    EXPECT_TRUE(FindClose(search));
    return names;
}

using V = std::vector<std::string>;

}  // namespace

TEST(WildcardMatches, StarAndQuestionMarkCaseSensitive) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.lib", "user32.lib", true}, {"*.lib", "user32.LIB", false}, {"*", ".", true},
        {"*", "..", true},             {"*.lib", ".lib", true},        {"?ser32.lib", "user32.lib", true},
        {"?", "", false},              {"*a*b", "xaxxb", true},        {"*a*b", "xaxxbc", false},
        {"a", "a", true},              {"", "", true},                 {"", "a", false},
        {"**", "abc", true},           {"k*32.*", "kernel32.lib", true},
    };
    for (const Case& c : cases) EXPECT_EQ(WildcardMatches(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

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

TEST(CreateFileA, ReadsFilesButNotDirectories) {
    TempDir dir;
    dir.Touch("x.lib", "12345");
    fs::create_directory(dir.path / "d.lib");
    std::string base = dir.path.string();
    EXPECT_EQ(CreateFileA((base + "/d.lib").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA((base + "/none").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr),
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

TEST(CreateFileA, CreateAlwaysReplacesAndWriteFileWritesEveryByte) {
    TempDir dir;
    dir.Touch("out.inc", std::string(100, 'o'));
    std::string path = (dir.path / "out.inc").string();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string text(1 << 20, 'x');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(written, text.size());
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(fs::file_size(path), text.size());
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
    // ones may well be the same memory handed out again.
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    for (SIZE_T size : {SIZE_T{24}, SIZE_T{4096}, SIZE_T{100000}, (SIZE_T{3} << 20) + 5}) {
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
            SIZE_T at = 0;
            while (at < size && block[at] == 0) ++at;
            ASSERT_EQ(at, size) << "a block of " << size << " bytes holds a non-zero byte";
        }
        for (unsigned char* block : dirty) EXPECT_TRUE(HeapFree(heap, 0, block));
    }
}
