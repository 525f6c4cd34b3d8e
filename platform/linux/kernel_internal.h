// What the Linux kernel-services layer shares with its tests.
#pragma once

#include "win32.h"

// The error codes the layer gives besides those the programs tell apart.
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_IO_DEVICE = 1117;

// The command line as Windows shows it, made from the arguments as
// /proc/self/cmdline holds them (each ended by a NUL; the last one may end
// at 'size' instead); a block from malloc, or null.
char* JoinArguments(const char* arguments, SIZE_T size);

// Whether FindFirstFileA(pattern) lists an entry of this name: a name the
// programs can be given that matches the pattern's last component.
bool SearchLists(const char* pattern, const char* name);
