#include "param_list.h"

#include "text.h"
#include "word_access.h"

namespace {

// Every list is a prefix of the longest one: 'count' items take 7 * count
// characters, of which the last comma gives way to the line end.
constexpr SIZE_T ItemLength = 7;
constexpr PaddedText DwordItems(
    ":DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,"
    ":DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,:DWORD,");
constexpr PaddedText QwordItems(
    ":QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,"
    ":QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,:QWORD,");
static_assert(DwordItems.Span().Length == LongestParamList * ItemLength, "24 items");
static_assert(QwordItems.Span().Length == LongestParamList * ItemLength, "24 items");

// The count is at most LongestParamList.
SIZE_T BuildList(char* buffer, int count, TextSpan items) {
    SIZE_T n = count > 0 ? ItemLength * static_cast<SIZE_T>(count) - 1 : 0;
    CopyWithSlack(buffer, items.Data, n);
    CopyBytes(buffer + n, "\r\n", 3);
    return n + 2;
}

}  // namespace

SIZE_T BuildDwordList(char* buffer, int count) { return BuildList(buffer, count, DwordItems.Span()); }
SIZE_T BuildQwordList(char* buffer, int count) { return BuildList(buffer, count, QwordItems.Span()); }
