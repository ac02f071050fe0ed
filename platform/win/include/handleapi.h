// Duplicating handles.
#pragma once

#include "winbase.h"

#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002

// Duplicates a handle of this process into this process (both process handles must be GetCurrentProcess()).
// Only pipe ends can be duplicated; the copy is inheritable when `inherit` is TRUE, whatever the source was.
// DUPLICATE_CLOSE_SOURCE closes the source, also when the duplication fails. Other handles fail with
// ERROR_NOT_SUPPORTED, other processes with ERROR_INVALID_HANDLE.
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target, DWORD access,
                     BOOL inherit, DWORD options);
