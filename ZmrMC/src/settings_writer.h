// Writing the settings back to the firmware: every record marked changed (BiosSettingsWriteToSystem), and the
// firmware's factory defaults (BiosSetSystemDefaults).
#pragma once

#include "firmware_calls.h"
#include "settings_model.h"

namespace zmrmc {

// Under the model's lock: false when no read has completed; otherwise commits every record whose changed
// flag is set, in record order, clears each flag after its commit whatever it gave, and returns true.
bool WriteSettingsToSystem(SettingsModel& model, FirmwareCalls& firmware, const char* password);

// The firmware restores its factory defaults (E841h: announce with BH = 0, restore with BH = 1) through the
// 32-bit INT 15h call, or through the 16-bit call when the firmware has no 32-bit path. With a setup password
// set the system objects are unlocked with `password` first (a refused unlock stops before any call) and
// locked again after. The password is taken as a commit takes it: a tagged password as its scan codes. The
// result is the restoring call's. Takes no lock of the model; the records are not changed.
bool SetSystemDefaults(FirmwareCalls& firmware, const char* password);

}  // namespace zmrmc
