// The firmware's boot devices (initial-program-load table of the BIOS Boot Specification) as display names in
// their current priority order, and writing a new order from a list of names. Used by the legacy catalogue's
// "BootOrder" object.
#pragma once

#include "firmware_calls.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zmrmc {

// Display name of a boot device's description text; texts not in the table come back unchanged.
std::string BootDeviceDisplayName(const std::string& description);

// Physical memory block (64 KB) that holds the description text of a far pointer taken from an IPL entry,
// and the text's offset inside it.
uint32_t DescriptionBlockAddress(uint32_t pointer);

class BootDevices {
public:
    explicit BootDevices(FirmwareCalls& firmware) : firmware_(firmware) {}

    // Reads the table and the current order. False (and no names) when the firmware has no boot devices or a
    // call fails.
    bool Load();
    bool Loaded() const { return loaded_; }
    // One name per priority position (empty when the position names no valid entry).
    const std::vector<std::string>& Names() const { return names_; }

    // Moves the named devices to the front in the given order (repeats and unknown names ignored; unnamed
    // devices keep their order after them) and writes the new priority list.
    bool SetOrder(const std::vector<std::string>& requested);

private:
    std::string ReadDescription(uint32_t pointer);

    FirmwareCalls& firmware_;
    bool loaded_ = false;
    int count_ = 0;
    std::vector<uint8_t> priority_;
    std::vector<std::string> names_;
};

}  // namespace zmrmc
