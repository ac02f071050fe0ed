// What the firmware tells about the machine, read once while the firmware access object opens its
// transport (empty and 0 until read), and the pure rules that turn firmware bytes into it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zmrmc {

struct SystemIdentity {
    bool maker_rom = false;   // the firmware is the maker's own ("brevik" at 0xFFFEA)
    std::string rom_version;  // 8 bytes at 0xFFFF5
    std::string rom_family;   // empty without the maker's ROM
    std::string product_name;
    bool portable = false;
    bool workstation = false;
    uint16_t system_id = 0;  // the firmware's 16-bit system identifier (ZmrMCGetMachineID)
    bool smbios = false;     // the SMBIOS table is available
};

// What the ROM's system information table ("!SIT") says; each member only when its record is present.
struct SystemInformation {
    std::optional<uint8_t> machine_class;     // record 7, data byte 2, low 6 bits (2 = portable)
    std::optional<std::string> product_name;  // record 16
};

// Walks the table in `bytes` (which begin with "!SIT"); records running past the bytes end the walk.
SystemInformation ParseSystemInformation(const std::vector<uint8_t>& bytes);

// The system identifier the SMBIOS names give: for the maker's manufacturers ("Brevik", "Tornell-Voskard",
// ignoring case and surrounding blanks) the base-board product, trimmed and upper-cased, without a final "H",
// when all that remains is hexadecimal digits. None otherwise (the driver is then asked).
std::optional<uint16_t> SystemIdFromSmbiosNames(const std::string& manufacturer, const std::string& boardProduct);

// The ROM family text from the family digit, letter and revision bytes.
std::string RomFamilyText(uint8_t digit, uint8_t letter, uint8_t revision, bool portable, uint16_t systemId);

// Chassis types (SMBIOS type 3, byte 5, low 7 bits) of portable machines: 8, 9, 10, 14.
bool PortableChassis(uint8_t chassisType);

// The text of a fixed-width firmware field: up to the first NUL.
std::string FieldText(const uint8_t* bytes, size_t length);
std::string Trimmed(const std::string& text);

}  // namespace zmrmc
