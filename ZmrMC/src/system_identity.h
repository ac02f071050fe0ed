// What the firmware tells about the machine, read once while the firmware access object opens its
// transport. Empty (and 0) until read.
#pragma once

#include <cstdint>
#include <string>

namespace zmrmc {

struct SystemIdentity {
    bool maker_rom = false;      // the firmware is the maker's own
    std::string rom_version;
    std::string rom_family;
    std::string product_name;
    bool portable = false;
    bool workstation = false;
    uint16_t system_id = 0;      // the firmware's 16-bit system identifier (ZmrMCGetMachineID)
};

}  // namespace zmrmc
