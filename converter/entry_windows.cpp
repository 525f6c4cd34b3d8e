// The entry routine on Windows: the program's own first code. It splits
// the raw command line into tokens and runs the conversion.
#include "batch_driver.h"
#include "settings.h"

extern "C" void WINAPI start() {
    ArgumentTable table;
    int count = ParseCommandLine(table);
    RunConverter(count, table.Slots);
}
