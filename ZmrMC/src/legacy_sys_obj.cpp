#include "legacy_sys_obj.h"

#include <cstring>
#include <vector>

namespace zmrmc {

LegacySysObj::LegacySysObj(const char* internal_name, uint16_t name_id, uint16_t menu, uint16_t submenu, bool read_only,
                           FirmwareCalls& firmware)
    : firmware_(firmware),
      internal_name_(internal_name),
      name_id_(name_id),
      menu_(menu),
      submenu_(submenu),
      read_only_(read_only) {}

bool LegacySysObj::IsSupported() {
    if (support_known_) return supported_;
    if (probing_) return true;
    probing_ = true;
    std::vector<uint8_t> scratch(Size(), 0);
    supported_ = GetValue(scratch.data(), static_cast<uint32_t>(scratch.size()));
    probing_ = false;
    support_known_ = true;
    return supported_;
}

bool LegacySysObj::GetInfo(void* info, uint32_t length) {
    if (info == nullptr || length < 20 || !IsSupported()) return false;
    uint8_t block[20];
    uint16_t type = Type(), flags = read_only_ ? 2 : 0;
    uint32_t size = Size();
    std::memcpy(block, &type, 2);
    std::memcpy(block + 2, &flags, 2);
    std::memcpy(block + 4, &size, 4);
    uint16_t path[6] = {menu_, submenu_, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    std::memcpy(block + 8, path, sizeof path);
    std::memcpy(info, block, sizeof block);
    return true;
}

bool LegacySysObj::GetValue(void* buffer, uint32_t length) {
    uint32_t size = Size();
    if (buffer == nullptr || length < size) return false;
    auto* value = static_cast<uint8_t*>(buffer);
    std::memset(value, 0, length);
    std::memcpy(value, &name_id_, 2);
    return ReadPayload(value);
}

bool LegacySysObj::SetValue(const void* buffer, uint32_t length, const char* password, uint16_t password_length) {
    if (buffer == nullptr || length < 4) return false;
    uint16_t id;
    std::memcpy(&id, buffer, 2);
    if (id != name_id_) return false;
    return WritePayload(static_cast<const uint8_t*>(buffer), length, password, password_length);
}

}  // namespace zmrmc
