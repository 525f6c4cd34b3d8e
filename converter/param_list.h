// The parameter lists of the prototype lines.
#pragma once

#include "text.h"

// The most parameters a decoration gives: two digits of bytes, "99".
constexpr int LongestParamList = 24;

// The parameter list for 'count' parameters (0 to LongestParamList):
// ":DWORD," (or ":QWORD,") 'count' times, the last comma turned into
// "\r\n"; "\r\n" alone for no parameters. Every list is made at compile
// time and padded for the line builder's word paths.
typedef TextSpan (*ParamListBuilderFn)(int count);
TextSpan BuildDwordList(int count);
TextSpan BuildQwordList(int count);
