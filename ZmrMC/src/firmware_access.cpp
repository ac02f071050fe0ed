#include "firmware_access.h"

namespace zmrmc {

FirmwareAccess::FirmwareAccess() = default;
FirmwareAccess::~FirmwareAccess() = default;

void FirmwareAccess::Open(bool /*open_existing*/, bool /*install_driver*/) {
    // This build carries no transport yet: the firmware stays unreachable.
    driver_open_ = false;
}

bool FirmwareAccess::Reachable() const { return driver_open_; }

bool FirmwareAccess::CallInt15(ZmrMCRegisterBlock*, int, unsigned char* status) {
    if (status != nullptr) *status = ZMRMC_STATUS_NOT_REACHED;
    return false;
}

bool FirmwareAccess::CallInterrupt(int, ZmrMCRegisterBlock*, int, unsigned char* status) {
    if (status != nullptr) *status = ZMRMC_STATUS_NOT_REACHED;
    return false;
}

}  // namespace zmrmc
