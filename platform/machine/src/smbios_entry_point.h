// The 31-byte SMBIOS 2.x entry point ("_SM_" ... "_DMI_") of a structure table, with both checksums.
#pragma once

#include "qv_firmware.h"

#include <cstdint>

namespace qv::machine {

struct SmbiosTableShape {
    uint16_t length = 0;   // bytes of the structure table
    uint32_t address = 0;  // where the table lies in physical memory
    uint16_t count = 0;    // structures in it
    uint16_t largest = 0;  // the largest structure's size, strings included
    uint8_t major = 0, minor = 0;
};

Bytes SmbiosEntryPoint(const SmbiosTableShape& table);

}  // namespace qv::machine
