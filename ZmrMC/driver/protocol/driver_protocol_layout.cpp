// Compile-time proof of the driver protocol's layouts: the library and its driver exchange these blocks as
// bytes. This file is also compiled for a 32-bit target, where the blocks must be the same.

#include "driver_protocol.h"

#include <cstddef>

namespace zmrdtct {

#define ZMRDTCT_CHECK_OFFSET(block, field, offset) static_assert(offsetof(block, field) == (offset), #block "::" #field)

ZMRDTCT_CHECK_OFFSET(Registers, eax, 0);
ZMRDTCT_CHECK_OFFSET(Registers, ebx, 4);
ZMRDTCT_CHECK_OFFSET(Registers, ecx, 8);
ZMRDTCT_CHECK_OFFSET(Registers, edx, 12);
ZMRDTCT_CHECK_OFFSET(Registers, esi, 16);
ZMRDTCT_CHECK_OFFSET(Registers, edi, 20);
ZMRDTCT_CHECK_OFFSET(Registers, segments, 24);
ZMRDTCT_CHECK_OFFSET(Registers, eflags, 28);
static_assert(sizeof(Registers) == 32);

ZMRDTCT_CHECK_OFFSET(RegisterBlock, dataLength, 32);
ZMRDTCT_CHECK_OFFSET(RegisterBlock, dataLength2, 36);
static_assert(sizeof(RegisterBlock) == 40, "the data area starts at 40");

ZMRDTCT_CHECK_OFFSET(InterruptRequest, interrupt, 32);
static_assert(sizeof(InterruptRequest) == 34, "the data area starts at 34: the request is 6 bytes shorter");

ZMRDTCT_CHECK_OFFSET(PhysicalReadRequest, address, 0);
ZMRDTCT_CHECK_OFFSET(PhysicalReadRequest, length, 4);
static_assert(sizeof(PhysicalReadRequest) == 8);

ZMRDTCT_CHECK_OFFSET(MemoryRequest, address, 0);
ZMRDTCT_CHECK_OFFSET(MemoryRequest, length, 4);
ZMRDTCT_CHECK_OFFSET(MemoryRequest, fixed1, 8);
ZMRDTCT_CHECK_OFFSET(MemoryRequest, fixed2, 10);
ZMRDTCT_CHECK_OFFSET(MemoryRequest, flags, 12);
ZMRDTCT_CHECK_OFFSET(MemoryRequest, segment, 14);
ZMRDTCT_CHECK_OFFSET(MemoryRequest, reserved, 16);
static_assert(sizeof(MemoryRequest) == 20);

ZMRDTCT_CHECK_OFFSET(BufferBlock, status, 0);
ZMRDTCT_CHECK_OFFSET(BufferBlock, address, 1);
ZMRDTCT_CHECK_OFFSET(BufferBlock, size, 5);
static_assert(sizeof(BufferBlock) == 9);

ZMRDTCT_CHECK_OFFSET(ObjectBlock, status, 0);
ZMRDTCT_CHECK_OFFSET(ObjectBlock, index, 1);
ZMRDTCT_CHECK_OFFSET(ObjectBlock, address, 3);
ZMRDTCT_CHECK_OFFSET(ObjectBlock, length, 7);
static_assert(sizeof(ObjectBlock) == 11);

ZMRDTCT_CHECK_OFFSET(LockStateBlock, status, 0);
ZMRDTCT_CHECK_OFFSET(LockStateBlock, lock, 1);
ZMRDTCT_CHECK_OFFSET(LockStateBlock, passwordLength, 2);
ZMRDTCT_CHECK_OFFSET(LockStateBlock, password, 4);
static_assert(sizeof(LockStateBlock) == 8);

ZMRDTCT_CHECK_OFFSET(PasswordStateAnswer, status, 0);
ZMRDTCT_CHECK_OFFSET(PasswordStateAnswer, set, 1);
static_assert(sizeof(PasswordStateAnswer) == 5);

ZMRDTCT_CHECK_OFFSET(VersionAnswer, status, 0);
ZMRDTCT_CHECK_OFFSET(VersionAnswer, major, 1);
ZMRDTCT_CHECK_OFFSET(VersionAnswer, minor, 2);
static_assert(sizeof(VersionAnswer) == 3);

ZMRDTCT_CHECK_OFFSET(CpuSerialBlock, size, 0);
ZMRDTCT_CHECK_OFFSET(CpuSerialBlock, answer, 4);
ZMRDTCT_CHECK_OFFSET(CpuSerialBlock, reserved, 8);
static_assert(sizeof(CpuSerialBlock) == 12);

static_assert(sizeof(SystemIdAnswer) == 2);
static_assert(sizeof(SitAddressAnswer) == 4);
static_assert(sizeof(SmbiosEntryAnswer) == 31);

ZMRDTCT_CHECK_OFFSET(FlashBlock, status, 0);
ZMRDTCT_CHECK_OFFSET(FlashBlock, image, 1);
ZMRDTCT_CHECK_OFFSET(FlashBlock, length, 5);
ZMRDTCT_CHECK_OFFSET(FlashBlock, password, 9);
ZMRDTCT_CHECK_OFFSET(FlashBlock, passwordLength, 13);
static_assert(sizeof(FlashBlock) == 15);

}  // namespace zmrdtct
