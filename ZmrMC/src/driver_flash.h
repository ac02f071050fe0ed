// The flash through the library's driver: the whole image in one write request (0x8000240F), up to six
// attempts, the post-flash firmware call after each, and on portable systems a read-back (0x8000243F)
// compared word by word, where a difference within one 4096-byte block is accepted.
//
// The ROM's contents are read first and written back when the image does not stick, so that a failed flash
// leaves the ROM as it was (status 252) or says that it could not (240); a firmware that forbids a retry
// (status 19) ends the flash at once. When the ROM cannot be read first, a failing attempt's own status is
// the result.
#pragma once

#include "firmware_access.h"

#include <cstdint>
#include <vector>

namespace zmrmc {

struct DriverFlashRequest {
    const std::vector<uint8_t>& image;
    const uint8_t* password;
    uint16_t passwordLength;
    bool readBack;  // the system is portable and its firmware is not one excluded from the read-back
};

// Statuses the driver path reports besides the driver's own.
constexpr uint8_t kDriverFlashNoRetry = 19;
constexpr uint8_t kDriverFlashRejected = 240;  // the driver rejected the write this way (repeated); in the end:
                                               // not written, and the saved contents are not back either
constexpr uint8_t kDriverFlashNotReached = 250;
constexpr uint8_t kDriverFlashRestored = 252;

// Whether the firmware of `systemId` on a portable system gets the read-back.
bool ReadBackWanted(bool portable, uint16_t systemId);

// Whether a read-back counts as the image: no 32-bit word differs, or all differing words lie in one
// 4096-byte block.
bool DriverReadBackMatches(const uint8_t* readBack, const uint8_t* image, size_t length);

// The flash's status byte, 0 when the image was written.
uint8_t FlashThroughDriver(FirmwareAccess& firmware, const DriverFlashRequest& request);

}  // namespace zmrmc
