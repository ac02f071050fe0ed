// The library's ROM flash object (one per process, made by ZmrMCInit): obtains the image a path names (loose
// pair or cabinet), checks its size and signature, and writes it through the driver when one is open, else
// through the firmware's call gate. The last image stays here until the next flash replaces it.
//
// A flash runs on the caller's thread; two flashes at once are not supported (the host serialises calls).
#pragma once

#include "firmware_access.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zmrmc {

class RomFlasher {
public:
    explicit RomFlasher(FirmwareAccess& firmware) : firmware_(firmware) {}

    // The flash status byte (ZMRMC_FLASH_* in ZmrMC.h), 0 when the image was written. `password` is the setup
    // password (bytes up to the first NUL; null: none).
    uint8_t FlashFromPath(const char* path, const char* password);

    const std::vector<uint8_t>& Image() const { return image_; }

private:
    FirmwareAccess& firmware_;
    std::vector<uint8_t> image_;
    std::optional<std::vector<uint8_t>> signature_;
};

}  // namespace zmrmc
