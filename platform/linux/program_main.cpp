// The start of the example programs on Linux. On Windows the loader jumps
// straight to the program's entry routine; here the C runtime starts first
// and hands over to it. The entry routine ends the process itself.
#include "win32.h"

extern "C" void WINAPI start();

int main() {
    // The kernel-services layer has already set SIGPIPE aside, so that a
    // write to a closed pipe fails as a WriteFile does on Windows.
    start();
}
