// The parameter lists of the prototype lines.
#pragma once

#include "win32.h"

// Writes the parameter list for 'count' parameters, ending in "\r\n", and
// returns its length.
typedef SIZE_T (*ParamListBuilderFn)(char* buffer, int count);

// ":DWORD," (or ":QWORD,") 'count' times, the last comma turned into
// "\r\n"; "\r\n" alone for no parameters.
SIZE_T BuildDwordList(char* buffer, int count);
SIZE_T BuildQwordList(char* buffer, int count);

// The most parameters a decoration gives: two digits of bytes, "99".
constexpr int LongestParamList = 24;
// Room a list's buffer needs: the longest list, its NUL, and the eight bytes
// of slack that the builders may overwrite and the line builder may read.
constexpr SIZE_T ParamListCapacity = LongestParamList * 7 + 2 + 1 + 8;
