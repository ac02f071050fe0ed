#include "InstanceNameTable.h"

#include <cstring>
#include <cwchar>

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" into the UUID's fields.
bool ParseUuid(const std::wstring& text, UUID* uuid) {
    static const size_t kGroups[] = {8, 4, 4, 4, 12};
    if (text.size() != 36) return false;
    uint8_t bytes[16];
    size_t at = 0;
    size_t filled = 0;
    for (size_t group = 0; group < 5; ++group) {
        if (group > 0 && text[at++] != L'-') return false;
        for (size_t i = 0; i < kGroups[group]; i += 2) {
            int high = HexDigit(text[at]), low = HexDigit(text[at + 1]);
            if (high < 0 || low < 0) return false;
            bytes[filled++] = static_cast<uint8_t>(high << 4 | low);
            at += 2;
        }
    }
    uuid->Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
                  static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
    uuid->Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
    uuid->Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
    std::memcpy(uuid->Data4, bytes + 8, 8);
    return true;
}

}  // namespace

InstanceNameTable::Key InstanceNameTable::KeyOf(const UUID& uuid) {
    Key key;
    key.high = static_cast<uint64_t>(uuid.Data1) << 32 | static_cast<uint64_t>(uuid.Data2) << 16 | uuid.Data3;
    std::memcpy(&key.low, uuid.Data4, sizeof key.low);
    return key;
}

void InstanceNameTable::Add(const UUID& uuid, const std::wstring& settingName) {
    auto [number, added] = name_numbers_.try_emplace(settingName, static_cast<uint32_t>(names_.size()));
    if (added) names_.push_back(settingName);
    entries_.insert_or_assign(KeyOf(uuid), number->second);
}

const std::wstring* InstanceNameTable::Find(const std::wstring& instanceName) const {
    UUID uuid{};
    if (!ParseUuid(instanceName, &uuid)) return nullptr;
    auto entry = entries_.find(KeyOf(uuid));
    return entry != entries_.end() ? &names_[entry->second] : nullptr;
}

void InstanceNameTable::Clear() {
    entries_.clear();
    names_.clear();
    name_numbers_.clear();
}

std::wstring InstanceNameTable::Text(const UUID& uuid) {
    wchar_t text[40];
    std::swprintf(text, sizeof text / sizeof text[0], L"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned>(uuid.Data1), uuid.Data2, uuid.Data3, uuid.Data4[0], uuid.Data4[1],
                  uuid.Data4[2], uuid.Data4[3], uuid.Data4[4], uuid.Data4[5], uuid.Data4[6], uuid.Data4[7]);
    return text;
}
