// What the Linux kernel-services layer shares with its tests.
#pragma once

#include "win32.h"

// The wildcard rule of the search: '*' matches any run of characters (a
// leading dot included), '?' any one character; case matters.
bool WildcardMatches(const char* pattern, const char* name);

// Why the last call of the layer failed; the programs never ask, the tests do.
constexpr DWORD ERROR_INVALID_HANDLE = 6;
extern "C" DWORD WINAPI GetLastError();
