// The start of the example programs on Linux. On Windows the loader jumps
// straight to the program's entry routine; here the C runtime starts first
// and hands over to it. The entry routine ends the process itself.
#include "win32.h"

#include <signal.h>

extern "C" void WINAPI start();

int main() {
    // Windows reports a write to a closed pipe as a failed WriteFile; POSIX
    // would kill the process with SIGPIPE instead.
    signal(SIGPIPE, SIG_IGN);
    start();
}
