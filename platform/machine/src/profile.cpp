// Parsing and checking machine profiles. Texts that reach the firmware become Windows-1252 bytes here; what the
// firmware's structures cannot hold is refused by CheckFirmwareLimits (profile_limits.cpp).

#include "json_fields.h"
#include "profile.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace qv::machine {
namespace {

void ParseWindows(const Reader& r, WindowsDescription& w) {
    w.platform = static_cast<uint32_t>(r.Num("platform", 2, 0xFFFFFFFF));
    w.major = static_cast<uint32_t>(r.Num("major", 5, 0xFFFFFFFF));
    w.minor = static_cast<uint32_t>(r.Num("minor", 1, 0xFFFFFFFF));
    w.build = static_cast<uint32_t>(r.Num("build", 2600, 0xFFFFFFFF));
    w.servicePack = r.Text("service_pack", "Service Pack 2");
    w.wow64 = r.Bool("wow64", false);
    w.nativeArchitecture = static_cast<uint16_t>(r.Num("native_architecture", w.wow64 ? 9 : 0, 0xFFFF));
    w.language = static_cast<uint16_t>(r.Num("language", 0x0409, 0xFFFF));
}

uint8_t OneCharacter(const Reader& r, const char* key, char fallback) {
    if (r.Has(key) && r.j.at(key).is_string()) {
        std::string text = r.FirmwareText(key, "");
        if (text.size() != 1) Fault(r.At(key), "must be one character");
        return static_cast<uint8_t>(text[0]);
    }
    return static_cast<uint8_t>(r.Num(key, static_cast<uint8_t>(fallback), 255));
}

void ParseSmbios(const Reader& r, Profile& p) {
    if (!r.Has("smbios")) return;
    Reader s{r.Object("smbios"), r.At("smbios")};
    p.smbios = true;
    std::string version = s.Text("version", "2.3");
    size_t dot = version.find('.');
    if (dot == std::string::npos) Fault(s.At("version"), "must look like \"2.3\"");
    p.smbiosMajor = static_cast<uint8_t>(Number(version.substr(0, dot), s.At("version"), 255));
    p.smbiosMinor = static_cast<uint8_t>(Number(version.substr(dot + 1), s.At("version"), 255));
    const Json& list = s.Array("structures");
    for (size_t i = 0; i < list.size(); ++i) {
        Reader t = Reader::Entry(list, i, s.At("structures"));
        SmbiosStructure st;
        st.type = static_cast<uint8_t>(t.Num("type", 0, 126));
        if (!t.Has("type")) Fault(t.where, "needs a type");
        for (const auto& field : t.Array("fields")) {
            std::string where = t.At("fields");
            if (field.is_object()) {
                Reader f{field, where};
                int width = f.Has("word") ? 2 : f.Has("dword") ? 4 : f.Has("qword") ? 8 : 0;
                if (width == 0) Fault(where, "a wide field is {\"word\": n}, {\"dword\": n} or {\"qword\": n}");
                const char* key = width == 2 ? "word" : width == 4 ? "dword" : "qword";
                uint64_t v = f.Num(key, 0, width == 8 ? ~0ull : (1ull << (8 * width)) - 1);
                for (int b = 0; b < width; ++b) st.formatted.push_back(static_cast<uint8_t>(v >> (8 * b)));
            } else {
                st.formatted.push_back(static_cast<uint8_t>(Number(field, where, 255)));
            }
        }
        if (st.formatted.size() > 250) Fault(t.At("fields"), "too many bytes for one structure");
        st.strings = t.FirmwareTexts("strings");
        for (const auto& text : st.strings)
            if (text.empty()) Fault(t.At("strings"), "strings must be non-empty (use string number 0 instead)");
        if (st.strings.size() > 255) Fault(t.At("strings"), "at most 255 strings (string numbers are bytes)");
        p.structures.push_back(std::move(st));
    }
}

void ParseInt15(const Reader& r, Profile& p) {
    Reader i{r.Object("int15"), r.At("int15")};
    p.int15ThirtyTwoBit = i.Bool("32bit", true);
    if (i.Has("e845")) {
        Reader e{i.Object("e845"), i.At("e845")};
        p.e845 = true;
        for (const auto& [key, value] : e.Object("settings").items())
            p.e845Settings[static_cast<uint16_t>(Number(key, e.At("settings"), 0xFFFF))] = static_cast<uint8_t>(
                Number(value, e.At("settings") + "." + key, 255));
        for (const auto& [key, value] : e.Object("strings").items()) {
            std::string field = e.At("strings") + "." + key;
            auto sub = static_cast<uint16_t>(Number(key, field, 0xFFFF));
            std::string text = FirmwareText(value, field);
            if (text.size() > E845StringLimit(sub))
                Fault(field, "at most " + std::to_string(E845StringLimit(sub)) + " characters (what a read returns)");
            p.e845Strings[sub] = text;
        }
        p.pxe = static_cast<uint8_t>(e.Num("pxe", 0, 255));
    }
    if (i.Has("e842")) {
        Reader e{i.Object("e842"), i.At("e842")};
        p.e842 = true;
        p.powerOnFeature = e.Bool("power_on_feature", true);
        p.longPasswords = e.Bool("long_passwords", true);
        p.securitySupported = static_cast<uint32_t>(e.Num("supported", 0, 0xFFFFFFFF));
        p.securityState = static_cast<uint32_t>(e.Num("state", 0, 0xFFFFFFFF)) & p.securitySupported;
    }
    p.e841 = i.Bool("e841", false);
    p.e841ThirtyTwoBit = i.Bool("e841_32bit", true);
    if (i.Has("e819")) p.e819Serial = i.FirmwareText("e819", "");
    if (p.e819Serial && p.e819Serial->size() > 17) Fault(i.At("e819"), "at most 17 characters");
    p.e822 = i.Bool("e822", false);
}

ObjectType TypeFromName(const std::string& name, const std::string& where) {
    static const std::map<std::string, ObjectType> names = {
        {"enum", ObjectType::Enum},          {"text", ObjectType::Text},
        {"binary", ObjectType::Binary},      {"int", ObjectType::Integer},
        {"password", ObjectType::Password},  {"date", ObjectType::Date},
        {"time", ObjectType::Time},          {"orderedlist", ObjectType::OrderedList},
        {"ext_enum", ObjectType::KeyedEnum}, {"ext_int", ObjectType::KeyedInteger}};
    auto it = names.find(name);
    if (it == names.end())
        Fault(where, "unknown type \"" + name +
                         "\" (enum, text, binary, int, password, date, time, orderedlist, "
                         "ext_enum, ext_int)");
    return it->second;
}

void CheckValue(const ObjectDef& o, const std::string& where) {
    const Json& v = o.value;
    switch (o.type) {
    case ObjectType::Enum:
    case ObjectType::KeyedEnum:
    case ObjectType::OrderedList:
        if (o.choices.empty()) Fault(where, "needs \"choices\"");
        if (o.type != ObjectType::OrderedList &&
            !(v.is_string() && std::find(o.choices.begin(), o.choices.end(), v.get<std::string>()) != o.choices.end()))
            Fault(where, "\"value\" must be one of the choices");
        break;
    case ObjectType::Text:
    case ObjectType::Date:
    case ObjectType::Time:
    case ObjectType::Password:
        if (!v.is_string() || v.get<std::string>().size() > o.maxLength)
            Fault(where, "\"value\" must be a text of at most max_length characters");
        break;
    case ObjectType::Binary:
        if (!v.is_string()) Fault(where, "\"value\" must be hexadecimal bytes");
        HexBytes(v.get<std::string>());
        break;
    case ObjectType::Integer:
    case ObjectType::KeyedInteger: {
        uint64_t n = Number(v, where + ".value", 0xFFFFFFFF);
        if (n < o.low || n > o.high) Fault(where, "\"value\" is outside low..high");
        break;
    }
    case ObjectType::StringTable: break;
    }
}

void ParseObjects(const Reader& r, Profile& p) {
    if (!r.Has("system_objects")) return;
    Reader s{r.Object("system_objects"), r.At("system_objects")};
    p.systemObjects = true;
    const Json& languages = s.Array("languages");
    bool english = false;
    for (size_t i = 0; i < languages.size(); ++i) {
        Reader l = Reader::Entry(languages, i, s.At("languages"));
        Language language{l.FirmwareText("name", ""), {}};
        if (language.name.empty()) Fault(l.where, "needs a name");
        for (const auto& [from, to] : l.Object("translations").items()) {
            std::string field = l.At("translations") + "." + from;
            language.translations[FirmwareText(Json(from), field)] = FirmwareText(to, field);
        }
        english = english || language.name == "English";
        p.languages.push_back(std::move(language));
    }
    if (!english) p.languages.insert(p.languages.begin(), Language{"English", {}});
    const Json& objects = s.Array("objects");
    for (size_t i = 0; i < objects.size(); ++i) {
        Reader o = Reader::Entry(objects, i, s.At("objects"));
        ObjectDef d;
        d.name = o.FirmwareText("name", "");
        if (d.name.empty()) Fault(o.where, "needs a name");
        d.type = TypeFromName(o.Text("type", "enum"), o.At("type"));
        d.path = o.FirmwareTexts("path");
        d.choices = o.FirmwareTexts("choices");
        d.key = o.FirmwareTexts("key");
        if (d.path.size() > 6) Fault(o.At("path"), "at most 6 menus");
        if (d.key.size() > 4) Fault(o.At("key"), "at most 4 sub-names");
        bool keyed = d.type == ObjectType::KeyedEnum || d.type == ObjectType::KeyedInteger;
        if (keyed && d.key.empty()) Fault(o.where, "a keyed type needs a \"key\"");
        d.readOnly = o.Bool("read_only", false);
        d.flags = static_cast<uint16_t>(o.Num("flags", 0, 0xFFFF));
        d.maxLength = static_cast<uint32_t>(
            o.Num("max_length", d.type == ObjectType::Date || d.type == ObjectType::Time ? 10 : 40, 1000));
        d.low = static_cast<uint32_t>(o.Num("low", 0, 0xFFFFFFFF));
        d.high = static_cast<uint32_t>(o.Num("high", 0xFFFFFFFF, 0xFFFFFFFF));
        if (o.Has("value")) {
            d.value = o.j.at("value");
            if (d.value.is_string()) d.value = o.FirmwareText("value", "");
        } else {
            switch (d.type) {
            case ObjectType::Enum:
            case ObjectType::KeyedEnum: d.value = d.choices.empty() ? Json("") : Json(d.choices[0]); break;
            case ObjectType::Integer:
            case ObjectType::KeyedInteger: d.value = d.low; break;
            default: d.value = ""; break;
            }
        }
        if (d.type == ObjectType::OrderedList &&
            std::set<std::string>(d.choices.begin(), d.choices.end()).size() != d.choices.size())
            Fault(o.At("choices"), "the items of an ordered list must differ");
        CheckValue(d, o.where);
        p.objects.push_back(std::move(d));
    }
}

void ParsePnp(const Reader& r, Profile& p) {
    if (!r.Has("pnp")) return;
    Reader n{r.Object("pnp"), r.At("pnp")};
    p.pnp = true;
    p.bbsVersion = static_cast<uint16_t>(n.Num("bbs_version", 0x0101, 0xFFFF));
    const Json& ipl = n.Array("ipl");
    for (size_t i = 0; i < ipl.size(); ++i) {
        Reader d = Reader::Entry(ipl, i, n.At("ipl"));
        p.ipl.push_back({d.FirmwareText("description", ""), static_cast<uint16_t>(d.Num("type", 2, 0xFFFF))});
        if (p.ipl.back().description.size() > 31) Fault(d.At("description"), "at most 31 characters");
    }
    if (p.ipl.size() > 16) Fault(n.At("ipl"), "at most 16 boot devices");
    const Json& priority = n.Array("priority");
    for (size_t i = 0; i < priority.size(); ++i) {
        std::string field = n.At("priority") + "[" + std::to_string(i) + "]";
        auto device = static_cast<uint8_t>(Number(priority[i], field, 255));
        if (device >= p.ipl.size()) Fault(field, "names no boot device");
        if (std::find(p.iplPriority.begin(), p.iplPriority.end(), device) != p.iplPriority.end())
            Fault(field, "names a boot device twice");
        p.iplPriority.push_back(device);
    }
    if (p.iplPriority.empty())
        for (size_t i = 0; i < p.ipl.size(); ++i) p.iplPriority.push_back(static_cast<uint8_t>(i));
    const Json& nodes = n.Array("nodes");
    for (size_t i = 0; i < nodes.size(); ++i) {
        Reader d = Reader::Entry(nodes, i, n.At("nodes"));
        PnpNode node;
        node.id = d.Text("id", "");
        bool eisa = node.id.size() == 7 && std::all_of(node.id.begin(), node.id.begin() + 3, ::isupper) &&
                    std::all_of(node.id.begin() + 3, node.id.end(), ::isxdigit);
        if (!eisa) Fault(d.At("id"), "must be an EISA identifier such as \"PNP0501\"");
        const Json& cls = d.Array("class");
        if (cls.size() != 3) Fault(d.At("class"), "must be [base, sub-class, interface]");
        for (int k = 0; k < 3; ++k) node.classCode[k] = static_cast<uint8_t>(Number(cls[k], d.At("class"), 255));
        p.nodes.push_back(node);
    }
}

void ParsePci(const Reader& r, Profile& p) {
    const Json& list = r.Array("pci");
    for (size_t i = 0; i < list.size(); ++i) {
        Reader f = Reader::Entry(list, i, r.At("pci"));
        PciFunction fn;
        fn.bus = static_cast<uint8_t>(f.Num("bus", 0, 255));
        fn.device = static_cast<uint8_t>(f.Num("device", 0, 31));
        fn.function = static_cast<uint8_t>(f.Num("function", 0, 7));
        fn.id = static_cast<uint32_t>(f.Num("id", 0, 0xFFFFFFFF));
        if (fn.id == 0 || fn.id == 0xFFFFFFFF) Fault(f.At("id"), "needs a vendor and device identifier");
        fn.classCode = static_cast<uint32_t>(f.Num("class", 0, 0xFFFFFF));
        fn.revision = static_cast<uint8_t>(f.Num("revision", 0, 255));
        fn.headerType = static_cast<uint8_t>(f.Num("header_type", 0, 255));
        fn.command = static_cast<uint16_t>(f.Num("command", 7, 0xFFFF));
        fn.subsystem = static_cast<uint32_t>(f.Num("subsystem", 0, 0xFFFFFFFF));
        p.pci.push_back(fn);
    }
}

void ParseFaults(const Reader& r, Profile& p) {
    const Json& list = r.Array("faults");
    for (size_t i = 0; i < list.size(); ++i) {
        Reader f = Reader::Entry(list, i, r.At("faults"));
        FaultRule rule;
        rule.call = f.Text("call", "");
        rule.nth = static_cast<uint32_t>(f.Num("nth", 1, 0xFFFFFFFF));
        rule.times = static_cast<uint32_t>(f.Num("times", 1, 0xFFFFFFFF));
        rule.action = f.Text("action", "fail");
        rule.status = static_cast<uint8_t>(f.Num("status", 0x86, 255));
        if (rule.call.empty()) Fault(f.where, "needs \"call\"");
        if (rule.nth == 0) Fault(f.At("nth"), "counts from 1");
        if (rule.action != "fail" && rule.action != "status" && rule.action != "ignore-write" && rule.action != "kill")
            Fault(f.At("action"), "must be \"fail\", \"status\", \"ignore-write\" or \"kill\"");
        p.faults.push_back(rule);
    }
}

}  // namespace

Bytes HexBytes(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::runtime_error("hexadecimal bytes need an even number of digits");
    Bytes out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        auto digit = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            throw std::runtime_error(std::string("\"") + c + "\" is not a hexadecimal digit");
        };
        out.push_back(static_cast<uint8_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    }
    return out;
}

std::string HexText(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

namespace {

// The top of a profile text: a JSON object. `keep` filters what the parser builds (null: everything).
Json ParseTop(const std::string& text, const Json::parser_callback_t& keep) {
    Json j;
    try {
        j = keep ? Json::parse(text, keep) : Json::parse(text);
    } catch (const Json::exception& e) {
        Fault("", std::string("not valid JSON: ") + e.what());
    }
    if (!j.is_object()) Fault("", "must be a JSON object");
    return j;
}

// Hexadecimal bytes of a member.
Bytes HexMember(const Reader& r, const char* key) {
    try {
        return HexBytes(r.Text(key, ""));
    } catch (const std::runtime_error& e) {
        Fault(r.At(key), e.what());
    }
}

Profile ParseFields(const Json& j, const std::string& origin) {
    Reader r{j, ""};
    Profile p;
    p.name = r.Text("name", origin);
    p.description = r.Text("description", "");
    ParseWindows(Reader{r.Object("windows"), r.At("windows")}, p.windows);
    Reader rom{r.Object("rom"), r.At("rom")};
    p.makerTag = rom.FirmwareText("maker_tag", "");
    p.romVersion = rom.FirmwareText("version", "01/01/00");
    if (p.makerTag.size() > 6) Fault(rom.At("maker_tag"), "at most 6 characters");
    if (p.romVersion.size() > 8) Fault(rom.At("version"), "at most 8 characters");
    p.familyDigit = OneCharacter(rom, "family_digit", 0);
    p.familyLetter = OneCharacter(rom, "family_letter", ' ');
    p.revision = OneCharacter(rom, "revision", ' ');
    if (r.Has("system_id")) p.systemId = static_cast<uint16_t>(r.Num("system_id", 0, 0xFFFF));
    Reader sit{r.Object("system_information"), r.At("system_information")};
    p.machineClass = static_cast<uint8_t>(sit.Num("machine_class", 1, 63));
    p.sitProductName = sit.FirmwareText("product_name", "");
    if (p.sitProductName.size() > 200) Fault(sit.At("product_name"), "at most 200 characters");
    ParseSmbios(r, p);
    ParseInt15(r, p);
    Reader pw{r.Object("passwords"), r.At("passwords")};
    p.setupPassword = HexMember(pw, "setup");
    p.powerOnPassword = HexMember(pw, "power_on");
    if (p.setupPassword.size() > 32) Fault(pw.At("setup"), "passwords are at most 32 scan codes");
    if (p.powerOnPassword.size() > 32) Fault(pw.At("power_on"), "passwords are at most 32 scan codes");
    ParseObjects(r, p);
    ParsePnp(r, p);
    ParsePci(r, p);
    Reader flash{r.Object("flash"), r.At("flash")};
    p.flash.size = static_cast<uint32_t>(flash.Num("size", 0x40000, 0x1000000));
    p.flash.blockSize = static_cast<uint32_t>(flash.Num("block_size", 4096, 0x1000000));
    p.flash.interfaceVersion = static_cast<uint16_t>(flash.Num("interface_version", 0x0100, 0xFFFF));
    uint32_t blocks = (p.flash.size + 4095) / 4096;
    auto block = [&](const Reader& in, const char* key) -> std::optional<uint32_t> {
        if (!in.Has(key)) return std::nullopt;
        uint64_t n = in.Num(key, 0, 0xFFFFFFFF);
        if (n >= blocks) Fault(in.At(key), "the part has " + std::to_string(blocks) + " blocks");
        return static_cast<uint32_t>(n);
    };
    Reader failing{flash.Object("failing_block"), flash.At("failing_block")};
    p.flash.failingBlock = block(failing, "block");
    p.flash.failingStatus = static_cast<uint8_t>(failing.Num("status", 0x8C, 255));
    if (failing.Has("status") && !p.flash.failingBlock) Fault(failing.At("status"), "needs \"block\"");
    p.flash.keptBlock = block(flash, "kept_block");
    if (flash.Has("power_loss_after"))
        p.flash.powerLossAfter = static_cast<uint32_t>(flash.Num("power_loss_after", 0, 0xFFFFFFFF));
    Reader gate{r.Object("wmi_acpi"), r.At("wmi_acpi")};
    p.callGate = gate.Bool("call_gate", false);
    p.nativeSettings = gate.Bool("native_settings", false);
    p.cpuSerialNumber = r.Bool("cpu_serial_number", false);
    ParseFaults(r, p);
    std::string kind = r.Text("kind", "simulated");
    if (kind != "simulated" && kind != "host") Fault("kind", "must be \"simulated\" or \"host\"");
    p.host = kind == "host";
    Reader host{r.Object("host"), r.At("host")};
    if (r.Has("host") && !p.host) Fault("host", "needs \"kind\": \"host\"");
    p.hostAttributes = host.Text("firmware_attributes", "/sys/class/firmware-attributes");
    p.hostDmiTables = host.Text("dmi_tables", "/sys/firmware/dmi/tables");
    p.hostDmiDump = host.Text("dmi_dump", "");
    if (p.host && (p.systemObjects || !p.objects.empty()))
        Fault("system_objects", "a host machine's objects are the host's firmware attributes");
    CheckFirmwareLimits(p);
    return p;
}

}  // namespace

WindowsDescription ParseInstalledWindows(const std::string& text, const std::string& origin) {
    try {
        Json j = ParseTop(text, [](int depth, Json::parse_event_t event, Json& parsed) {
            return depth != 1 || event != Json::parse_event_t::key || parsed == "windows";
        });
        WindowsDescription w;
        Reader r{j, ""};
        ParseWindows(Reader{r.Object("windows"), r.At("windows")}, w);
        return w;
    } catch (const FieldFault& fault) {
        throw std::runtime_error(Describe("machine profile " + origin, fault));
    }
}

Profile ParseProfile(const std::string& text, const std::string& origin) {
    try {
        return ParseFields(ParseTop(text, nullptr), origin);
    } catch (const FieldFault& fault) {
        throw std::runtime_error(Describe("machine profile " + origin, fault));
    } catch (const Json::exception& e) {  // a member whose kind no check above expected
        throw std::runtime_error(Describe("machine profile " + origin, FieldFault{"", e.what()}));
    }
}

}  // namespace qv::machine
