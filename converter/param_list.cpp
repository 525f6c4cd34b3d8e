#include "param_list.h"

#include "text.h"

namespace {

// Every list is a prefix of the longest one: 'count' items take 7 * count
// characters, of which the last comma gives way to the line end.
constexpr SIZE_T ItemLength = 7;
constexpr char DwordItems[] =
    ":DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,"
    ":DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,";
constexpr char QwordItems[] =
    ":QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,"
    ":QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,";
static_assert(sizeof(DwordItems) == LongestParamList * ItemLength + 1, "24 items");
static_assert(sizeof(QwordItems) == LongestParamList * ItemLength + 1, "24 items");

SIZE_T BuildList(char* buffer, int count, const char* items) {
    SIZE_T n = 0;
    if (count > 0) {
        n = ItemLength * static_cast<SIZE_T>(count) - 1;
        CopyBytes(buffer, items, n);
    }
    return n + StrCopy(buffer + n, "\r\n");
}

}  // namespace

SIZE_T BuildDwordList(char* buffer, int count) { return BuildList(buffer, count, DwordItems); }
SIZE_T BuildQwordList(char* buffer, int count) { return BuildList(buffer, count, QwordItems); }
