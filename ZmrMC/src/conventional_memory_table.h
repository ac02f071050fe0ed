// Firmware that must not get a conventional-memory block for the data of a 16-bit call: the call then goes
// without a real-mode data pointer.
#pragma once

#include <string>

namespace zmrmc {

// True when the ROM family equals (ignoring case) a family of the table and the SMBIOS BIOS release date
// ("MM/DD/YYYY") is on or after that family's cut-off date.
bool CallWithoutConventionalMemory(const std::string& romFamily, const std::string& biosReleaseDate);

// Compares two "MM/DD/YYYY" dates by year, month, day (each part read as a decimal number): <0, 0, >0.
int CompareFirmwareDates(const std::string& a, const std::string& b);

}  // namespace zmrmc
