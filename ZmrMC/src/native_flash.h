// The firmware's own flash protocol over the call gate (command 0x20001): flash information, a saved copy of
// the current contents, the image written in blocks with checksums (five tries a block, six passes), a
// read-back on portable systems, and the saved copy written back when the image does not stick.
#pragma once

#include "firmware_call_gate.h"

#include <cstdint>
#include <vector>

namespace zmrmc {

// Statuses of this path besides the firmware's own return codes.
enum NativeFlashStatus : uint32_t {
    kNativeWritten = 0,
    kNativeVersion = 17,  // the interface version is not 0x0100
    kNativeNoRetry = 19,  // the firmware's: the flash must not be retried
    kNativePasswordTooLong = 128,
    kNativeNotWritten = 240,    // not written, no saved copy written back
    kNativeRestored = 252,      // not written, the saved contents written back
    kNativeGeometry = 280,      // the ROM size is not a multiple of the block size (or blocks above 4096 bytes)
    kNativeSizeMismatch = 281,  // the image's length differs from the ROM size
    kNativePreset = 0xFFFF,
};

struct NativeFlashRequest {
    const std::vector<uint8_t>& image;
    const uint8_t* password;  // the setup password's bytes (may be null when `passwordLength` is 0)
    size_t passwordLength;
    bool passwordSet;  // a setup password is set: the information and read requests carry it too
    bool portable;     // the written image is read back and compared
};

struct NativeFlashResult {
    bool ok;
    uint32_t status;
};

// Flashes the image through `gate`. Holds the image's length twice more at most (the saved copy and one
// read-back).
NativeFlashResult FlashThroughGate(FirmwareCallGate& gate, const NativeFlashRequest& request);

// The checksum of a block: the sum modulo 2^32 of its little-endian 32-bit words (a last partial word padded
// with zeros).
uint32_t BlockChecksum(const uint8_t* bytes, size_t count);

// Whether a read-back counts as the image: equal, or differing only within one 4096-byte block where, when a
// saved copy exists, it equals the saved copy from the first to the last differing byte.
bool ReadBackMatches(const std::vector<uint8_t>& readBack, const std::vector<uint8_t>& image,
                     const std::vector<uint8_t>* saved);

}  // namespace zmrmc
