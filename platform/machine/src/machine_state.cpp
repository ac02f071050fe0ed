// Reading, checking and writing the machine's state.

#include "machine_state.h"

#include "qv_code_page.h"

#include <algorithm>
#include <cstdint>

namespace qv::machine {
namespace {

// Every text of `j`, UTF-8, becomes Windows-1252 bytes (`toFirmware`), or back.
void ConvertTexts(Json& j, bool toFirmware, const std::string& field) {
    if (j.is_string()) {
        if (!toFirmware) {
            j = Windows1252ToUtf8(j.get<std::string>());
            return;
        }
        char32_t refused = 0;
        std::optional<std::string> bytes = Utf8ToWindows1252(j.get<std::string>(), &refused);
        if (!bytes) Fault(field, "character " + DescribeCharacter(refused) + " has no Windows-1252 byte");
        j = *bytes;
    } else if (j.is_object()) {
        for (auto& [key, value] : j.items()) ConvertTexts(value, toFirmware, field.empty() ? key : field + "." + key);
    } else if (j.is_array()) {
        for (size_t i = 0; i < j.size(); ++i) ConvertTexts(j[i], toFirmware, field + "[" + std::to_string(i) + "]");
    }
}

const Json& Member(const Json& state, const char* key, bool (Json::*kind)() const, const char* what) {
    if (!state.contains(key)) Fault(key, "is missing");
    const Json& member = state.at(key);
    if (!(member.*kind)()) Fault(key, std::string("must be ") + what);
    return member;
}

void CheckText(const Json& j, const std::string& field, size_t max) {
    if (!j.is_string()) Fault(field, "must be a text");
    if (j.get<std::string>().size() > max) Fault(field, "longer than " + std::to_string(max) + " characters");
}

void CheckHex(const Json& j, const std::string& field, size_t maxBytes) {
    if (!j.is_string()) Fault(field, "must be hexadecimal bytes");
    try {
        if (HexBytes(j.get<std::string>()).size() > maxBytes)
            Fault(field, "more than " + std::to_string(maxBytes) + " bytes");
    } catch (const std::runtime_error& e) {
        Fault(field, e.what());
    }
}

void CheckObjectValue(const ObjectDef& o, const Json& v, const std::string& field) {
    switch (o.type) {
    case ObjectType::Enum:
    case ObjectType::KeyedEnum:
        if (!v.is_number()) Fault(field, "must be a number");
        if (Number(v, field, 0xFFFF) >= o.choices.size())
            Fault(field, "names no choice (there are " + std::to_string(o.choices.size()) + ")");
        break;
    case ObjectType::Integer:
    case ObjectType::KeyedInteger: {
        if (!v.is_number()) Fault(field, "must be a number");
        uint64_t n = Number(v, field, 0xFFFFFFFF);
        if (n < o.low || n > o.high) Fault(field, "is outside low..high of the profile");
        break;
    }
    case ObjectType::OrderedList: {
        if (!v.is_array() || v.size() != o.choices.size())
            Fault(field, "must list each of the " + std::to_string(o.choices.size()) + " items once");
        std::vector<bool> seen(o.choices.size(), false);
        for (size_t i = 0; i < v.size(); ++i) {
            std::string at = field + "[" + std::to_string(i) + "]";
            if (!v[i].is_number()) Fault(at, "must be a number");
            uint64_t item = Number(v[i], at, o.choices.size() - 1);
            if (seen[item]) Fault(at, "lists an item twice");
            seen[item] = true;
        }
        break;
    }
    case ObjectType::Binary: CheckHex(v, field, ObjectValueSize(o) - 2); break;
    default: CheckText(v, field, o.maxLength); break;
    }
}

void CheckFields(const Json& state, const Profile& p) {
    for (const auto& [key, value] : Member(state, "e845", &Json::is_object, "an object").items()) {
        Number(key, "e845." + key, 0xFFFF);
        if (!value.is_number()) Fault("e845." + key, "must be a number");
        Number(value, "e845." + key, 255);
    }
    for (const auto& [key, value] : Member(state, "strings", &Json::is_object, "an object").items()) {
        Number(key, "strings." + key, 0xFFFF);
        CheckText(value, "strings." + key, kLongestE845String);
    }
    const Json& objects = Member(state, "objects", &Json::is_object, "an object");
    size_t first = p.systemObjects ? p.languages.size() : 0;
    for (size_t i = 0; i < p.objects.size(); ++i) {
        std::string key = std::to_string(first + i), field = "objects." + key;
        if (!objects.contains(key)) Fault(field, "is missing (object " + p.objects[i].name + ")");
        CheckObjectValue(p.objects[i], objects.at(key), field);
    }
    const Json& priority = Member(state, "ipl_priority", &Json::is_array, "a list");
    if (priority.size() > std::max<size_t>(p.ipl.size(), 1)) Fault("ipl_priority", "more entries than boot devices");
    for (size_t i = 0; i < priority.size(); ++i) {
        std::string field = "ipl_priority[" + std::to_string(i) + "]";
        if (!priority[i].is_number()) Fault(field, "must be a number");
        Number(priority[i], field, 255);
    }
    for (const char* number : {"pxe", "security"}) {
        if (!state.contains(number)) continue;
        if (!state.at(number).is_number()) Fault(number, "must be a number");
        Number(state.at(number), number, std::string(number) == "pxe" ? 255 : 0xFFFFFFFF);
    }
    if (state.contains("unlocked") && !state.at("unlocked").is_boolean()) Fault("unlocked", "must be true or false");
    // Passwords are never read back, so only their form matters (the firmware decides their length).
    for (const char* password : {"setup_password", "power_on_password"})
        if (state.contains(password)) CheckHex(state.at(password), password, SIZE_MAX);
    if (state.contains("fault_counts")) {
        const Json& counts = Member(state, "fault_counts", &Json::is_array, "a list");
        for (size_t i = 0; i < counts.size(); ++i) {
            std::string field = "fault_counts[" + std::to_string(i) + "]";
            if (!counts[i].is_number()) Fault(field, "must be a number");
            Number(counts[i], field, 0xFFFFFFFF);
        }
    }
}

}  // namespace

Json ParseState(const std::string& text, const Profile& profile) {
    Json state;
    try {
        state = Json::parse(text);
    } catch (const Json::exception& e) {
        Fault("", std::string("not valid JSON: ") + e.what());
    }
    if (!state.is_object()) Fault("", "must be a JSON object");
    ConvertTexts(state, true, "");
    CheckFields(state, profile);
    return state;
}

std::string StateText(const Json& state) {
    Json text = state;
    ConvertTexts(text, false, "");
    return text.dump(1);
}

}  // namespace qv::machine
