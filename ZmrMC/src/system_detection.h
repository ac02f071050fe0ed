// The detection and operating-system identity object: devices found by the last scan and the OS codes.
#pragma once

#include "ZmrMC.h"

#include <string>
#include <vector>

namespace zmrmc {

class FirmwareAccess;

class SystemDetection {
public:
    explicit SystemDetection(FirmwareAccess& firmware);

    // Scans PCI functions and Plug and Play device nodes: 0 when done, ZMRMC_E_DETECT when no driver is open
    // or a scan is already running.
    uint32_t Detect();
    int FoundCount() const { return static_cast<int>(found_.size()); }
    bool FoundAt(int index, ZmrMCFoundDevice* out) const;

    // OS codes fixed at initialisation; "" while unknown.
    const char* LanguageCode() const { return language_.c_str(); }
    const char* OsCode() const { return os_code_.c_str(); }
    const char* ServiceRelease() const { return service_release_.c_str(); }

private:
    FirmwareAccess& firmware_;
    std::vector<ZmrMCFoundDevice> found_;
    std::string language_;
    std::string os_code_;
    std::string service_release_;
};

}  // namespace zmrmc
