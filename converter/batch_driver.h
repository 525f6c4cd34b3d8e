// Runs the conversion for every directory entry that matches the pattern.
#pragma once

#include "run.h"
#include "settings.h"

// Converts every library the pattern matches and returns the run's exit
// status. Ends the process itself on the failures that stop a run.
ExitStatus RunBatch(const char* pattern, const ConversionSettings& settings);

// The whole run for a command line's tokens (token 0 is the program):
// settings from the switch, or the usage banner; never returns.
[[noreturn]] void RunConverter(int count, const char* const* tokens);
