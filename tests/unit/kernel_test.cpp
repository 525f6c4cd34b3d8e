// The Linux kernel-services layer: what the converter relies on from the
// search, the files and the console.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "batch_driver.h"
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

TEST(FindFirstFileA, ListsNoNameThatHoldsABackslash) {
    TempDir dir;
    for (const char* name : {"a.lib", "..\\b.lib", "c\\.lib"}) dir.Touch(name);
    EXPECT_EQ(Search(dir.path.string() + "\\*.lib"), V{"a.lib"});
}

TEST(CreateFileA, ReadsRegularFilesOnlyAndNeverWaits) {
    TempDir dir;
    dir.Touch("x.lib", "12345");
    fs::create_directory(dir.path / "d.lib");
    ASSERT_EQ(mkfifo((dir.path / "p.lib").c_str(), 0600), 0);
    std::string base = dir.path.string();
    for (const char* refused : {"/d.lib", "/none", "/p.lib"})
        EXPECT_EQ(CreateFileA((base + refused).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
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

TEST(CreateFileA, CreateNewTakesOnlyAFreeNameAndMoveFileExAReplaces) {
    TempDir dir;
    dir.Touch("old.inc", "old");
    std::string taken = (dir.path / "old.inc").string(), fresh = (dir.path / "new.tmp").string();
    EXPECT_EQ(CreateFileA(taken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "new", 3, &written, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(MoveFileExA(fresh.c_str(), taken.c_str(), 0));
    EXPECT_TRUE(MoveFileExA(fresh.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(fs::file_size(taken), 3u);
    EXPECT_TRUE(DeleteFileA(taken.c_str()));
    EXPECT_FALSE(DeleteFileA(taken.c_str()));
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
    std::vector<HANDLE> garbage = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(1),
                                   reinterpret_cast<HANDLE>(0x123456), reinterpret_cast<HANDLE>(0x1000), &count};
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

TEST(WriteFile, ReportsAFailedWriteHonestly) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    HANDLE broken = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(fds[1]) + 1);
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(broken, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 0u);
    close(fds[1]);
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "abc", 3, &written, nullptr));
}

TEST(HeapAlloc, ZeroFillsWhenAsked) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0);
    EXPECT_TRUE(HeapFree(heap, 0, block));
}
