// Virtual memory. Allocations lie below 4 GB (their addresses fit the 32-bit address fields of request blocks)
// in an area this process shares with the drivers it talks to (winioctl.h).
#pragma once

#include "windef.h"

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_RELEASE 0x00008000
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

// Fills memory with zeros in a way the compiler keeps even when the memory is not read again: for buffers that
// held a secret (a password) before they are released.
inline LPVOID SecureZeroMemory(LPVOID address, SIZE_T size) {
    volatile char* at = static_cast<volatile char*>(address);
    while (size-- > 0) *at++ = 0;
    return address;
}

namespace qv::win {
// The shared area: its memory file descriptor, its address and its size (created on first use).
bool UserMemoryArea(int* fd, uint32_t* base, uint32_t* size);
}  // namespace qv::win
