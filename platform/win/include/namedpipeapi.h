// Anonymous pipes.
#pragma once

#include "winbase.h"

// Creates a pipe: ReadFile on the read end returns what WriteFile wrote to the write end, and fails with
// ERROR_BROKEN_PIPE once every copy of the write end is closed and the pipe is empty; WriteFile fails with
// ERROR_NO_DATA once every copy of the read end is closed. Both ends are inheritable when the security
// attributes say so (only inheritable ends reach a child process, see CreateProcessW). The size is a hint.
BOOL CreatePipe(PHANDLE readEnd, PHANDLE writeEnd, LPSECURITY_ATTRIBUTES security, DWORD size);
