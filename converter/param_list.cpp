#include "param_list.h"

namespace {

// Every list of one type, each in a slot of its own with room for the
// longest list, its NUL and eight bytes of padding.
constexpr SIZE_T ItemLength = 7;  // ":DWORD,"
constexpr SIZE_T ListSlot = LongestParamList * ItemLength + 2 + 1 + 8;

struct ParamLists {
    char Text[LongestParamList + 1][ListSlot];
    SIZE_T Length[LongestParamList + 1];

    constexpr explicit ParamLists(const char (&item)[ItemLength + 1]) : Text{}, Length{} {
        for (int count = 0; count <= LongestParamList; ++count) {
            SIZE_T n = 0;
            for (int i = 0; i < count; ++i)
                for (SIZE_T k = 0; k < ItemLength; ++k) Text[count][n++] = item[k];
            if (count > 0) --n;  // the last comma gives way to the line end
            Text[count][n++] = '\r';
            Text[count][n++] = '\n';
            Length[count] = n;
        }
    }
};

constexpr ParamLists DwordLists(":DWORD,");
constexpr ParamLists QwordLists(":QWORD,");

}  // namespace

TextSpan BuildDwordList(int count) { return TextSpan{DwordLists.Text[count], DwordLists.Length[count]}; }
TextSpan BuildQwordList(int count) { return TextSpan{QwordLists.Text[count], QwordLists.Length[count]}; }
