// The settings file reader on arbitrary text, over a model with the desktop machine's settings (every type,
// keyed ones, a hidden choice) and a language table holding every name the shipped machines' files use.
// Whatever the reader takes, the writer's file of the result must read back to a fixed point: writing,
// reading into a fresh model and writing again gives the same text as one more round. Records are never
// read or written beyond their buffers (AddressSanitizer).
#include "settings_text_reader.h"
#include "settings_text_writer.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Object {
    uint16_t type;
    const char* name;
    std::vector<const char*> path;
    std::vector<const char*> values;  // choices, elements, the key's sub-name, or the text
    uint32_t low = 0, high = 0, number = 0;
    uint16_t flags = 0;
    uint16_t current = 0;
    size_t capacity = 0;  // text buffer
};

const std::vector<Object>& Objects() {
    static const std::vector<Object> objects = {
        {SRI_TYPE_TEXT, "ROM Revision", {"File", "System Information"}, {"786D1 v01.08"}, 0, 0, 0, 2, 0, 30},
        {SRI_TYPE_DATE, "BIOS Release Date", {"File", "System Information"}, {"07/12/2006"}, 0, 0, 0, 2, 0, 11},
        {SRI_TYPE_TEXT, "Asset Tracking Number", {"Security", "System IDs"}, {"QV-ASSET-01"}, 0, 0, 0, 0, 0, 17},
        {SRI_TYPE_TEXT, "Enter Ownership Tag", {"Security", "System IDs"}, {""}, 0, 0, 0, 0, 0, 81},
        {SRI_TYPE_PASSWORD, "Setup Password", {"Security"}, {""}, 0, 0, 0, 0, 0, 33},
        {SRI_TYPE_ENUM, "Serial Port A", {"Security"}, {"Device hidden", "--", "Device available"}, 0, 0, 0, 0, 2},
        {SRI_TYPE_ENUM, "MultiBoot", {"Storage", "Boot Order"}, {"Disable", "Enable"}, 0, 0, 0, 0, 1},
        {SRI_TYPE_ORDERED_LIST,
         "Boot Order",
         {"Storage", "Boot Order"},
         {"IDE CD-ROM Drive", "Diskette Drive (A:)", "Hard Drive (C:)", "Network Controller", "--", "--"}},
        {SRI_TYPE_INTEGER, "POST Delay (in seconds)", {"Advanced"}, {}, 0, 60, 0},
        {SRI_TYPE_BINARY, "Legacy Devices", {"Advanced"}, {"\x03\xF8\x04\x02"}, 0, 0, 0, 2},
        {SRI_TYPE_BINARY, "ESCD", {}, {"\x01\x02"}},
        {SRI_TYPE_TIME, "Power-On Time", {"Advanced"}, {"06:30"}, 0, 0, 0, 0, 0, 11},
        {SRI_TYPE_KEYED_ENUM, "SATA Port", {"Storage"}, {"SATA 0", "Disable", "Enable"}, 0, 0, 0, 0, 1},
        {SRI_TYPE_KEYED_ENUM, "SATA Port", {"Storage"}, {"SATA 1", "Disable", "Enable"}, 0, 0, 0, 0, 0},
        {SRI_TYPE_KEYED_INTEGER, "Fan Idle Speed", {"Power"}, {"CPU Fan"}, 0, 100, 30},
        {SRI_TYPE_KEYED_INTEGER, "Fan Idle Speed", {"Power"}, {"Chassis Fan"}, 0, 0xFFFFFFFF, 20},
        {SRI_TYPE_ENUM, "SmartCard", {"Security"}, {"Disable", "Enable"}, 0, 0, 0, 0, 0},
        {SRI_TYPE_TEXT, "Manufacturer", {"File"}, {"Brevik"}, 0, 0, 0, 0, 0, 41},
    };
    return objects;
}

// Texts of the language table: the language name first, then every text the objects and the shipped
// machines' files use, each once.
class Texts {
public:
    uint16_t Id(const std::string& text) {
        for (size_t i = 0; i < texts_.size(); ++i)
            if (texts_[i] == text) return static_cast<uint16_t>(i);
        texts_.push_back(text);
        return static_cast<uint16_t>(texts_.size() - 1);
    }
    Bytes Table() const {
        Bytes b = {0, 0};
        for (const auto& t : texts_) b.insert(b.end(), t.c_str(), t.c_str() + t.size() + 1);
        b.insert(b.end(), {0xFF, 0xFF});
        return b;
    }

private:
    std::vector<std::string> texts_{"English"};
};

void U16(Bytes& b, uint16_t v) { b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
void U32(Bytes& b, uint32_t v) {
    U16(b, static_cast<uint16_t>(v));
    U16(b, static_cast<uint16_t>(v >> 16));
}

Bytes RawValue(Texts& texts, const Object& o) {
    Bytes b;
    U16(b, texts.Id(o.name));
    switch (o.type) {
    case SRI_TYPE_ENUM:
        U16(b, o.current);
        for (const char* c : o.values) U16(b, texts.Id(c));
        U16(b, 0xFFFF);
        break;
    case SRI_TYPE_KEYED_ENUM:
        U16(b, o.current);
        U16(b, texts.Id(o.values[0]));
        for (int i = 0; i < 3; ++i) U16(b, 0xFFFF);
        for (size_t i = 1; i < o.values.size(); ++i) U16(b, texts.Id(o.values[i]));
        break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER:
        U32(b, o.low);
        U32(b, o.high);
        U32(b, o.number);
        if (o.type == SRI_TYPE_KEYED_INTEGER) {
            U16(b, texts.Id(o.values[0]));
            for (int i = 0; i < 3; ++i) U16(b, 0xFFFF);
        }
        break;
    case SRI_TYPE_ORDERED_LIST:
        for (const char* e : o.values) U16(b, texts.Id(e));
        U16(b, 0xFFFF);
        break;
    case SRI_TYPE_BINARY: b.insert(b.end(), o.values[0], o.values[0] + std::string_view(o.values[0]).size()); break;
    default: {
        std::string text = o.values[0];
        b.insert(b.end(), text.begin(), text.end());
        b.resize(2 + o.capacity, 0);
        break;
    }
    }
    return b;
}

std::unique_ptr<zmrmc::SettingsModel> Model() {
    static const std::vector<std::pair<zmrmc::ObjectInfo, Bytes>> raw = [] {
        Texts texts;
        std::vector<std::pair<zmrmc::ObjectInfo, Bytes>> built;
        for (const Object& o : Objects()) {
            zmrmc::ObjectInfo info;
            info.type = o.type;
            info.flags = o.flags;
            for (size_t i = 0; i < o.path.size(); ++i) info.path[i] = texts.Id(o.path[i]);
            Bytes value = RawValue(texts, o);
            info.size = static_cast<uint32_t>(value.size());
            built.emplace_back(info, std::move(value));
        }
        // Names of the other shipped machines' settings, so that their files find them in the table.
        for (const char* other : {"Product Name", "Serial Number", "Parallel Port", "Floppy Boot", "QuickBoot",
                                  "Touch Pad", "Num Lock State at Power-On", "Off", "On"})
            texts.Id(other);
        Bytes table = texts.Table();
        zmrmc::ObjectInfo info;
        info.type = SRI_TYPE_STRING_TABLE;
        info.flags = 2;
        info.size = static_cast<uint32_t>(table.size());
        built.insert(built.begin(), {info, table});
        return built;
    }();
    auto model = std::make_unique<zmrmc::SettingsModel>();
    model->BeginRead();
    uint16_t index = 0;
    for (const auto& [info, value] : raw) model->AddObject(index++, info, value.data(), value.size());
    model->EndRead();
    return model;
}

std::string Written(zmrmc::SettingsModel& model) {
    std::string text;
    if (!zmrmc::BuildSettingsText(model, &text)) std::abort();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto model = Model();
    std::string untouched = Written(*model);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    bool taken = zmrmc::ApplySettingsText(*model, input);
    std::string once = Written(*model);
    if (!taken && once != untouched) std::abort();  // a refused file changes nothing

    // The writer's text settles after one round: what it writes reads back to the same text.
    auto second = Model();
    if (!zmrmc::ApplySettingsText(*second, once)) std::abort();
    std::string twice = Written(*second);
    auto third = Model();
    if (!zmrmc::ApplySettingsText(*third, twice)) std::abort();
    if (Written(*third) != twice) std::abort();
    return 0;
}
