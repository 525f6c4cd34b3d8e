// Writes an include file whole and safely: the text streams into a temporary
// file of the run's own, which then takes the include file's place in one
// step. Where the folder takes no new file, the text is gathered and written
// into the include in place, its whole length reserved first.
#pragma once

#include "text_buffer.h"

// What became of an include file.
enum class IncludeOutcome {
    Placed,   // the whole new text is in place
    Refused,  // nothing was touched: the include may not be replaced (read-only, a
              // folder, a link to no regular file, a link another user planted)
    Failed,   // nothing was touched: the text could not be written or put in place
    Damaged,  // written in place, a write failed after the old text was overwritten
};

// How the text of the include being written travels.
enum class IncludeRoute {
    Settled,    // nowhere: the outcome is known already
    Temporary,  // into the temporary file, which then takes the target's place
    Gathered,   // into Text, to be written in place
};

// What writing the include files keeps from one include to the next.
struct IncludeFiles {
    // The include's name as given to the calls: ".\<name>", relative to the
    // current folder, so that no limit on the length of a path comes before
    // the system's own and no character need be spelled twice.
    TextBuffer Name;
    // The file that receives the text: the include, or the file that a link
    // in its place leads to.
    TextBuffer Target;
    // The temporary file, next to the target: "carvex-<n>.tmp".
    TextBuffer TemporaryName;
    // The number the next temporary name tries first: the one this run took
    // last, free again once that file took the target's place.
    DWORD NextNumber;
    // The current folder as the system spells it, asked once a run; and the
    // final path of the include asked for.
    TextBuffer RunFolder;
    TextBuffer FinalPath;
    // The include being written: its route, the outcome where settled, the
    // temporary file and the bytes it took, the text where gathered.
    IncludeRoute Route;
    IncludeOutcome Outcome;
    bool Existed;
    bool WriteFailed;
    HANDLE Temporary;
    ULONGLONG Written;
    TextBuffer Text;
};

void ReleaseIncludeFiles(IncludeFiles& files);

// From now on a run that is interrupted (Ctrl+C or the console closed; on
// Linux SIGINT, SIGHUP or SIGTERM) removes its temporary file and ends as
// Windows ends a process on Ctrl+C; an include file it is putting in place
// is finished first.
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
