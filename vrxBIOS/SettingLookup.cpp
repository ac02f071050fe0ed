#include "SettingLookup.h"

#include <cstring>
#include <string>

namespace {
constexpr size_t kMaxPart = 99;
constexpr size_t kKeyParts = 4;

bool IdentifierOf(LibraryBinding& library, const std::string& text, uint16_t* id) {
    if (text.size() > kMaxPart) return false;
    return library.FindIDFromString(id, text.c_str()) != 0;
}
}  // namespace

SRI* FindSettingRecord(LibraryBinding& library, const char* name) {
    if (name == nullptr) return nullptr;
    uint16_t key[kKeyParts] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    std::string full(name);
    size_t last = full.rfind('\\');
    std::string own = last == std::string::npos ? full : full.substr(last + 1);
    if (last != std::string::npos) {
        size_t part = 0;
        size_t start = 0;
        for (;;) {
            size_t end = full.find('\\', start);
            if (part == kKeyParts) return nullptr;
            if (!IdentifierOf(library, full.substr(start, end - start), &key[part++])) return nullptr;
            if (end == last) break;
            start = end + 1;
        }
    }
    uint16_t nameId = 0;
    if (!IdentifierOf(library, own, &nameId)) return nullptr;
    return library.FindSRI(nameId, key);
}
