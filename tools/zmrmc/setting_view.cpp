#include "setting_view.h"

#include "text.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kUnused = 0xFFFF;

const char* TypeName(uint16_t type) {
    switch (type) {
    case SRI_TYPE_ENUM: return "enum";
    case SRI_TYPE_TEXT: return "alpha";
    case SRI_TYPE_BINARY: return "binary";
    case SRI_TYPE_INTEGER: return "int";
    case SRI_TYPE_PASSWORD: return "password";
    case SRI_TYPE_STRING_TABLE: return "strings";
    case SRI_TYPE_DATE: return "date";
    case SRI_TYPE_TIME: return "time";
    case SRI_TYPE_ORDERED_LIST: return "orderedlist";
    case SRI_TYPE_KEYED_ENUM: return "ext_enum";
    case SRI_TYPE_KEYED_INTEGER: return "ext_int";
    default: return "unknown";
    }
}

bool IsEnumeration(uint16_t type) { return type == SRI_TYPE_ENUM || type == SRI_TYPE_KEYED_ENUM; }
bool IsInteger(uint16_t type) { return type == SRI_TYPE_INTEGER || type == SRI_TYPE_KEYED_INTEGER; }
bool IsText(uint16_t type) {
    return type == SRI_TYPE_TEXT || type == SRI_TYPE_PASSWORD || type == SRI_TYPE_DATE || type == SRI_TYPE_TIME;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
    return out;
}

}  // namespace

SettingView ViewOf(ZmrmcLibrary& library, const SRI* record) {
    SRI sri;
    std::memcpy(&sri, record, sizeof sri);
    auto text_of = [&](uint16_t id) { return Utf8FromAnsi(library.Text(id, nullptr)); };
    SettingView view;
    view.name = text_of(sri.nameId);
    view.full_name = view.name;
    if (sri.type == SRI_TYPE_KEYED_ENUM || sri.type == SRI_TYPE_KEYED_INTEGER) {
        for (uint16_t key : sri.instanceKey) {
            if (key == kUnused) continue;
            view.sub_names.push_back(text_of(key));
            view.full_name += "\\" + view.sub_names.back();
        }
    }
    for (uint16_t i = 0; i < 6 && sri.path[i] != kUnused; ++i) view.path.push_back(text_of(sri.path[i]));
    view.type = sri.type;
    view.type_name = TypeName(sri.type);
    view.read_only = (sri.flags & SRI_FLAG_READ_ONLY) != 0;
    view.changed = sri.changed != 0;
    const auto* bytes = static_cast<const uint8_t*>(sri.value);
    size_t size = bytes != nullptr ? sri.valueSize : 0;

    if (IsEnumeration(sri.type) || sri.type == SRI_TYPE_ORDERED_LIST) {
        size_t limit = std::min<size_t>(sri.elementCount, size / 2);
        for (size_t i = 0; i < limit; ++i) {
            uint16_t id = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            if (id == kUnused) break;
            std::string choice = text_of(id);
            if (IsEnumeration(sri.type) && choice == "--") continue;  // hidden choice
            if (IsEnumeration(sri.type) && i == sri.currentIndex) view.selected = static_cast<int>(view.choices.size());
            view.choices.push_back(choice);
            view.ids.push_back(id);
        }
    } else if (IsInteger(sri.type)) {
        view.low = sri.lowerBound;
        view.high = sri.upperBound;
        uint8_t value[4] = {};
        std::memcpy(value, bytes, std::min<size_t>(size, 4));
        view.number = static_cast<uint32_t>(value[0] | (value[1] << 8) | (value[2] << 16)) |
                      (static_cast<uint32_t>(value[3]) << 24);
    } else if (IsText(sri.type)) {
        const void* end = size > 0 ? std::memchr(bytes, 0, size) : nullptr;
        size_t length = end != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes) : size;
        view.text = Utf8FromAnsi(std::string_view(reinterpret_cast<const char*>(bytes), length));
        view.max_length = sri.upperBound > 0 ? sri.upperBound - 1 : 0;
    } else if (sri.type == SRI_TYPE_BINARY) {
        char hex[3];
        for (size_t i = 0; i < size; ++i) {
            std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
            view.text += hex;
        }
    }
    return view;
}

std::vector<std::pair<int, SettingView>> AllSettings(ZmrmcLibrary& library) {
    std::vector<std::pair<int, SettingView>> settings;
    for (int i = 0, count = library.Count(); i < count; ++i) {
        const SRI* record = library.At(i);
        if (record == nullptr || record->type == SRI_TYPE_STRING_TABLE) continue;
        settings.emplace_back(i, ViewOf(library, record));
    }
    return settings;
}

std::string SettingView::Value() const {
    if (IsEnumeration(type)) return selected >= 0 ? choices[static_cast<size_t>(selected)] : "(none selected)";
    if (type == SRI_TYPE_ORDERED_LIST) return Joined(choices, ", ");
    if (IsInteger(type)) return std::to_string(number);
    if (type == SRI_TYPE_PASSWORD) return "(not shown)";
    return text;
}

std::string SettingView::Possible() const {
    switch (type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM: return Joined(choices, " | ");
    case SRI_TYPE_ORDERED_LIST: return "any order of its elements";
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: return std::to_string(low) + ".." + std::to_string(high);
    case SRI_TYPE_PASSWORD: return "a password";
    case SRI_TYPE_BINARY: return "bytes (not set through settings files)";
    default: return "text of at most " + std::to_string(max_length) + " characters";
    }
}

nlohmann::json SettingView::Json() const {
    nlohmann::json out = {{"name", name}, {"type", type_name}, {"path", path}, {"read_only", read_only}};
    if (!sub_names.empty()) out["sub_names"] = sub_names;
    switch (type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM:
        out["value"] = selected >= 0 ? nlohmann::json(choices[static_cast<size_t>(selected)]) : nlohmann::json();
        out["choices"] = choices;
        break;
    case SRI_TYPE_ORDERED_LIST: out["value"] = choices; break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER:
        out["value"] = number;
        out["min"] = low;
        out["max"] = high;
        break;
    case SRI_TYPE_PASSWORD: out["value"] = nullptr; break;  // what the firmware shows of a password is not shown
    case SRI_TYPE_BINARY: out["value"] = text; break;
    default:
        out["value"] = text;
        out["max_length"] = max_length;
        break;
    }
    return out;
}
