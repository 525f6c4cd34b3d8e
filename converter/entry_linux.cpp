// The entry routine on Linux, where the arguments arrive already split:
// argv holds the tokens and argc counts them.
#include "batch_driver.h"

int main(int argc, char** argv) { RunConverter(argc, argv); }
