// Runs the conversion for every directory entry that matches the pattern.
#pragma once

#include "run.h"
#include "settings.h"

// The whole run for a command line's tokens (token 0 is the program):
// settings from the switch, or the usage banner; never returns.
[[noreturn]] void RunConverter(int count, const char* const* tokens);
