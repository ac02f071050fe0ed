// Modules of the installed Windows that live in the platform itself ("kernel32.dll", "ntdll.dll"): they need
// no image on disk, their handle is a fixed address of the platform, and kernel32's exports depend on the
// installed version.
#pragma once

#include "windows.h"

#include <string>

namespace qv::win {

// The handle of the system module with this file name ("kernel32.dll", "ntdll.dll"; any case, ".dll"
// optional), or null.
HMODULE SystemModuleByName(const std::wstring& name);
bool IsSystemModule(HMODULE module);
// The export of a system module, or null (ERROR_PROC_NOT_FOUND) when that version of Windows lacks it.
void* SystemModuleExport(HMODULE module, LPCSTR name);

// The native section calls of "ntdll.dll" by name (ntdll.cpp), or null.
void* NtdllExport(LPCSTR name);

}  // namespace qv::win
