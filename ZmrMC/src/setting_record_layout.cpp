// Compile-time proof of the setting record's layout: the host reads and writes records by offset. This file
// is also compiled for a 32-bit target, where the record is exactly 68 bytes.

#include "ZmrMC.h"

#include <cstddef>
#include <cstdint>

#define ZMRMC_CHECK_OFFSET(field, offset) static_assert(offsetof(SRI, field) == (offset), #field)

ZMRMC_CHECK_OFFSET(size, 0);
ZMRMC_CHECK_OFFSET(objectIndex, 4);
ZMRMC_CHECK_OFFSET(type, 6);
ZMRMC_CHECK_OFFSET(flags, 8);
ZMRMC_CHECK_OFFSET(path, 10);
ZMRMC_CHECK_OFFSET(pathDepth, 22);
ZMRMC_CHECK_OFFSET(nameId, 24);
ZMRMC_CHECK_OFFSET(currentIndex, 26);
ZMRMC_CHECK_OFFSET(instanceKey, 28);
ZMRMC_CHECK_OFFSET(lowerBound, 36);
ZMRMC_CHECK_OFFSET(upperBound, 40);
ZMRMC_CHECK_OFFSET(changed, 44);
ZMRMC_CHECK_OFFSET(elementCount, 48);
ZMRMC_CHECK_OFFSET(valueSize, 50);
ZMRMC_CHECK_OFFSET(value, 54);

#if UINTPTR_MAX == 0xFFFFFFFFu
ZMRMC_CHECK_OFFSET(prereqCount, 58);
ZMRMC_CHECK_OFFSET(prereqSize, 60);
ZMRMC_CHECK_OFFSET(prereqs, 64);
static_assert(sizeof(SRI) == 68, "the record is 68 bytes on a 32-bit target");
#else
// Only the two pointers widen; everything after the first one moves by 4 bytes.
ZMRMC_CHECK_OFFSET(prereqCount, 62);
ZMRMC_CHECK_OFFSET(prereqSize, 64);
ZMRMC_CHECK_OFFSET(prereqs, 68);
static_assert(sizeof(SRI) == 76, "the record is 76 bytes on a 64-bit target");
#endif

static_assert(sizeof(ZmrMCRegisterBlock) == 40, "register block without its data area");
static_assert(sizeof(ZmrMCFoundDevice) == 36, "found-device record");
