// Passwords reach the firmware as keyboard scan codes (set 1 make codes, bit 7 for a shifted key). The kernel's
// firmware-attributes class takes them as text: the keys' characters on the US English layout.
#pragma once

#include "qv_firmware.h"

#include <optional>
#include <string>

namespace qv::machine {

// The text the keys type, up to the first NUL; nothing when a byte is no printable key's scan code.
std::optional<std::string> ScanCodesToText(const Bytes& codes);

}  // namespace qv::machine
