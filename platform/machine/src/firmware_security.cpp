// The firmware's security settings: the E842h security bits and the security settings command of request
// 0x8000241B.
//
// The command is a list of items, each a type byte, a zero byte, a length byte and that many bytes, ended by
// the two bytes CFh 00h:
//   FCh  the setup password: its scan codes and a terminating NUL (checked when a setup password is set);
//   0Dh  the asset tag: 17 bytes, the tag's length (at most 16) and 16 characters, zero-padded.
// A command that is malformed, names an unknown item or holds a tag that does not fit is refused with 89h and
// changes nothing; a wrong password with 87h.

#include "simulated_firmware.h"

#include <cstring>

namespace qv::machine {
namespace {

constexpr uint8_t kItemPassword = 0xFC, kItemAssetTag = 0x0D, kEndMark = 0xCF;
constexpr size_t kAssetTagItem = 17, kAssetTagLength = 16;
constexpr const char* kAssetTagObject = "Asset Tracking Number";
constexpr uint16_t kAssetTagString = 0x25;

}  // namespace

uint8_t SimulatedFirmware::WriteSecurityBits(uint32_t bits, uint32_t mask, const Bytes& password) {
    if (PasswordSet(kSetupPassword) && !PasswordIs(kSetupPassword, password)) return kWrongPassword;
    if (mask == 0 || (mask & ~profile_.securitySupported) != 0) return kUnsupported;
    uint32_t state = state_.value("security", 0u);
    Set("security", (state & ~mask) | (bits & mask));
    return kOk;
}

// The asset tag is one value of the firmware: its E845h string and, on firmware that lists it, the system
// object of that name.
uint8_t SimulatedFirmware::WriteAssetTag(const std::string& tag) {
    for (size_t i = 0; i < profile_.objects.size(); ++i) {
        const ObjectDef& o = profile_.objects[i];
        if (o.name != kAssetTagObject || o.type != ObjectType::Text) continue;
        if (tag.size() > o.maxLength) return kInvalidValue;
        Json objects = state_["objects"];
        objects[std::to_string(profile_.languages.size() + i)] = tag;
        Set("objects", objects);
    }
    Json strings = state_["strings"];
    strings[std::to_string(kAssetTagString)] = tag;
    Set("strings", strings);
    return kOk;
}

uint8_t SimulatedFirmware::SecuritySettings(const Bytes& command, CallOutcome& outcome) {
    Injected fault = Inject("security");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (!profile_.e845 && !profile_.e842) return kUnsupported;
    Bytes password;
    std::optional<std::string> tag;
    bool ended = false;
    for (size_t at = 0; !ended;) {
        if (at + 2 > command.size()) return kInvalidValue;
        uint8_t type = command[at];
        if (type == kEndMark && command[at + 1] == 0) {
            ended = true;
            break;
        }
        if (at + 3 > command.size() || command[at + 1] != 0) return kInvalidValue;
        size_t length = command[at + 2];
        if (at + 3 + length > command.size()) return kInvalidValue;
        const uint8_t* item = command.data() + at + 3;
        if (type == kItemPassword) {
            password.assign(item, item + length);
        } else if (type == kItemAssetTag) {
            if (length != kAssetTagItem || item[0] > kAssetTagLength) return kInvalidValue;
            tag = std::string(reinterpret_cast<const char*>(item + 1), item[0]);
        } else {
            return kInvalidValue;
        }
        at += 3 + length;
    }
    bool allowed = !PasswordSet(kSetupPassword) || PasswordIs(kSetupPassword, password);
    std::fill(password.begin(), password.end(), 0);
    if (!allowed) return kWrongPassword;
    if (tag) return WriteAssetTag(*tag);
    return kOk;
}

}  // namespace qv::machine
