#include "system_detection.h"

#include "firmware_access.h"
#include "os_identity.h"

namespace zmrmc {

SystemDetection::SystemDetection(FirmwareAccess& firmware) : firmware_(firmware) {
    OsCodes codes = ComputeOsCodes(CurrentOsFacts());
    os_code_ = codes.os;
    language_ = codes.language;
    service_release_ = codes.serviceRelease;
}

uint32_t SystemDetection::Detect() {
    if (!firmware_.Reachable()) return ZMRMC_E_DETECT;
    // Without bus scanning in this build a reachable firmware yields no devices.
    found_.clear();
    return 0;
}

bool SystemDetection::FoundAt(int index, ZmrMCFoundDevice* out) const {
    if (out == nullptr || index < 0 || static_cast<size_t>(index) >= found_.size()) return false;
    *out = found_[static_cast<size_t>(index)];
    return true;
}

}  // namespace zmrmc
