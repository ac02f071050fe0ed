// The ROM area of the simulated PC: SMBIOS table and entry point, the system information table, the boot
// device texts and the fixed ROM bytes at the top of the F segment. Also the machine's initial state.

#include "machine_store.h"
#include "simulated_firmware.h"
#include "smbios_entry_point.h"

#include <algorithm>
#include <cstring>

namespace qv::machine {
namespace {

void Put(Bytes& area, uint32_t address, const void* data, size_t size) {
    std::memcpy(area.data() + (address - kRomAreaBase), data, size);
}

Bytes SmbiosTable(const Profile& p, uint16_t* count, uint16_t* largest) {
    Bytes table;
    uint16_t handle = 0;
    auto add = [&](uint8_t type, const Bytes& formatted, const std::vector<std::string>& strings) {
        size_t start = table.size();
        table.push_back(type);
        table.push_back(static_cast<uint8_t>(4 + formatted.size()));
        table.push_back(static_cast<uint8_t>(handle));
        table.push_back(static_cast<uint8_t>(handle >> 8));
        ++handle;
        table.insert(table.end(), formatted.begin(), formatted.end());
        for (const auto& s : strings) {
            table.insert(table.end(), s.begin(), s.end());
            table.push_back(0);
        }
        if (strings.empty()) table.push_back(0);
        table.push_back(0);
        *largest = std::max<uint16_t>(*largest, static_cast<uint16_t>(table.size() - start));
    };
    *largest = 0;
    for (const auto& s : p.structures) add(s.type, s.formatted, s.strings);
    add(127, {}, {});
    *count = handle;
    return table;
}

}  // namespace

uint16_t ObjectCatalogue::Id(const std::string& text) const {
    auto it = ids.find(text);
    return it == ids.end() ? 0xFFFF : it->second;
}

Bytes ObjectCatalogue::TableValue(const Language& language) const {
    Bytes value = {0, 0};
    for (size_t i = 0; i < english.size(); ++i) {
        std::string text = i == 0 ? language.name : english[i];
        auto it = language.translations.find(english[i]);
        if (i != 0 && it != language.translations.end()) text = it->second;
        value.insert(value.end(), text.begin(), text.end());
        value.push_back(0);
    }
    value.push_back(0xFF);
    value.push_back(0xFF);
    return value;
}

ObjectCatalogue BuildCatalogue(const Profile& p) {
    ObjectCatalogue c;
    auto use = [&](const std::string& text) {
        if (c.ids.emplace(text, static_cast<uint16_t>(c.english.size())).second) c.english.push_back(text);
    };
    use("English");
    for (const auto& o : p.objects) {
        for (const auto& m : o.path) use(m);
        use(o.name);
        for (const auto& k : o.key) use(k);
        for (const auto& ch : o.choices) use(ch);
        if (o.type == ObjectType::OrderedList)
            for (size_t k = 0; k < o.choices.size(); ++k) use(ListItemText(o, o.choices.size() + k));
    }
    // The tables never change and are large (a text per ID): built here once, not for every call that sizes them.
    for (const auto& language : p.languages) c.tables.push_back(c.TableValue(language));
    return c;
}

Bytes SmbiosEntryPointBytes(const Profile& p) {
    SmbiosTableShape shape;
    Bytes table = SmbiosTable(p, &shape.count, &shape.largest);
    shape.length = static_cast<uint16_t>(table.size());
    shape.address = kSmbiosTable;
    shape.major = p.smbiosMajor;
    shape.minor = p.smbiosMinor;
    return SmbiosEntryPoint(shape);
}

Bytes BuildRomArea(const Profile& p) {
    Bytes area(kRomAreaSize, 0);
    if (p.smbios) {
        uint16_t count = 0, largest = 0;
        Bytes table = SmbiosTable(p, &count, &largest);
        if (table.size() > 0x10000) table.resize(0x10000);  // a profile cannot overflow the E segment
        Put(area, kSmbiosTable, table.data(), table.size());
        Bytes ep = SmbiosEntryPointBytes(p);
        Put(area, kSmbiosEntryPoint, ep.data(), ep.size());
    }
    // System information table: "!SIT", record 7 (machine class), record 16 (product name), end record.
    Bytes sit = {'!', 'S', 'I', 'T', 7, 4, 0, 0, p.machineClass, 0};
    std::string product = p.sitProductName.substr(0, 200);
    if (!product.empty()) {
        sit.push_back(16);
        sit.push_back(static_cast<uint8_t>(product.size()));
        sit.insert(sit.end(), product.begin(), product.end());
    }
    sit.push_back(0xFF);
    sit.push_back(0);
    Put(area, kSitAddress, sit.data(), sit.size());
    for (size_t i = 0; i < p.ipl.size(); ++i) {
        std::string text = p.ipl[i].description.substr(0, 31);
        Put(area, kIplTexts + static_cast<uint32_t>(32 * i), text.c_str(), text.size() + 1);
    }
    uint8_t top[] = {p.familyLetter, 0, p.familyDigit, p.revision};
    Put(area, 0xFFFE4, top, sizeof top);
    std::string tag = p.makerTag;
    tag.resize(6, ' ');
    Put(area, 0xFFFEA, tag.data(), 6);
    const uint8_t reset[] = {0xEA, 0x5B, 0xE0, 0x00, 0xF0};  // jmp far F000:E05B
    Put(area, 0xFFFF0, reset, sizeof reset);
    std::string version = p.romVersion;
    version.resize(8, ' ');
    Put(area, 0xFFFF5, version.data(), 8);
    uint8_t model = p.machineClass == 2 ? 0xF9 : 0xFC;
    Put(area, 0xFFFFE, &model, 1);
    return area;
}

Json InitialState(const Profile& p) {
    Json s = Json::object();
    Json e845 = Json::object();
    for (const auto& [sub, value] : p.e845Settings) e845[std::to_string(sub)] = value;
    s["e845"] = e845;
    Json strings = Json::object();
    for (const auto& [sub, text] : p.e845Strings) strings[std::to_string(sub)] = text;
    s["strings"] = strings;
    s["pxe"] = p.pxe;
    s["security"] = p.securityState;
    s["setup_password"] = StoredPassword(p.setupPassword);
    s["power_on_password"] = StoredPassword(p.powerOnPassword);
    s["unlocked"] = false;
    Json objects = Json::object();
    size_t first = p.systemObjects ? p.languages.size() : 0;
    for (size_t i = 0; i < p.objects.size(); ++i) {
        const ObjectDef& o = p.objects[i];
        Json v = o.value;
        switch (o.type) {
        case ObjectType::Enum:
        case ObjectType::KeyedEnum:
            v = std::find(o.choices.begin(), o.choices.end(), o.value.get<std::string>()) - o.choices.begin();
            break;
        case ObjectType::Integer:
        case ObjectType::KeyedInteger:
            v = o.value.is_string() ? std::stoul(o.value.get<std::string>(), nullptr, 0) : o.value.get<uint32_t>();
            break;
        case ObjectType::OrderedList: {
            v = Json::array();
            for (size_t k = 0; k < o.choices.size(); ++k) v.push_back(k);
            break;
        }
        default: break;
        }
        objects[std::to_string(first + i)] = v;
    }
    s["objects"] = objects;
    s["ipl_priority"] = p.iplPriority;
    s["fault_counts"] = Json(std::vector<uint32_t>(p.faults.size(), 0));
    return s;
}

std::string InitialFlash(const Profile& p, const Json&) {
    std::string flash(p.flash.size, '\xFF');
    Bytes area = BuildRomArea(p);
    size_t top = std::min<size_t>(0x10000, flash.size());
    std::memcpy(flash.data() + flash.size() - top, area.data() + area.size() - top, top);
    return flash;
}

}  // namespace qv::machine
