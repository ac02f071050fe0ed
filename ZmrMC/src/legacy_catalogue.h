// The legacy catalogue: the English string table of the imitated settings, the system identifiers of the
// legacy models, and the catalogue objects in list order.
#pragma once

#include "boot_devices.h"
#include "firmware_calls.h"
#include "legacy_sys_obj.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zmrmc {

// The 87 texts of the English string table (IDs 0 to 86); ID 87 and above name no text.
constexpr uint16_t kLegacyTextCount = 87;
const char* LegacyText(uint16_t id);  // null for an ID of 87 or above

// Whether a 16-bit system identifier belongs to a model of the legacy catalogue.
bool IsLegacySystemId(uint16_t system_id);

// Every catalogue object, in list order (unprobed). `boot` serves "BootOrder" and must outlive the objects.
std::vector<std::unique_ptr<LegacySysObj>> CreateLegacyCatalogue(FirmwareCalls& firmware, BootDevices& boot);

}  // namespace zmrmc
