#include "driver_flash.h"

#include <cstring>
#include <memory>

namespace zmrmc {
namespace {

constexpr int kAttempts = 6;

// Firmware of older product lines whose flash part cannot be read back: identifiers below the first one
// with a read-back, and one later model.
constexpr uint16_t kFirstSystemIdWithReadBack = 0x0700;
constexpr uint16_t kSystemIdWithoutReadBack = 0x0810;

// The post-flash call (INT 15h AX = E822h, BL = 05h), 32-bit first, the 16-bit call when AH is not 0; its
// outcome is not used.
void PostFlashCall(FirmwareAccess& firmware) {
    ZmrMCRegisterBlock regs{};
    regs.eax = 0xE822;
    regs.ebx = 0x05;
    unsigned char status = 0;
    firmware.CallInt15(&regs, sizeof regs, &status);
    if (((regs.eax >> 8) & 0xFF) == 0) return;
    ZmrMCRegisterBlock again{};
    again.eax = 0xE822;
    again.ebx = 0x05;
    firmware.CallInterrupt(0x15, &again, sizeof again, &status);
}

// One flash request over `buffer`: the request's success and the block's status byte.
struct Sent {
    bool ok;
    uint8_t status;
};
Sent Send(FirmwareAccess& firmware, uint32_t code, const SharedBuffer& buffer, uint32_t length,
          const SharedBuffer& password, uint16_t passwordLength) {
    zmrdtct::FlashBlock block{0, buffer.Address(), length, password.Address(), passwordLength};
    bool ok = firmware.Transport().FlashRequest(code, block);
    return {ok, block.status};
}

std::unique_ptr<SharedBuffer> Buffer(size_t size) {
    auto buffer = std::make_unique<SharedBuffer>(size);
    if (!buffer->ok()) return nullptr;
    return buffer;
}

}  // namespace

bool ReadBackWanted(bool portable, uint16_t systemId) {
    return portable && systemId >= kFirstSystemIdWithReadBack && systemId != kSystemIdWithoutReadBack;
}

bool DriverReadBackMatches(const uint8_t* readBack, const uint8_t* image, size_t length) {
    bool differs = false;
    size_t block = 0;
    for (size_t word = 0; word < length / 4; ++word) {
        if (std::memcmp(readBack + word * 4, image + word * 4, 4) == 0) continue;
        size_t at = word * 4 / 4096;
        if (differs && at != block) return false;
        differs = true;
        block = at;
    }
    return true;
}

uint8_t FlashThroughDriver(FirmwareAccess& firmware, const DriverFlashRequest& request) {
    uint32_t length = static_cast<uint32_t>(request.image.size());
    std::unique_ptr<SharedBuffer> image = Buffer(length);
    std::unique_ptr<SharedBuffer> password = Buffer(request.passwordLength + 1u);
    if (!image || !password) return kDriverFlashNotReached;
    std::memcpy(image->data(), request.image.data(), length);
    if (request.passwordLength > 0) std::memcpy(password->data(), request.password, request.passwordLength);

    // The current contents, to write back when the image does not stick.
    std::unique_ptr<SharedBuffer> saved = Buffer(length);
    if (saved) {
        Sent read = Send(firmware, kIoctlFlashRead, *saved, length, *password, request.passwordLength);
        if (!read.ok || read.status != 0) saved.reset();
    }

    bool done = false;
    uint8_t status = kDriverFlashNotReached;
    for (int attempt = 0; attempt < kAttempts && !done; ++attempt) {
        Sent write = Send(firmware, kIoctlFlashWrite, *image, length, *password, request.passwordLength);
        PostFlashCall(firmware);
        if (!write.ok) {
            status = write.status != 0 ? write.status : kDriverFlashNotReached;
            if (status == kDriverFlashNotReached || status == kDriverFlashRejected) continue;
            break;  // any other status ends the flash
        }
        status = write.status;
        done = status == 0;
        if (!done || !request.readBack) continue;
        std::unique_ptr<SharedBuffer> readBack = Buffer(length);
        if (!readBack) continue;  // cannot be compared: the write's own success stands
        Sent read = Send(firmware, kIoctlFlashRead, *readBack, length, *password, request.passwordLength);
        if (!read.ok || read.status != 0) continue;
        done = DriverReadBackMatches(readBack->data(), image->data(), length);
    }
    if (done) return 0;
    if (status == kDriverFlashNoRetry) return status;
    // Not written. Without a saved copy (the ROM could not be read first: a wrong password, an image of
    // another size than the part) the last attempt's status stands, as long as it is a failure.
    if (!saved) return status != 0 ? status : kDriverFlashRejected;
    // With one, the saved contents go back, or the status says that they could not.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Sent write = Send(firmware, kIoctlFlashWrite, *saved, length, *password, request.passwordLength);
        PostFlashCall(firmware);
        if (write.ok && write.status == 0) return kDriverFlashRestored;
        if (write.ok || (write.status != 0 && write.status != kDriverFlashRejected)) break;
    }
    // A write-back that failed may still have left the saved contents (a block that never takes a write keeps
    // what it had): the ROM is read to tell.
    std::unique_ptr<SharedBuffer> now = Buffer(length);
    if (!now) return kDriverFlashRejected;
    Sent read = Send(firmware, kIoctlFlashRead, *now, length, *password, request.passwordLength);
    bool restored = read.ok && read.status == 0 && std::memcmp(now->data(), saved->data(), length) == 0;
    return restored ? kDriverFlashRestored : kDriverFlashRejected;
}

}  // namespace zmrmc
