// INT 15h functions of the simulated firmware: E845h settings and strings, E842h secure interface, E841h
// defaults, E819h serial number, E822h post-flash call.

#include "int15_answer.h"
#include "machine_store.h"
#include "simulated_firmware.h"

#include <algorithm>
#include <cstring>

namespace qv::machine {
namespace {

constexpr uint16_t kAssetTag = 0x25, kOwnership = 0x13, kPasswordChange = 0x11, kFirstBoot = 0x63, kProductName = 0x44,
                   kPxe = 0x71;

uint8_t BL(const Registers& r) { return static_cast<uint8_t>(r.ebx); }
uint8_t BH(const Registers& r) { return static_cast<uint8_t>(r.ebx >> 8); }

// The data a call points at: the data area of a 32-bit call, or real-mode memory at segment:DI.
class Pointer {
public:
    Pointer(Bytes* data, RealModeMemory& memory, uint32_t linear) : data_(data), memory_(memory), linear_(linear) {}
    bool Read(size_t offset, void* out, size_t size) const {
        if (size == 0) return true;
        if (data_ != nullptr) {
            if (offset + size > data_->size()) return false;
            std::memcpy(out, data_->data() + offset, size);
            return true;
        }
        return memory_.Read(linear_ + static_cast<uint32_t>(offset), out, size);
    }
    bool Write(size_t offset, const void* in, size_t size) {
        if (size == 0) return true;
        if (data_ != nullptr) {
            if (offset + size > data_->size()) return false;
            std::memcpy(data_->data() + offset, in, size);
            return true;
        }
        return memory_.Write(linear_ + static_cast<uint32_t>(offset), in, size);
    }
    // Bytes up to a NUL, at most `max`, reading byte by byte so that a short area still yields its text.
    Bytes Text(size_t offset, size_t max) const {
        Bytes text;
        uint8_t c = 0;
        while (text.size() < max && Read(offset + text.size(), &c, 1) && c != 0) text.push_back(c);
        return text;
    }
    size_t Capacity(size_t fallback) const { return data_ != nullptr ? data_->size() : fallback; }

private:
    Bytes* data_;
    RealModeMemory& memory_;
    uint32_t linear_;
};

uint32_t SegmentPointer(const Registers& r, bool second = false) {
    uint16_t segment = static_cast<uint16_t>(second ? r.segments >> 16 : r.segments);
    return (static_cast<uint32_t>(segment) << 4) + static_cast<uint16_t>(r.edi);
}

}  // namespace

CallOutcome SimulatedFirmware::Int15(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit) {
    uint16_t ax = static_cast<uint16_t>(regs.eax);
    char kind[40];
    if (ax == 0xE845)
        std::snprintf(kind, sizeof kind, "int15.E845.%02X", static_cast<unsigned>(regs.ecx & 0xFFFF));
    else if (ax == 0xE842)
        std::snprintf(kind, sizeof kind, "int15.E842.%X", regs.eax >> 16);
    else
        std::snprintf(kind, sizeof kind, "int15.%04X", ax);
    Injected fault = Inject(kind);
    if (fault.fail) return {false};
    if (fault.status) {
        Answer(regs, *fault.status);
        return {};
    }
    if (thirtyTwoBit && (!profile_.int15ThirtyTwoBit || (ax == 0xE841 && !profile_.e841ThirtyTwoBit))) {
        Answer(regs, kUnsupported);
        return {};
    }
    switch (ax) {
    case 0xE845:
        if (profile_.e845)
            E845(regs, data, memory, thirtyTwoBit);
        else
            Answer(regs, kUnsupported);
        break;
    case 0xE842:
        if (profile_.e842)
            E842(regs, memory);
        else
            Answer(regs, kUnsupported);
        break;
    case 0xE841: E841(regs); break;
    case 0xE819: E819(regs, data, memory); break;
    case 0xE822: Answer(regs, profile_.e822 && BL(regs) == 5 ? kOk : kUnsupported); break;
    default: Answer(regs, kUnsupported); break;
    }
    return {};
}

void SimulatedFirmware::E845(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit) {
    uint16_t sub = static_cast<uint16_t>(regs.ecx);
    bool write = BL(regs) == 1;
    if (BL(regs) > 1) return Answer(regs, kUnsupported);
    Pointer at(data, memory, SegmentPointer(regs));
    std::string key = std::to_string(sub);

    if (sub == kPxe) {
        if (write)
            Set("pxe", BH(regs));
        else
            regs.ebx = (regs.ebx & 0xFFFF00FFu) | (static_cast<uint32_t>(state_.value("pxe", 0)) << 8);
        return Answer(regs, kOk);
    }
    if (sub == kPasswordChange) {
        if (!write) return Answer(regs, kUnsupported);
        // old password, 0x35 (the slash key), new password, NUL. Without a setup password the first separator
        // counts; with one, the first separator whose prefix is the password (the firmware keeps only a digest,
        // not the password's length).
        Bytes text = at.Text(0, at.Capacity(33));
        bool set = PasswordSet(kSetupPassword);
        size_t separator = text.size();
        for (size_t i = 0; i < text.size() && separator == text.size(); ++i)
            if (text[i] == 0x35 &&
                (!set || PasswordIs(kSetupPassword, Bytes(text.begin(), text.begin() + static_cast<long>(i)))))
                separator = i;
        uint8_t answer = kOk;
        if (separator == text.size()) {
            answer = set ? kWrongPassword : kBadPassword;
        } else {
            Bytes fresh(text.begin() + static_cast<long>(separator) + 1, text.end());
            if (separator + fresh.size() > 15)
                answer = kBadPassword;
            else
                StorePassword(kSetupPassword, fresh);
            std::fill(fresh.begin(), fresh.end(), 0);
        }
        std::fill(text.begin(), text.end(), 0);
        return Answer(regs, answer);
    }
    bool isString = sub == kAssetTag || sub == kOwnership || state_["strings"].contains(key);
    if (isString) {
        bool isTag = sub == kAssetTag || sub == kOwnership || sub == kFirstBoot;
        if (write && !isTag && Locked()) return Answer(regs, kLocked);
        std::string current = state_["strings"].value(key, "");
        if (sub == kAssetTag) {
            if (!write) {
                std::string tag = current.substr(0, 17);
                uint8_t length = static_cast<uint8_t>(tag.size());
                if (!at.Write(0, &length, 1) || !at.Write(1, tag.data(), tag.size()))
                    return Answer(regs, kInvalidValue);
                return Answer(regs, kOk);
            }
            std::string tag;
            if (thirtyTwoBit) {  // a length byte and the text
                uint8_t length = 0;
                if (!at.Read(0, &length, 1) || length > 16) return Answer(regs, kInvalidValue);
                tag.resize(length);
                if (!at.Read(1, tag.data(), length)) return Answer(regs, kInvalidValue);
            } else {  // the text, NUL-terminated
                Bytes text = at.Text(0, 64);
                tag.assign(text.begin(), text.end());
            }
            Json strings = state_["strings"];
            strings[key] = tag;
            Set("strings", strings);
            return Answer(regs, kOk);
        }
        size_t limit = sub == kOwnership ? 120 : sub == kFirstBoot ? 16 : sub == kProductName ? 120 : 257;
        if (!write) {
            size_t size = sub == kOwnership ? 80 : std::min<size_t>(at.Capacity(258), 258);
            std::string out = current.substr(0, size);
            out.resize(size, '\0');
            if (sub != kOwnership && !out.empty()) out.back() = '\0';
            if (!at.Write(0, out.data(), out.size())) return Answer(regs, kInvalidValue);
            return Answer(regs, kOk);
        }
        Bytes text = at.Text(0, limit);
        Json strings = state_["strings"];
        strings[key] = std::string(text.begin(), text.end());
        Set("strings", strings);
        return Answer(regs, kOk);
    }
    if (!state_["e845"].contains(key)) return Answer(regs, kUnsupported);
    if (!write) {
        regs.ebx = (regs.ebx & 0xFFFF00FFu) | (state_["e845"][key].get<uint32_t>() << 8);
        return Answer(regs, kOk);
    }
    if (Locked()) return Answer(regs, kLocked);
    Json settings = state_["e845"];
    settings[key] = BH(regs);
    Set("e845", settings);
    Answer(regs, kOk);
}

void SimulatedFirmware::E842(Registers& regs, RealModeMemory& memory) {
    uint16_t op = static_cast<uint16_t>(regs.eax >> 16);
    if (op != 0 && regs.edx != kSecureSignature) return Answer(regs, kUnsupported);
    auto password = [&](bool second) {
        uint32_t at = second ? SegmentPointer(regs, true) - static_cast<uint16_t>(regs.edi) + regs.esi
                             : SegmentPointer(regs);
        Bytes field(33, 0);
        if (!memory.Read(at, field.data(), field.size())) return Bytes{};
        field.resize(static_cast<size_t>(std::find(field.begin(), field.end(), 0) - field.begin()));
        return field;
    };
    bool setupSet = PasswordSet(kSetupPassword), powerOnSet = PasswordSet(kPowerOnPassword);
    switch (op) {
    case 0:  // query
        regs.edx = (profile_.powerOnFeature ? 1u << 5 : 0) | (profile_.longPasswords ? 1u << 8 : 0);
        regs.ecx = profile_.securitySupported | (powerOnSet ? 1u << 5 : 0);
        regs.ebx = state_.value("security", 0u);
        return Answer(regs, kOk);
    case 1:  // write security bits with the setup password
        return Answer(regs, WriteSecurityBits(regs.ebx, regs.ecx, password(false)));
    case 3: {  // short setup password in EBX and ECX, with its checksum in the low byte of ECX
        if (Locked()) return Answer(regs, kLocked);
        uint8_t chars[7] = {static_cast<uint8_t>(regs.ebx >> 24), static_cast<uint8_t>(regs.ebx >> 16),
                            static_cast<uint8_t>(regs.ebx >> 8),  static_cast<uint8_t>(regs.ebx),
                            static_cast<uint8_t>(regs.ecx >> 24), static_cast<uint8_t>(regs.ecx >> 16),
                            static_cast<uint8_t>(regs.ecx >> 8)};
        Bytes fresh;
        uint8_t sum = 0;
        for (uint8_t c : chars) {
            if (c == 0) break;
            fresh.push_back(c);
            sum = static_cast<uint8_t>(sum + c);
        }
        if (sum != static_cast<uint8_t>(regs.ecx)) return Answer(regs, kBadPassword);
        StorePassword(kSetupPassword, fresh);
        return Answer(regs, kOk);
    }
    case 6:      // set power-on password
    case 0xA: {  // change power-on password
        if (!profile_.powerOnFeature) return Answer(regs, kUnsupported);
        if (op == 6 && powerOnSet) return Answer(regs, kWrongPassword);
        if (op == 0xA && !PasswordIs(kPowerOnPassword, password(false))) return Answer(regs, kWrongPassword);
        StorePassword(kPowerOnPassword, password(op == 0xA));
        return Answer(regs, kOk);
    }
    case 7:      // set setup password
    case 0xB: {  // change setup password
        if (!profile_.longPasswords) return Answer(regs, kUnsupported);
        if (op == 7 && setupSet) return Answer(regs, kWrongPassword);
        if (op == 0xB && !PasswordIs(kSetupPassword, password(false))) return Answer(regs, kWrongPassword);
        StorePassword(kSetupPassword, password(op == 0xB));
        return Answer(regs, kOk);
    }
    case 8:  // verify power-on password
        return Answer(regs, powerOnSet && PasswordIs(kPowerOnPassword, password(false)) ? kOk : kWrongPassword);
    default: return Answer(regs, kUnsupported);
    }
}

void SimulatedFirmware::E841(Registers& regs) {
    if (!profile_.e841) return Answer(regs, kUnsupported);
    if (BH(regs) == 0) return Answer(regs, kOk);  // announce: the defaults are available
    if (BH(regs) != 1) return Answer(regs, kUnsupported);
    if (Locked()) return Answer(regs, kLocked);
    Json initial = InitialState(profile_);
    // The tags the owner gave the machine are no setup settings: they stay.
    for (size_t i = 0; i < profile_.objects.size(); ++i) {
        const std::string& name = profile_.objects[i].name;
        std::string key = std::to_string(profile_.languages.size() + i);
        if ((name == "Asset Tracking Number" || name == "Enter Ownership Tag") && state_["objects"].contains(key))
            initial["objects"][key] = state_["objects"][key];
    }
    for (const char* key : {"e845", "objects", "security", "ipl_priority"}) Set(key, initial[key]);
    Answer(regs, kOk);
}

void SimulatedFirmware::E819(Registers& regs, Bytes* data, RealModeMemory& memory) {
    if (!profile_.e819Serial) return Answer(regs, kUnsupported);
    Pointer at(data, memory, SegmentPointer(regs));
    std::string serial = profile_.e819Serial->substr(0, 17);
    uint8_t length = static_cast<uint8_t>(serial.size());
    if (!at.Write(0, &length, 1) || !at.Write(1, serial.data(), serial.size())) return Answer(regs, kInvalidValue);
    Answer(regs, kOk);
}

}  // namespace qv::machine
