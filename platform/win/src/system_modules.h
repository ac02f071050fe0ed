// Modules of the operating system itself ("ntdll.dll"), which no file on disk backs: their handles and exports.
#pragma once

#include "windef.h"

// The handle of a system module by name (case-insensitive, with or without ".dll"); null when there is none.
HMODULE QvSystemModule(LPCWSTR name);
// An export of a system module; `known` tells whether `module` is a system module at all.
void* QvSystemModuleProc(HMODULE module, LPCSTR name, bool* known);
