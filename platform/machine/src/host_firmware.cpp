// The host's firmware through the kernel's firmware-attributes class (host_firmware.h).
//
// The objects: index 0 is the English string table; then every attribute of every driver (drivers and
// attributes in name order), each driver's pending_reboot as the read-only enumeration "Pending Reboot"
// ("No", "Yes"), and the passwords "Setup Password" (role bios-admin, or the folder Admin) and "Power-On
// Password" (role power-on, or the folder System). Types: enumeration 0 (its possible values), string 1 (its
// lengths), integer 3 (its bounds), ordered-list 8 (its elements: the current order first, the elements
// missing from current_value after it as "<element> Disabled"). A setting's name is its display_name (its
// folder name when it has none or another setting has it already), its menu the driver's folder name. An
// attribute whose current_value has no write bit is read-only.
//
// The descriptions are read again by every read of the object list (its size and the list that follows it); values, the read-only state and the
// password state at every call.

#include "host_firmware.h"

#include "byte_fields.h"
#include "dmi_tables.h"
#include "int15_answer.h"
#include "qv_code_page.h"
#include "scan_code_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace fs = std::filesystem;

namespace qv::machine {
namespace {

constexpr uint8_t kKernelFailed = 0x8A;  // the kernel's interface failed (EIO and other write errors)
constexpr uint32_t kLongestText = 0xFFFF - 3;
constexpr uint32_t kDefaultTextLength = 64, kDefaultPasswordLength = 32;
constexpr const char* kPendingReboot = "Pending Reboot";
constexpr uint8_t kSlashKey = 0x35;

// Kernel text (UTF-8) as the firmware's Windows-1252; a character the code page lacks becomes "?".
std::string FirmwareText(const std::string& utf8) {
    if (std::optional<std::string> bytes = Utf8ToWindows1252(utf8)) return *bytes;
    std::string out;
    std::optional<std::u32string> chars = DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(),
                                                     false);
    for (char32_t c : chars.value_or(std::u32string())) {
        std::optional<unsigned char> byte = ToWindows1252(c);
        out.push_back(byte && *byte != 0 ? static_cast<char>(*byte) : '?');
    }
    return out;
}

size_t Characters(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Disabled(const std::string& item) { return item + " Disabled"; }

// The items of an ordered list's current_value that are among its elements, in their order.
std::vector<std::string> CurrentOrder(const HostObject& o, const std::string& current) {
    std::vector<std::string> order;
    for (const std::string& item : SplitList(current))
        if (std::find(o.choices.begin(), o.choices.end(), item) != o.choices.end() &&
            std::find(order.begin(), order.end(), item) == order.end())
            order.push_back(item);
    return order;
}

}  // namespace

HostSession::~HostSession() { std::fill(password.begin(), password.end(), '\0'); }

uint8_t StatusOfKernelError(int error, bool withPassword) {
    switch (error) {
    case 0: return kOk;
    case EINVAL:
    case ERANGE:
    case EOVERFLOW: return kInvalidValue;
    case EACCES:
    case EPERM: return withPassword ? kWrongPassword : kLocked;
    case ENOENT:
    case ENODEV:
    case ENXIO: return kBadObject;
    case EROFS:
    case EOPNOTSUPP: return kUnsupported;
    default: return kKernelFailed;
    }
}

HostFirmware::HostFirmware(const Profile& profile, SimulatedFirmware& rest, HostSession& session)
    : profile_(profile), rest_(rest), session_(session) {}

uint16_t HostFirmware::Id(const std::string& text) const {
    auto it = session_.ids.find(text);
    return it == session_.ids.end() ? 0xFFFF : it->second;
}

void HostFirmware::Refresh() {
    HostSession& s = session_;
    s.objects.clear();
    s.english.clear();
    s.ids.clear();
    std::set<std::string> names;
    auto use = [&](const std::string& text) {
        if (s.english.size() < 0xFFFF && s.ids.emplace(text, static_cast<uint16_t>(s.english.size())).second)
            s.english.push_back(text);
    };
    auto add = [&](HostObject o, const std::vector<std::string>& candidates) {
        for (const std::string& candidate : candidates) {
            std::string name = FirmwareText(candidate);
            if (name.empty() || !names.insert(name).second) continue;
            o.name = name;
            s.objects.push_back(std::move(o));
            return;
        }
    };
    std::optional<FirmwareAuthentication> admin, powerOn;
    for (const fs::path& driver : FirmwareAttributeDrivers(profile_.hostAttributes)) {
        std::string menu = FirmwareText(driver.filename().string());
        for (FirmwareAttribute& a : ReadAttributes(driver)) {
            HostObject o;
            o.menu = menu;
            switch (a.kind) {
            case AttributeKind::Enumeration:
            case AttributeKind::OrderedList: {
                o.type = a.kind == AttributeKind::Enumeration ? ObjectType::Enum : ObjectType::OrderedList;
                o.choices = a.choices;
                // A current value the driver does not list is still the setting's value: it is offered too.
                std::string current = ReadAttributeFile(a.folder / "current_value").value_or("");
                std::vector<std::string> seen = a.kind == AttributeKind::Enumeration ? std::vector<std::string>{current}
                                                                                     : SplitList(current);
                for (const std::string& item : seen)
                    if (!item.empty() && std::find(o.choices.begin(), o.choices.end(), item) == o.choices.end())
                        o.choices.push_back(item);
                if (o.choices.empty() || o.choices.size() > 32764) continue;
                break;
            }
            case AttributeKind::Integer:
                o.type = ObjectType::Integer;
                if (a.minValue < 0 || a.maxValue > 0xFFFFFFFFLL || a.minValue > a.maxValue) {
                    o.type = ObjectType::Text;
                    o.integerAsText = true;
                    o.maxLength = 20;
                }
                break;
            case AttributeKind::String: {
                o.type = ObjectType::Text;
                size_t current = ReadAttributeFile(a.folder / "current_value").value_or("").size();
                o.maxLength = static_cast<uint32_t>(std::min<uint64_t>(
                    kLongestText, a.maxLength.value_or(std::max<size_t>(kDefaultTextLength, current))));
                break;
            }
            case AttributeKind::Other: continue;  // a type the firmware has no object for
            }
            o.attribute = a;
            add(std::move(o), {a.displayName, a.name, a.driver + " " + a.name});
        }
        fs::path pending = driver / "attributes" / "pending_reboot";
        std::error_code ec;
        if (fs::is_regular_file(pending, ec)) {
            HostObject o;
            o.source = HostObject::Source::PendingReboot;
            o.file = pending;
            o.menu = menu;
            o.choices = {"No", "Yes"};
            add(std::move(o), {kPendingReboot, menu + " " + kPendingReboot});
        }
        for (const FirmwareAuthentication& auth : ReadAuthentications(driver)) {
            bool isAdmin = auth.role == "bios-admin" || (auth.role.empty() && auth.name == "Admin");
            bool isPowerOn = auth.role == "power-on" || (auth.role.empty() && auth.name == "System");
            if (isAdmin && !admin) admin = auth;
            if (isPowerOn && !powerOn) powerOn = auth;
        }
    }
    for (auto [auth, name] : {std::pair{&admin, "Setup Password"}, std::pair{&powerOn, "Power-On Password"}}) {
        if (!*auth) continue;
        HostObject o;
        o.source = HostObject::Source::Password;
        o.type = ObjectType::Password;
        o.file = (*auth)->folder;
        o.menu = FirmwareText((*auth)->folder.parent_path().parent_path().filename().string());
        o.maxLength = std::min<uint32_t>(kLongestText, (*auth)->maxLength.value_or(kDefaultPasswordLength));
        add(std::move(o), {name});
    }
    // The string table: "English", then each object's menu, name and choices; objects whose texts would take
    // the table beyond its 16-bit size are left out.
    use("English");
    size_t tableSize = 2 + 8 + 2;
    std::vector<HostObject> kept;
    for (HostObject& o : s.objects) {
        std::vector<std::string> texts = {o.menu, o.name};
        for (const std::string& c : o.choices) texts.push_back(FirmwareText(c));
        if (o.type == ObjectType::OrderedList)
            for (const std::string& c : o.choices) texts.push_back(FirmwareText(Disabled(c)));
        size_t more = 0;
        for (const std::string& t : texts)
            if (!s.ids.count(t)) more += t.size() + 1;
        if (tableSize + more > 0xFFFF || s.english.size() + texts.size() >= 0xFFFF || kept.size() >= 0xFFFE) continue;
        tableSize += more;
        for (const std::string& t : texts) use(t);
        kept.push_back(std::move(o));
    }
    s.objects = std::move(kept);
    s.table = {0, 0};
    for (const std::string& text : s.english) {
        s.table.insert(s.table.end(), text.begin(), text.end());
        s.table.push_back(0);
    }
    s.table.push_back(0xFF);
    s.table.push_back(0xFF);
    s.known = true;
}

const HostObject* HostFirmware::Object(uint16_t index) {
    if (!session_.known) Refresh();
    if (index == 0 || index > session_.objects.size()) return nullptr;
    return &session_.objects[index - 1];
}

uint32_t HostFirmware::ValueSize(const HostObject& o) const {
    size_t n = o.choices.size();
    switch (o.type) {
    case ObjectType::Enum: return static_cast<uint32_t>(4 + 2 * n + 2);
    case ObjectType::OrderedList: return static_cast<uint32_t>(2 + 2 * n + 2);
    case ObjectType::Integer: return 14;
    default: return 2 + o.maxLength + 1;
    }
}

std::optional<FirmwareAuthentication> HostFirmware::Authentication(bool powerOn) const {
    for (const fs::path& driver : FirmwareAttributeDrivers(profile_.hostAttributes))
        for (const FirmwareAuthentication& auth : ReadAuthentications(driver))
            if (auth.role == (powerOn ? "power-on" : "bios-admin") ||
                (auth.role.empty() && auth.name == (powerOn ? "System" : "Admin")))
                return auth;
    return std::nullopt;
}

std::optional<FirmwareAuthentication> HostFirmware::Admin() const { return Authentication(false); }

bool HostFirmware::AdminEnabled() const {
    std::optional<FirmwareAuthentication> admin = Admin();
    return admin && ReadAttributeFile(admin->folder / "is_enabled").value_or("0") == "1";
}

uint8_t HostFirmware::ObjectListSize(uint32_t& size, CallOutcome&) {
    Refresh();
    session_.listSized = true;
    if (session_.objects.empty()) return kUnsupported;
    size = static_cast<uint32_t>(4 + 8 * (session_.objects.size() + 1));
    return kOk;
}

uint8_t HostFirmware::ObjectList(Bytes& out, CallOutcome&) {
    // A read of the objects asks for the list's size and then for the list: both describe the tree as the
    // size call found it, so that the list fits the buffer sized for it. Any other list call reads it again.
    if (!session_.listSized) Refresh();
    session_.listSized = false;
    if (session_.objects.empty()) return kUnsupported;
    out.clear();
    PutU16(out, static_cast<uint16_t>(session_.objects.size() + 1));
    PutU16(out, 0);
    for (size_t i = 0; i <= session_.objects.size(); ++i) {
        PutU16(out, static_cast<uint16_t>(i));
        PutU16(out, i == 0 ? 5 : static_cast<uint16_t>(session_.objects[i - 1].type));
        PutU16(out, static_cast<uint16_t>(i == 0 ? session_.table.size() : ValueSize(session_.objects[i - 1])));
        PutU16(out, 0);
    }
    return kOk;
}

uint8_t HostFirmware::ObjectInfo(uint16_t index, Bytes& out, CallOutcome&) {
    if (!session_.known) Refresh();
    out.clear();
    if (index == 0) {
        PutU16(out, 5);
        PutU16(out, 2);
        PutU32(out, static_cast<uint32_t>(session_.table.size()));
        for (int i = 0; i < 6; ++i) PutU16(out, 0xFFFF);
        return kOk;
    }
    const HostObject* o = Object(index);
    if (o == nullptr) return kBadObject;
    bool readOnly = o->source == HostObject::Source::PendingReboot || o->integerAsText ||
                    (o->source == HostObject::Source::Attribute && !Writable(o->attribute.folder / "current_value"));
    PutU16(out, static_cast<uint16_t>(o->type));
    PutU16(out, readOnly ? 2 : 0);
    PutU32(out, ValueSize(*o));
    PutU16(out, Id(o->menu));
    for (int i = 0; i < 5; ++i) PutU16(out, 0xFFFF);
    return kOk;
}

uint8_t HostFirmware::Encode(const HostObject& o, Bytes& b) {
    b.clear();
    PutU16(b, Id(o.name));
    std::string current;
    if (o.source == HostObject::Source::Attribute) {
        std::optional<std::string> read = ReadAttributeFile(o.attribute.folder / "current_value");
        if (!read) return StatusOfKernelError(errno, false);
        current = *read;
    } else if (o.source == HostObject::Source::PendingReboot) {
        std::optional<std::string> read = ReadAttributeFile(o.file);
        if (!read) return StatusOfKernelError(errno, false);
        current = *read == "1" ? "Yes" : "No";
    }
    switch (o.type) {
    case ObjectType::Enum: {
        auto it = std::find(o.choices.begin(), o.choices.end(), current);
        if (it == o.choices.end()) return kKernelFailed;  // a value the last list read did not offer
        PutU16(b, static_cast<uint16_t>(it - o.choices.begin()));
        for (const std::string& c : o.choices) PutU16(b, Id(FirmwareText(c)));
        PutU16(b, 0xFFFF);
        break;
    }
    case ObjectType::OrderedList: {
        std::vector<std::string> order = CurrentOrder(o, current);
        for (const std::string& item : order) PutU16(b, Id(FirmwareText(item)));
        for (const std::string& item : o.choices)
            if (std::find(order.begin(), order.end(), item) == order.end()) PutU16(b, Id(FirmwareText(Disabled(item))));
        PutU16(b, 0xFFFF);
        break;
    }
    case ObjectType::Integer: {
        char* end = nullptr;
        errno = 0;
        long long n = std::strtoll(current.c_str(), &end, 0);
        if (errno != 0 || end == current.c_str() || *end != '\0' || n < 0 || n > 0xFFFFFFFFLL) return kKernelFailed;
        PutU32(b, static_cast<uint32_t>(o.attribute.minValue));
        PutU32(b, static_cast<uint32_t>(o.attribute.maxValue));
        PutU32(b, static_cast<uint32_t>(n));
        break;
    }
    case ObjectType::Password: break;  // the kernel never shows a password
    default: {
        std::string text = FirmwareText(current).substr(0, o.maxLength);
        b.insert(b.end(), text.begin(), text.end());
        break;
    }
    }
    b.resize(ValueSize(o), 0);
    return kOk;
}

uint8_t HostFirmware::ObjectValue(uint16_t index, Bytes& out, CallOutcome&) {
    if (!session_.known) Refresh();
    if (index == 0) {
        out = session_.table;
        return kOk;
    }
    const HostObject* o = Object(index);
    if (o == nullptr) return kBadObject;
    uint8_t status = Encode(*o, out);
    if (status == kKernelFailed) {  // the tree changed since the list was read: once more with what it is now
        Refresh();
        if ((o = Object(index)) == nullptr) return kBadObject;
        status = Encode(*o, out);
    }
    return status;
}

uint8_t HostFirmware::Decode(const HostObject& o, const Bytes& v, std::string& text) {
    // What the tree publishes now, not what the list read found: the check is the kernel driver's.
    std::optional<FirmwareAttribute> fresh = ReadAttribute(o.attribute.folder);
    if (!fresh || fresh->kind != o.attribute.kind) return kBadObject;
    const FirmwareAttribute& a = *fresh;
    switch (o.type) {
    case ObjectType::Enum: {
        uint16_t index = U16(v, 2);
        if (index >= o.choices.size()) return kInvalidValue;
        text = o.choices[index];
        if (std::find(a.choices.begin(), a.choices.end(), text) == a.choices.end()) return kInvalidValue;
        return kOk;
    }
    case ObjectType::Integer: {
        uint32_t n = U32(v, 10);
        if (n < a.minValue || n > a.maxValue || (n - a.minValue) % a.increment != 0) return kInvalidValue;
        text = std::to_string(n);
        return kOk;
    }
    case ObjectType::OrderedList: {
        std::vector<std::string> order;
        std::vector<bool> seen(o.choices.size(), false);
        size_t entries = 0;
        for (size_t at = 2; at + 1 < v.size(); at += 2) {
            uint16_t id = U16(v, at);
            if (id == 0xFFFF) break;
            size_t k = 0;
            bool enabled = false;
            for (; k < o.choices.size(); ++k) {
                if (Id(FirmwareText(o.choices[k])) == id) {
                    enabled = true;
                    break;
                }
                if (Id(FirmwareText(Disabled(o.choices[k]))) == id) break;
            }
            if (k == o.choices.size() || seen[k]) return kInvalidValue;
            seen[k] = true;
            ++entries;
            if (!enabled) continue;
            if (std::find(a.choices.begin(), a.choices.end(), o.choices[k]) == a.choices.end()) return kInvalidValue;
            order.push_back(o.choices[k]);
        }
        if (entries != o.choices.size() || order.empty()) return kInvalidValue;
        std::string current = ReadAttributeFile(a.folder / "current_value").value_or("");
        std::string separator = current.find(',') != std::string::npos && current.find(';') == std::string::npos ? ","
                                                                                                                 : ";";
        for (size_t i = 0; i < order.size(); ++i) text += (i == 0 ? "" : separator) + order[i];
        return kOk;
    }
    default: {  // texts: blank-padded fields, written without their trailing blanks
        auto end = std::find(v.begin() + 2, v.end(), 0);
        while (end != v.begin() + 2 && *(end - 1) == ' ') --end;
        text = Windows1252ToUtf8(std::string(v.begin() + 2, end));
        size_t length = Characters(text);
        if (a.minLength && length < *a.minLength) return kInvalidValue;
        if (a.maxLength && length > *a.maxLength) return kInvalidValue;
        return kOk;
    }
    }
}

uint8_t HostFirmware::GuardedWrite(const fs::path& file, const std::string& text) {
    std::optional<FirmwareAuthentication> admin = Admin();
    bool guarded = admin && ReadAttributeFile(admin->folder / "is_enabled").value_or("0") == "1";
    if (guarded && !session_.unlocked) return kLocked;
    if (guarded) {
        int error = WriteAttributeFile(admin->folder / "current_password", session_.password);
        if (error != 0) return StatusOfKernelError(error, true);
    }
    int error = WriteAttributeFile(file, text);
    // The password's session ends with the write, whatever became of it.
    if (guarded) WriteAttributeFile(admin->folder / "current_password", "\n");
    return StatusOfKernelError(error, guarded);
}

uint8_t HostFirmware::SetObjectValue(uint16_t index, const Bytes& value, CallOutcome&) {
    session_.listSized = false;
    if (!session_.known) Refresh();
    if (index == 0) return kUnsupported;
    const HostObject* o = Object(index);
    if (o == nullptr) return kBadObject;
    if (o->source != HostObject::Source::Attribute || o->integerAsText) return kUnsupported;
    if (!Writable(o->attribute.folder / "current_value")) return kUnsupported;
    if (value.size() < 4 || U16(value, 0) != Id(o->name)) return kInvalidValue;
    Bytes v(value.begin(), value.begin() + static_cast<ptrdiff_t>(std::min<size_t>(value.size(), ValueSize(*o))));
    v.resize(ValueSize(*o), 0);
    std::string text;
    uint8_t status = Decode(*o, v, text);
    if (status != kOk) return status;
    return GuardedWrite(o->attribute.folder / "current_value", text);
}

uint8_t HostFirmware::SetupPasswordState(uint32_t& set, CallOutcome&) {
    set = AdminEnabled() ? 1 : 0;
    return kOk;
}

uint8_t HostFirmware::ChangeLockState(bool lock, const Bytes& password, CallOutcome&) {
    std::fill(session_.password.begin(), session_.password.end(), '\0');
    session_.password.clear();
    session_.unlocked = false;
    if (lock || !AdminEnabled()) return kOk;
    // The kernel offers no check of a password by itself: it is kept for the writes, which the kernel refuses
    // when it is wrong.
    std::optional<std::string> text = ScanCodesToText(password);
    if (!text) text = Windows1252ToUtf8(std::string(password.begin(), std::find(password.begin(), password.end(), 0)));
    if (text->empty()) return kWrongPassword;
    session_.password = *text;
    session_.unlocked = true;
    std::fill(text->begin(), text->end(), '\0');
    return kOk;
}

uint8_t HostFirmware::ChangePassword(const FirmwareAuthentication& auth, const Bytes& oldCodes, const Bytes& newCodes) {
    std::optional<std::string> old = ScanCodesToText(oldCodes), fresh = ScanCodesToText(newCodes);
    if (!old || !fresh) return kBadPassword;
    if (!fresh->empty() &&
        ((auth.minLength && fresh->size() < *auth.minLength) || (auth.maxLength && fresh->size() > *auth.maxLength)))
        return kBadPassword;
    bool enabled = ReadAttributeFile(auth.folder / "is_enabled").value_or("0") == "1";
    if (enabled && old->empty()) return kWrongPassword;
    int error = WriteAttributeFile(auth.folder / "current_password", enabled ? *old : "\n");
    if (error == 0) error = WriteAttributeFile(auth.folder / "new_password", fresh->empty() ? "\n" : *fresh);
    if (enabled) WriteAttributeFile(auth.folder / "current_password", "\n");
    std::fill(old->begin(), old->end(), '\0');
    std::fill(fresh->begin(), fresh->end(), '\0');
    uint8_t status = StatusOfKernelError(error, enabled);
    return status == kInvalidValue ? static_cast<uint8_t>(kBadPassword) : status;
}

// E845h/11h: old password, the slash key, new password, NUL, as scan codes (a 32-bit call's data area).
void HostFirmware::ChangeSetupPassword(Registers& regs, const Bytes& data) {
    std::optional<FirmwareAuthentication> admin = Admin();
    if (!admin) return Answer(regs, kUnsupported);
    Bytes codes(data.begin(), std::find(data.begin(), data.end(), 0));
    auto slash = std::find(codes.begin(), codes.end(), kSlashKey);
    if (slash == codes.end()) return Answer(regs, kBadPassword);
    Answer(regs, ChangePassword(*admin, Bytes(codes.begin(), slash), Bytes(slash + 1, codes.end())));
    std::fill(codes.begin(), codes.end(), 0);
}

// E842h, the secure interface (EDX "SECU" for every operation but the query): the query announces the
// power-on password and long passwords, with ECX bit 5 when the power-on password is set; 6/0Ah set and change
// the power-on password, 7/0Bh the setup password, the passwords in 33-byte fields at segment:DI and, for the
// second, at the high segment word : ESI. Verifying a password (8) is not offered: the kernel has no check of
// a password by itself.
void HostFirmware::SecureInterface(Registers& regs, RealModeMemory& memory) {
    uint16_t op = static_cast<uint16_t>(regs.eax >> 16);
    if (op != 0 && regs.edx != kSecureSignature) return Answer(regs, kUnsupported);
    std::optional<FirmwareAuthentication> powerOn = Authentication(true);
    auto field = [&](bool second) {
        uint32_t segment = second ? regs.segments >> 16 : regs.segments & 0xFFFF;
        uint32_t at = (segment << 4) + (second ? regs.esi : static_cast<uint16_t>(regs.edi));
        Bytes codes(33, 0);
        if (!memory.Read(at, codes.data(), codes.size())) return Bytes{};
        codes.resize(static_cast<size_t>(std::find(codes.begin(), codes.end(), 0) - codes.begin()));
        return codes;
    };
    switch (op) {
    case 0: {
        bool set = powerOn && ReadAttributeFile(powerOn->folder / "is_enabled").value_or("0") == "1";
        regs.edx = (powerOn ? 1u << 5 : 0) | 1u << 8;
        regs.ecx = set ? 1u << 5 : 0;
        regs.ebx = 0;
        return Answer(regs, kOk);
    }
    case 6:
    case 0xA:
        if (!powerOn) return Answer(regs, kUnsupported);
        return Answer(regs, ChangePassword(*powerOn, op == 6 ? Bytes{} : field(false), field(op == 0xA)));
    case 7:
    case 0xB: {
        std::optional<FirmwareAuthentication> admin = Admin();
        if (!admin) return Answer(regs, kUnsupported);
        return Answer(regs, ChangePassword(*admin, op == 7 ? Bytes{} : field(false), field(op == 0xB)));
    }
    default: return Answer(regs, kUnsupported);
    }
}

// E841h: BH = 0 announces the defaults (a driver with reset_bios), BH = 1 asks for them: "factory" when the
// driver offers it, else its first option, written to reset_bios (the firmware applies it at the next start).
void HostFirmware::Defaults(Registers& regs) {
    fs::path reset;
    for (const fs::path& driver : FirmwareAttributeDrivers(profile_.hostAttributes)) {
        std::error_code ec;
        if (fs::is_regular_file(driver / "attributes" / "reset_bios", ec)) {
            reset = driver / "attributes" / "reset_bios";
            break;
        }
    }
    uint8_t bh = static_cast<uint8_t>(regs.ebx >> 8);
    if (reset.empty() || bh > 1) return Answer(regs, kUnsupported);
    if (bh == 0) return Answer(regs, kOk);
    std::vector<std::string> options = ResetOptions(ReadAttributeFile(reset).value_or(""));
    if (options.empty()) return Answer(regs, kUnsupported);
    auto factory = std::find(options.begin(), options.end(), "factory");
    Answer(regs, GuardedWrite(reset, factory != options.end() ? *factory : options.front()));
}

CallOutcome HostFirmware::Int15(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit) {
    uint16_t ax = static_cast<uint16_t>(regs.eax);
    bool write = static_cast<uint8_t>(regs.ebx) == 1;
    if (ax == 0xE845 && static_cast<uint16_t>(regs.ecx) == 0x11 && write && data != nullptr && thirtyTwoBit) {
        ChangeSetupPassword(regs, *data);
        return {};
    }
    if (ax == 0xE841) {
        Defaults(regs);
        return {};
    }
    if (ax == 0xE842) {
        SecureInterface(regs, memory);
        return {};
    }
    return rest_.Int15(regs, data, memory, thirtyTwoBit);
}

CallOutcome HostFirmware::Interrupt(uint16_t number, Registers& regs, RealModeMemory& memory) {
    if (number == 0x15) return Int15(regs, nullptr, memory, false);
    return rest_.Interrupt(number, regs, memory);
}

std::optional<Bytes> HostFirmware::RomArea() {
    std::optional<DmiTables> tables = ReadDmiTables(profile_.hostDmiTables);
    if (!tables && !profile_.hostDmiDump.empty()) tables = ReadDmiTables(profile_.hostDmiDump);
    if (!tables) return std::nullopt;
    std::optional<Bytes> ep = EntryPointFor(*tables, kSmbiosTable);
    if (!ep) return std::nullopt;
    Bytes area = rest_.ReadRomArea(kRomAreaBase, kRomAreaSize);
    area.resize(kRomAreaSize, 0);
    std::copy(tables->table.begin(), tables->table.end(), area.begin() + (kSmbiosTable - kRomAreaBase));
    std::copy(ep->begin(), ep->end(), area.begin() + (kSmbiosEntryPoint - kRomAreaBase));
    return area;
}

Bytes HostFirmware::ReadRomArea(uint32_t address, uint32_t length) {
    std::optional<Bytes> area = RomArea();
    if (!area) return rest_.ReadRomArea(address, length);
    if (address < kRomAreaBase || address >= kRomAreaBase + kRomAreaSize) return {};
    uint32_t from = address - kRomAreaBase;
    uint32_t count = std::min(length, kRomAreaSize - from);
    return Bytes(area->begin() + from, area->begin() + from + count);
}

std::optional<Bytes> HostFirmware::SmbiosEntryPoint() {
    std::optional<Bytes> area = RomArea();
    if (!area) return std::nullopt;
    return Bytes(area->begin() + (kSmbiosEntryPoint - kRomAreaBase),
                 area->begin() + (kSmbiosEntryPoint - kRomAreaBase) + 31);
}

}  // namespace qv::machine
