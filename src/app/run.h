// The one pass of KOLVA, from the command line to the exit status.
#ifndef APP_RUN_H_
#define APP_RUN_H_

#include "common/text_output.h"

// Runs KOLVA on the first argument of `argv` (further ones are ignored):
// derives the parts-list and result-file names, reads and checks the parts
// list and writes the result file, printing every message to `console`.
// Returns kExitSuccess after a complete run, kExitFailure after any failure;
// a failed run leaves an existing result file exactly as it was.
int Run(int argc, const char* const* argv, TextOutput* console);

// The program's entry: Run with standard output as the console. Memory
// exhausted anywhere is reported as such rather than ending in a crash.
int RunProgram(int argc, const char* const* argv);

// The same for the UTF-16 arguments of Windows, which are turned into UTF-8
// after the banner, so that memory exhausted there is reported too.
int RunProgram(int argc, const char16_t* const* argv);

#endif  // APP_RUN_H_
