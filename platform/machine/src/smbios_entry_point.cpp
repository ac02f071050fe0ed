#include "smbios_entry_point.h"

#include <algorithm>
#include <cstring>

namespace qv::machine {

Bytes SmbiosEntryPoint(const SmbiosTableShape& t) {
    uint8_t ep[31] = {'_', 'S', 'M', '_', 0, 0x1F, t.major, t.minor};
    ep[8] = static_cast<uint8_t>(t.largest);
    ep[9] = static_cast<uint8_t>(t.largest >> 8);
    std::memcpy(ep + 16, "_DMI_", 5);
    ep[22] = static_cast<uint8_t>(t.length);
    ep[23] = static_cast<uint8_t>(t.length >> 8);
    std::memcpy(ep + 24, &t.address, 4);
    ep[28] = static_cast<uint8_t>(t.count);
    ep[29] = static_cast<uint8_t>(t.count >> 8);
    // The BCD revision has a nibble per part.
    ep[30] = static_cast<uint8_t>((std::min<uint8_t>(t.major, 15) << 4) | (t.minor & 15));
    uint8_t sum = 0;
    for (int i = 16; i < 31; ++i) sum = static_cast<uint8_t>(sum + ep[i]);
    ep[21] = static_cast<uint8_t>(-sum);
    sum = 0;
    for (int i = 0; i < 31; ++i) sum = static_cast<uint8_t>(sum + ep[i]);
    ep[4] = static_cast<uint8_t>(-sum);
    return Bytes(ep, ep + 31);
}

}  // namespace qv::machine
