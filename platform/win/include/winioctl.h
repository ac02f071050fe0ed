// Device I/O control: request codes and DeviceIoControl.
//
// A device name "\\.\Name" names a device that a running driver serves (qv_device_server.h). CreateFileW on
// such a name connects to it; DeviceIoControl sends one request and returns the driver's output bytes and
// result; CloseHandle disconnects. Request blocks may carry 32-bit addresses of the caller's memory: such
// addresses must come from VirtualAlloc (memoryapi.h), whose memory lies below 4 GB and is shared with the
// driver serving the request; the driver refuses other addresses cleanly. Every request waits at most 60 s.
#pragma once

#include "windef.h"

#define FILE_DEVICE_UNKNOWN 0x00000022
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define CTL_CODE(type, function, method, access) \
    ((static_cast<DWORD>(type) << 16) | ((access) << 14) | ((function) << 2) | (method))

struct OVERLAPPED;
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     OVERLAPPED* overlapped);
