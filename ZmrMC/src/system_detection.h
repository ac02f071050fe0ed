// The detection and operating-system identity object: devices found by the last scan and the OS codes.
//
// The found devices are owned here and live until the next scan or until the library unloads.
#pragma once

#include "ZmrMC.h"
#include "driver_transport.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace zmrmc {

class FirmwareAccess;

// A found device, as ZmrMCGetFoundDeviceAtIndex hands it over.
struct FoundDevice {
    std::string identifier;  // Plug and Play: the EISA identifier text; PCI: empty
    uint32_t state = 0;      // PCI: 0 decoding, 1 no I/O or memory decoding, 2 enabled display controller
    uint32_t class_bit = 0;  // 1 << (base class % 32)
    uint32_t source = 0;     // 1 PCI function, 2 Plug and Play device node
    uint32_t device_id = 0xFFFFFFFF;
    uint32_t subsystem = 0;
    uint32_t reserved = 0;
    uint16_t class_detail = 0;  // interface, sub-class in the high byte
    uint16_t revision = 0;      // PCI: low word of configuration dword 8
};

// The EISA identifier text of a compressed identifier (two vendor bytes, two product bytes).
std::string EisaIdText(const uint8_t id[4]);

// A PCI function's found-device record from its configuration dwords 0, 4, 8, (12) and 44.
FoundDevice PciDevice(uint32_t id, uint32_t command, uint32_t classRevision, uint32_t subsystem);

class SystemDetection {
public:
    explicit SystemDetection(FirmwareAccess& firmware);
    ~SystemDetection();

    // Scans PCI functions and Plug and Play device nodes: 0 when done, ZMRMC_E_DETECT when no driver is open
    // or a scan is already running (the list is then left alone).
    uint32_t Detect();
    int FoundCount() const { return static_cast<int>(found_.size()); }
    bool FoundAt(int index, ZmrMCFoundDevice* out) const;

    // OS codes fixed at initialisation; "" while unknown.
    const char* LanguageCode() const { return language_.c_str(); }
    const char* OsCode() const { return os_code_.c_str(); }
    const char* ServiceRelease() const { return service_release_.c_str(); }

private:
    enum State { kNeverScanned, kScanning, kScanned };
    bool Keep(const FoundDevice& device);
    void ScanPci();
    void ScanPnp();

    FirmwareAccess& firmware_;
    std::atomic<int> state_{kNeverScanned};
    std::vector<FoundDevice> found_;
    uint32_t class_mask_ = 0xFFFFFFFF;  // classes to keep: all
    uint32_t class_found_ = 0;
    // The 8-byte conventional-memory scratch block, obtained once per process.
    std::unique_ptr<SharedBuffer> scratch_;
    uint16_t scratch_segment_ = 0;
    bool scratch_tried_ = false;
    std::string language_;
    std::string os_code_;
    std::string service_release_;
};

}  // namespace zmrmc
