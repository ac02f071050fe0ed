// Native system objects of the simulated firmware: the string tables first (one per language, in profile
// order), then the profile's objects. Values are encoded as the object's name ID followed by its payload.
// An ordered list's items may each be disabled: the item then shows as its text followed by " Disabled". The
// password objects "Setup Password" and "Power-On Password" show the digest the firmware keeps of the password
// (40 hexadecimal characters) when their length allows it, an empty text without a password.

#include "simulated_firmware.h"

#include "byte_fields.h"

#include <algorithm>
#include <cstring>

namespace qv::machine {

std::string ListItemText(const ObjectDef& o, size_t entry) {
    size_t count = o.choices.size();
    return entry < count ? o.choices[entry] : o.choices[entry - count] + " Disabled";
}

const char* PasswordKeyOf(const ObjectDef& o) {
    if (o.name == "Setup Password") return kSetupPassword;
    if (o.name == "Power-On Password") return kPowerOnPassword;
    return nullptr;
}

size_t SimulatedFirmware::ObjectCount() const {
    return profile_.systemObjects ? profile_.languages.size() + profile_.objects.size() : 0;
}

uint32_t SimulatedFirmware::ObjectSize(uint16_t index) const {
    if (index < profile_.languages.size()) return static_cast<uint32_t>(catalogue_.tables[index].size());
    return static_cast<uint32_t>(ObjectValueSize(profile_.objects[index - profile_.languages.size()]));
}

Bytes SimulatedFirmware::EncodeObject(uint16_t index) const {
    if (index < profile_.languages.size()) return catalogue_.tables[index];
    const ObjectDef& o = profile_.objects[index - profile_.languages.size()];
    const Json& v = state_["objects"][std::to_string(index)];
    Bytes b;
    const uint32_t size = ObjectSize(index);
    b.reserve(size);
    PutU16(b, catalogue_.Id(o.name));
    auto key = [&] {
        for (size_t i = 0; i < 4; ++i) PutU16(b, i < o.key.size() ? catalogue_.Id(o.key[i]) : 0xFFFF);
    };
    auto choices = [&] {
        for (const auto& c : o.choices) PutU16(b, catalogue_.Id(c));
        PutU16(b, 0xFFFF);
    };
    switch (o.type) {
    case ObjectType::Enum:
        PutU16(b, v.get<uint16_t>());
        choices();
        break;
    case ObjectType::KeyedEnum:
        PutU16(b, v.get<uint16_t>());
        key();
        choices();
        break;
    case ObjectType::OrderedList:
        for (const auto& item : v) PutU16(b, catalogue_.Id(ListItemText(o, item.get<size_t>())));
        PutU16(b, 0xFFFF);
        break;
    case ObjectType::Integer:
    case ObjectType::KeyedInteger:
        PutU32(b, o.low);
        PutU32(b, o.high);
        PutU32(b, v.get<uint32_t>());
        if (o.type == ObjectType::KeyedInteger) key();
        break;
    case ObjectType::Binary: {
        Bytes raw = HexBytes(v.get<std::string>());
        b.insert(b.end(), raw.begin(), raw.end());
        break;
    }
    case ObjectType::Password: {  // never the password: the digest the firmware keeps of it, when it fits
        const char* which = PasswordKeyOf(o);
        std::string digest = which != nullptr ? PasswordDigestText(which) : std::string();
        if (digest.size() <= o.maxLength) b.insert(b.end(), digest.begin(), digest.end());
        break;
    }
    default: {
        std::string text = v.get<std::string>();
        b.insert(b.end(), text.begin(), text.end());
        break;
    }
    }
    b.resize(size, 0);
    return b;
}

uint8_t SimulatedFirmware::ObjectListSize(uint32_t& size, CallOutcome& outcome) {
    Injected fault = Inject("object.listsize");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (ObjectCount() == 0) return kUnsupported;
    size = static_cast<uint32_t>(4 + 8 * ObjectCount());
    return kOk;
}

uint8_t SimulatedFirmware::ObjectList(Bytes& out, CallOutcome& outcome) {
    Injected fault = Inject("object.list");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (ObjectCount() == 0) return kUnsupported;
    out.clear();
    PutU16(out, static_cast<uint16_t>(ObjectCount()));
    PutU16(out, 0);
    for (uint16_t i = 0; i < ObjectCount(); ++i) {
        PutU16(out, i);
        PutU16(out, i < profile_.languages.size()
                        ? 5
                        : static_cast<uint16_t>(profile_.objects[i - profile_.languages.size()].type));
        PutU16(out, static_cast<uint16_t>(ObjectSize(i)));
        PutU16(out, 0);
    }
    return kOk;
}

uint8_t SimulatedFirmware::ObjectInfo(uint16_t index, Bytes& out, CallOutcome& outcome) {
    Injected fault = Inject("object.info");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (index >= ObjectCount()) return kBadObject;
    out.clear();
    out.reserve(20);
    uint16_t path[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    if (index < profile_.languages.size()) {
        PutU16(out, 5);
        PutU16(out, 2);
    } else {
        const ObjectDef& o = profile_.objects[index - profile_.languages.size()];
        PutU16(out, static_cast<uint16_t>(o.type));
        PutU16(out, static_cast<uint16_t>(o.flags | (o.readOnly ? 2 : 0)));
        for (size_t i = 0; i < o.path.size(); ++i) path[i] = catalogue_.Id(o.path[i]);
    }
    PutU32(out, ObjectSize(index));
    for (uint16_t p : path) PutU16(out, p);
    return kOk;
}

uint8_t SimulatedFirmware::ObjectValue(uint16_t index, Bytes& out, CallOutcome& outcome) {
    Injected fault = Inject("object.value");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (index >= ObjectCount()) return kBadObject;
    out = EncodeObject(index);
    return kOk;
}

uint8_t SimulatedFirmware::SetObjectValue(uint16_t index, const Bytes& value, CallOutcome& outcome) {
    Injected fault = Inject("object.set");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (index >= ObjectCount()) return kBadObject;
    if (index < profile_.languages.size()) return kUnsupported;
    const ObjectDef& o = profile_.objects[index - profile_.languages.size()];
    if (o.readOnly || o.type == ObjectType::Password) return kUnsupported;
    if (Locked()) return kLocked;
    uint32_t size = ObjectSize(index);
    if (value.size() < 4 || U16(value, 0) != catalogue_.Id(o.name)) return kInvalidValue;
    Bytes v(value.begin(), value.begin() + std::min<size_t>(value.size(), size));
    v.resize(size, 0);
    Json stored;
    auto keyMatches = [&](size_t at) {
        for (size_t i = 0; i < 4; ++i)
            if (U16(v, at + 2 * i) != (i < o.key.size() ? catalogue_.Id(o.key[i]) : 0xFFFF)) return false;
        return true;
    };
    switch (o.type) {
    case ObjectType::Enum:
    case ObjectType::KeyedEnum:
        if (U16(v, 2) >= o.choices.size()) return kInvalidValue;
        if (o.type == ObjectType::KeyedEnum && !keyMatches(4)) return kInvalidValue;
        stored = U16(v, 2);
        break;
    case ObjectType::Integer:
    case ObjectType::KeyedInteger: {
        uint32_t n = U32(v, 10);
        if (n < o.low || n > o.high) return kInvalidValue;
        if (o.type == ObjectType::KeyedInteger && !keyMatches(14)) return kInvalidValue;
        stored = n;
        break;
    }
    case ObjectType::OrderedList: {
        // Every item once, each in its own spelling or disabled (stored as item + item count).
        Json order = Json::array();
        size_t count = o.choices.size();
        std::vector<bool> seen(count, false);
        for (size_t at = 2; at + 1 < v.size(); at += 2) {
            uint16_t id = U16(v, at);
            if (id == 0xFFFF) break;
            size_t entry = 2 * count;
            for (size_t k = 0; k < 2 * count && entry == 2 * count; ++k)
                if (catalogue_.Id(ListItemText(o, k)) == id) entry = k;
            if (entry == 2 * count || seen[entry % count]) return kInvalidValue;
            seen[entry % count] = true;
            order.push_back(entry);
        }
        if (order.size() != count) return kInvalidValue;
        stored = order;
        break;
    }
    case ObjectType::Binary: stored = HexText(Bytes(v.begin() + 2, v.end())); break;
    default: {  // texts: blank-padded fields, kept without their trailing blanks
        auto end = std::find(v.begin() + 2, v.end(), 0);
        while (end != v.begin() + 2 && *(end - 1) == ' ') --end;
        if (static_cast<size_t>(end - v.begin() - 2) > o.maxLength) return kInvalidValue;
        stored = std::string(v.begin() + 2, end);
        break;
    }
    }
    Json objects = state_["objects"];
    objects[std::to_string(index)] = stored;
    Set("objects", objects);
    return kOk;
}

}  // namespace qv::machine
