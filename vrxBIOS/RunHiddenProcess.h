// Running a console program hidden, with everything it prints copied to the debugger output.
#pragma once

#include "windows.h"

// Starts the command line (the program is found through the usual executable search: the folder of this
// program first, then the current directory, the system and Windows folders and PATH) with a new, hidden
// console whose standard output and standard error go to one pipe, and copies that output in chunks of at
// most 512 bytes (ANSI text) to the debugger output until the child and every holder of the pipe have closed
// it. The child's standard input is a pipe that is never written; it is closed before the output is read, so
// a child that reads its input sees its end at once. The child is not waited for beyond the end of its
// output, and its exit code is not examined.
//
// Returns 1 once the pipes were set up and drained, also when the child could not be started (that is
// traced, "CreateProcess() failed."); 0 when the pipes could not be set up ("CreatePipe() failed." or
// "DuplicateHandle() failed.", with the system's text of the error).
int RunHiddenProcess(LPCWSTR commandLine);
