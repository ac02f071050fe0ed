// Writing a resource of the program to a file.
#pragma once

#include "windows.h"

// Writes resource "BINARY"/id of the module to path. A file already at path is deleted first (with 200 ms
// for the system to let go of it); if it cannot be deleted it is used unchanged and a warning is traced. A
// missing or empty resource, or a file that cannot be created, writes nothing. A write error or a short
// write is reported (ReportLastError) and the partial file deleted, so no partial file is left behind.
void ExtractResourceFile(HMODULE module, UINT id, LPCWSTR path);
