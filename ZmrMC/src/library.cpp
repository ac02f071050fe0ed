#include "library.h"

#include "smbios_instrumentation.h"

#include <new>

namespace zmrmc {

Library& Library::Instance() {
    static Library library;
    return library;
}

SettingsModel& Library::Settings() {
    std::call_once(settings_once_, [this] { settings_ = std::make_unique<SettingsModel>(); });
    return *settings_;
}

bool Library::Init(bool open_existing, bool install_driver) {
    std::lock_guard hold(init_mutex_);
    bool created = true;
    // A failed creation leaves the objects already made in place; a later call tries the rest again.
    try {
        if (!firmware_) {
            firmware_ = std::make_unique<FirmwareAccess>(ReadRawSmbiosTables);
            firmware_->Open(open_existing, install_driver);
        }
    } catch (const std::bad_alloc&) {
        created = false;
    }
    try {
        if (!detection_ && firmware_) detection_ = std::make_unique<SystemDetection>(*firmware_);
    } catch (const std::bad_alloc&) {
        created = false;
    }
    try {
        if (!flash_ && firmware_) flash_ = std::make_unique<RomFlasher>(*firmware_);
    } catch (const std::bad_alloc&) {
        created = false;
    }
    try {
        Settings();
    } catch (const std::bad_alloc&) {
        created = false;
    }
    return created && firmware_ && detection_ && flash_ && firmware_->Reachable();
}

}  // namespace zmrmc
