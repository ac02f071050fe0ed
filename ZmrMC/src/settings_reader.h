// Reading every setting from the firmware into the settings model (BiosSettingsReadFromSystem).
#pragma once

#include "firmware_calls.h"
#include "settings_model.h"

namespace zmrmc {

// Under the model's lock: when a reference is held, takes another and returns false with the records
// untouched. Otherwise replaces the records with one per system object of the object-list reader (unlocking
// the system objects with `password` around the read when a setup password is set, and locking them again on
// every path), then attaches the prerequisites. False when the object list cannot be read.
bool ReadSettingsFromSystem(SettingsModel& model, FirmwareCalls& firmware, const char* password);

// Whether the firmware's read-only flag is ignored for a setting of this name (compared ignoring case).
bool IsWritableSettingName(const char* name);

}  // namespace zmrmc
