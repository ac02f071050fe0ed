// The folder vrxBIOS writes its files to (the MOF files, the library) before using them.
#pragma once

#include "windows.h"

// A usable folder (an existing directory that is not read-only): the temporary folder; when that is
// unusable and holds an unexpanded "%" variable, the application-data folder of SHFolder.DLL; else the
// program's own folder; else the current directory. Returns that folder, one "\", the name without a leading
// "\" and a final "\", in a buffer allocated with new[] that the caller frees with delete[]; null when no
// folder is usable. The caller creates the folder.
LPWSTR GetWorkingFolder(LPCWSTR name);
