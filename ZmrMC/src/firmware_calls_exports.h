// The settings model's firmware interface answered by the library's own exports.
#pragma once

#include "firmware_calls.h"

namespace zmrmc {

// The one instance; lives as long as the library.
FirmwareCalls& ExportFirmwareCalls();

}  // namespace zmrmc
