// The four library-wide objects: created once per process by ZmrMCInit, destroyed when the library unloads.
#pragma once

#include "firmware_access.h"
#include "rom_flasher.h"
#include "settings_model.h"
#include "system_detection.h"

#include <memory>
#include <mutex>

namespace zmrmc {

class Library {
public:
    static Library& Instance();

    // Creates what is still missing; true when all four objects exist and the firmware can be reached.
    bool Init(bool open_existing, bool install_driver);

    // The objects; null before ZmrMCInit created them.
    FirmwareAccess* Firmware() const { return firmware_.get(); }
    SystemDetection* Detection() const { return detection_.get(); }
    RomFlasher* Flash() const { return flash_.get(); }
    // The settings model exists from the first use on, so that its exports are safe before ZmrMCInit.
    SettingsModel& Settings();

private:
    Library() = default;
    std::mutex init_mutex_;
    std::unique_ptr<FirmwareAccess> firmware_;
    std::unique_ptr<SystemDetection> detection_;
    std::unique_ptr<RomFlasher> flash_;
    std::unique_ptr<SettingsModel> settings_;
    std::once_flag settings_once_;
};

}  // namespace zmrmc
