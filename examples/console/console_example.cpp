// A minimal console program: writes one fixed text to its standard output
// and ends with exit code 0. It uses no runtime library; on Windows its entry
// routine is the first of its own code that runs.
#include "win32.h"

namespace {

const char MessageText[] = "Poasm 64-bit console example.";

// Writes a NUL-terminated text to standard output. A missing or refusing
// output is not an error worth reporting: the result is not examined.
void PrintText(const char* text) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD length = static_cast<DWORD>(lstrlenA(text));
    DWORD written;
    WriteFile(output, text, length, &written, nullptr);
}

}  // namespace

extern "C" void WINAPI start() {
    PrintText(MessageText);
    ExitProcess(0);
}
