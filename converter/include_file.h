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
    // The include being written: its name, and its text so far.
    TextBuffer Name;
    TextBuffer Text;
};

// What became of an include file.
enum class IncludeOutcome {
    Placed,   // the whole new text is in place
    Refused,  // nothing was touched: the include may not be replaced
    Failed,   // nothing was touched: the text could not be written or put in place
    Damaged,  // written in place, a write failed after the old text was overwritten
};

void ReleaseIncludeFiles(IncludeFiles& files);

// From now on a run that is interrupted (Ctrl+C or the console closed; on
// Linux SIGINT, SIGHUP or SIGTERM) removes its temporary file before it
// ends; an include file it is putting in place is finished first.
void RemoveTemporaryFileOnInterrupt();

// The include file 'name', in the current directory, receives its text in
// pieces, in order, between BeginInclude and EndInclude; EndInclude puts
// the whole text in place and says how that went.
void BeginInclude(IncludeFiles& files, const char* name);
void AppendToInclude(IncludeFiles& files, TextSpan piece);
IncludeOutcome EndInclude(IncludeFiles& files);

// Writes every byte, in pieces that each fit WriteFile's 32-bit count;
// false when a piece is not written whole.
bool WriteAllBytes(HANDLE file, const char* bytes, SIZE_T length);
