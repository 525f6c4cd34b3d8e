// How a run ends, and where the converter's memory comes from.
#pragma once

#include "win32.h"

// How a run ends: every library converted, a failure message printed, or
// the usage banner shown.
enum class ExitStatus : UINT { Converted = 0, Failed = 1, Usage = 2 };

// Prints the message and ends the process with ExitStatus::Failed.
[[noreturn]] void FailRun(const char* message);

// Heap blocks, always zero-filled. AllocateOrFail ends the run with
// "memory allocation failure" instead of returning null.
void* AllocateOrFail(SIZE_T bytes);
void FreeBlock(void* block);
