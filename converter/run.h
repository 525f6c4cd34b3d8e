// How a run ends, and where the converter's memory comes from.
#pragma once

#include "win32.h"

// How a run ends: every library converted, a failure message printed, or
// the usage banner shown.
enum class ExitStatus : UINT { Converted = 0, Failed = 1, Usage = 2 };

// Prints the message and ends the process with ExitStatus::Failed.
[[noreturn]] void FailRun(const char* message);

// Heap blocks. AllocateOrFail's are zero-filled; AllocateUnclearedOrFail's
// hold whatever they hold, for bytes that are all written before they are
// read. Both end the run with "memory allocation failure" instead of
// returning null.
void* AllocateOrFail(SIZE_T bytes);
void* AllocateUnclearedOrFail(SIZE_T bytes);
void FreeBlock(void* block);
