// Writes an include file whole and safely: the text goes to a temporary file
// of the run's own, which then takes the include file's place in one step.
#pragma once

#include "text_buffer.h"

// What writing the include files keeps from one include to the next.
struct IncludeFiles {
    // The file that receives the text: the include file, or the file that a
    // link in its place leads to.
    TextBuffer Target;
    // The temporary file, next to the target: "carvex-<n>.tmp".
    TextBuffer TemporaryName;
    // The number the next temporary name tries first: the one this run took
    // last, free again once that file took the target's place.
    DWORD NextNumber;
};

void ReleaseIncludeFiles(IncludeFiles& files);

// From now on a run that is interrupted (Ctrl+C or the console closed; on
// Linux SIGINT, SIGHUP or SIGTERM) removes its temporary file before it
// ends; an include file it is putting in place is finished first.
void RemoveTemporaryFileOnInterrupt();

// Writes the text as the include file 'name', in the current directory.
// False when it could not be written; an existing include file then stays
// as it was, unless the folder refused a temporary file and the include
// was being written in place when the write failed.
bool WriteIncludeFile(IncludeFiles& files, const char* name, const char* text, SIZE_T length);

// Writes every byte, in pieces that each fit WriteFile's 32-bit count;
// false when a piece is not written whole.
bool WriteAllBytes(HANDLE file, const char* bytes, SIZE_T length);
