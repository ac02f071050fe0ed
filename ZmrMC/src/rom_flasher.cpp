#include "rom_flasher.h"

#include "driver_flash.h"
#include "image_signature.h"
#include "native_flash.h"
#include "rom_image.h"

#include <cstring>

namespace zmrmc {

uint8_t RomFlasher::FlashFromPath(const char* path, const char* password) {
    RomImage rom = ReadRomImage(path);
    image_ = std::move(rom.image);
    signature_ = std::move(rom.signature);
    if (image_.size() < kSmallestRomImage) return ZMRMC_FLASH_NO_IMAGE;

    // Only an image signed with the library's key is written: a firmware update tool must not put an image
    // of unknown origin into the flash part, so a missing signature is refused like a wrong one.
    std::optional<std::vector<uint8_t>> key = LibraryPublicKey();
    if (!signature_ || !key || CheckImageSignature(image_, *signature_, *key) != SignatureCheck::kVerified)
        return ZMRMC_FLASH_BAD_SIGNATURE;

    const char* text = password != nullptr ? password : "";
    size_t length = std::strlen(text);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    const SystemIdentity& identity = firmware_.Identity();
    if (firmware_.DriverOpen()) {
        if (length > 0xFFFF) return ZMRMC_FLASH_PASSWORD;
        DriverFlashRequest request{image_, bytes, static_cast<uint16_t>(length),
                                   ReadBackWanted(identity.portable, identity.system_id)};
        return FlashThroughDriver(firmware_, request);
    }
    NativeFlashRequest request{image_, bytes, length, firmware_.SetupPasswordSet(), identity.portable};
    return static_cast<uint8_t>(FlashThroughGate(firmware_.Gate(), request).status & 0xFF);
}

}  // namespace zmrmc
