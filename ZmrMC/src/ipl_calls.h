// The Plug and Play BIOS boot-device functions (60h to 63h) through the driver: each call's output areas lie in
// a conventional-memory block granted for the call and released after it. The far pointers the firmware gets
// are offsets into that block.
#pragma once

#include "ZmrMC.h"
#include "driver_transport.h"

namespace zmrmc {

// Functions 60h (version) and, for version 1.00 or 1.01, 61h (device count). Every output starts at 0 and
// stays 0 unless 61h succeeds; tableSize = (entrySize + 1) * maxCount. The result is the last call's success.
bool IplDeviceInfo(DriverTransport& transport, ZmrMCIplInfo* info, int* maxCount, int* entrySize, int* tableSize);
// Function 62h: the priority list at offset 0 of `buffer`, the IPL table at offset maxCount. Refuses a null
// buffer, a zero length or a length below maxCount * (entrySize + 1); zeroes the buffer first.
bool IplTable(DriverTransport& transport, unsigned char* buffer, int length, int maxCount, int entrySize);
// Function 63h: sets the priority list (count bytes). Refuses a null list or a zero count.
bool SetIplPriority(DriverTransport& transport, const unsigned char* priority, int count);

}  // namespace zmrmc
