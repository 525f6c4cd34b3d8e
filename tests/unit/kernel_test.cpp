// The Linux kernel-services layer: what the converter relies on from the
// search, the files and the console.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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
