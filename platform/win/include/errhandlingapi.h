// System message texts and local memory.
#pragma once

#include "windef.h"

typedef HANDLE HLOCAL;
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL memory);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define ERROR_MR_MID_NOT_FOUND 317L

// FROM_SYSTEM texts of the Win32 error codes the platform produces, each ending in "\r\n" as on Windows.
// Supported: FROM_SYSTEM with IGNORE_INSERTS, into a caller's buffer of `size` characters or, with
// ALLOCATE_BUFFER, into a LocalAlloc'ed buffer stored through `buffer` (an LPWSTR* then). Returns the length
// without the NUL, or 0 with ERROR_MR_MID_NOT_FOUND (unknown code), ERROR_INSUFFICIENT_BUFFER or
// ERROR_INVALID_PARAMETER (other sources or inserts).
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     void* arguments);
