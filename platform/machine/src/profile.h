// A machine profile, parsed and checked (the JSON format is described in docs/machine-profiles.md).
#pragma once

#include "qv_firmware.h"
#include "qv_machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv::machine {

using Json = nlohmann::json;

enum class ObjectType : uint16_t {
    Enum = 0,
    Text = 1,
    Binary = 2,
    Integer = 3,
    Password = 4,
    StringTable = 5,
    Date = 6,
    Time = 7,
    OrderedList = 8,
    KeyedEnum = 9,
    KeyedInteger = 10
};

struct ObjectDef {
    std::string name;
    ObjectType type = ObjectType::Enum;
    std::vector<std::string> path;     // setup menus, outermost first (at most 6)
    std::vector<std::string> choices;  // enum, keyed enum; the items of an ordered list
    std::vector<std::string> key;      // keyed types: the sub-names (at most 4)
    bool readOnly = false;
    uint16_t flags = 0;          // further information flags, passed through
    uint32_t maxLength = 40;     // text, date, time, password
    uint32_t low = 0, high = 0;  // integer bounds
    Json value;                  // initial value (index / text / number / hex / list of items)
};

struct Language {
    std::string name;
    std::map<std::string, std::string> translations;
};

struct SmbiosStructure {
    uint8_t type = 0;
    Bytes formatted;  // the fields after the 4-byte header
    std::vector<std::string> strings;
};

struct IplDevice {
    std::string description;  // the BBS description text ("HDA-L")
    uint16_t deviceType = 2;  // BBS device type (1 floppy, 2 hard disk, 3 CD-ROM, 5 network...)
};

struct PnpNode {
    std::string id;                    // EISA identifier, "PNP0501"
    uint8_t classCode[3] = {0, 0, 0};  // base, sub-class, interface
};

struct PciFunction {
    uint8_t bus = 0, device = 0, function = 0;
    uint32_t id = 0;         // vendor in the low word, device in the high word
    uint32_t classCode = 0;  // base << 16 | sub << 8 | interface
    uint8_t revision = 0;
    uint8_t headerType = 0;
    uint16_t command = 7;
    uint32_t subsystem = 0;
};

struct FaultRule {
    std::string call;       // prefix of the call kind ("int15.E845", "object.set", "flash.write", ...)
    uint32_t nth = 1;       // the first matching call the rule acts on (1-based)
    uint32_t times = 1;     // how many calls from there on (0 = all)
    std::string action;     // "fail", "status", "ignore-write", "kill"
    uint8_t status = 0x86;  // for "status"
};

// The flash part's geometry as the firmware announces it, and the faults a test gives it. Fault blocks are
// numbered in the part's 4096-byte erase blocks.
struct FlashDef {
    uint32_t size = 0x40000;
    uint32_t blockSize = 4096;  // announced by the call gate's flash information
    uint16_t interfaceVersion = 0x0100;
    std::optional<uint32_t> failingBlock;  // every write of this block fails with failingStatus
    uint8_t failingStatus = 0x8C;
    std::optional<uint32_t> keptBlock;       // writes of this block are accepted, but it keeps its bytes
    std::optional<uint32_t> powerLossAfter;  // the power goes after this many block writes over the machine's life
};

struct Profile {
    std::string name;
    std::string description;
    WindowsDescription windows;

    // ROM bytes
    std::string makerTag;    // 6 bytes at 0xFFFEA
    std::string romVersion;  // 8 bytes at 0xFFFF5
    uint8_t familyDigit = 0, familyLetter = ' ', revision = ' ';
    std::optional<uint16_t> systemId;
    // system information table
    uint8_t machineClass = 1;
    std::string sitProductName;
    // SMBIOS
    bool smbios = false;
    uint8_t smbiosMajor = 2, smbiosMinor = 3;
    std::vector<SmbiosStructure> structures;
    // INT 15h
    bool int15ThirtyTwoBit = true;
    bool e845 = false;
    std::map<uint16_t, uint8_t> e845Settings;
    std::map<uint16_t, std::string> e845Strings;
    uint8_t pxe = 0;
    bool e842 = false;
    bool powerOnFeature = false, longPasswords = false;
    uint32_t securitySupported = 0, securityState = 0;
    bool e841 = false;
    bool e841ThirtyTwoBit = true;  // false: factory defaults only through the 16-bit call
    std::optional<std::string> e819Serial;
    bool e822 = false;
    // passwords (scan codes)
    Bytes setupPassword, powerOnPassword;
    // system objects
    bool systemObjects = false;
    std::vector<Language> languages;  // in list order; one of them is "English"
    std::vector<ObjectDef> objects;
    // Plug and Play, PCI
    bool pnp = false;
    uint16_t bbsVersion = 0x0101;
    std::vector<IplDevice> ipl;
    std::vector<uint8_t> iplPriority;
    std::vector<PnpNode> nodes;
    std::vector<PciFunction> pci;
    // flash, call gate, processor
    FlashDef flash;
    bool callGate = false, nativeSettings = false;
    bool cpuSerialNumber = false;
    std::vector<FaultRule> faults;
    // kind "host": the firmware of the PC this runs on (host_firmware.h), through these files
    bool host = false;
    std::string hostAttributes;  // the firmware-attributes class folder
    std::string hostDmiTables;   // the kernel's SMBIOS tables folder (or a dump file)
    std::string hostDmiDump;     // a dmidecode dump used when hostDmiTables cannot be read ("" for none)
};

// Parses and checks a profile text; throws std::runtime_error("machine profile <origin>: <field>: <reason>").
// Texts that reach the firmware are Windows-1252 bytes in the result.
Profile ParseProfile(const std::string& text, const std::string& origin);
// Refuses (FieldFault, json_fields.h) what the firmware's structures cannot hold: more objects than a 16-bit
// count, a value larger than the object list's 16-bit size, more texts than 16-bit string IDs, a string table
// or an SMBIOS table larger than its 16-bit length, more Plug and Play nodes than byte-sized node numbers.
void CheckFirmwareLimits(const Profile& profile);
// The size of an object's value as the firmware's object list gives it: the name ID and the payload.
size_t ObjectValueSize(const ObjectDef& object);
// The longest text an E845h string read returns for sub-function `sub` (what a profile may give it), and the
// longest any E845h string write stores (what a state may hold).
size_t E845StringLimit(uint16_t sub);
constexpr size_t kLongestE845String = 257;
// Only the "windows" member of a profile text (the rest is skipped, not built): what the version functions
// need, without the cost of a profile with thousands of firmware objects. Throws as ParseProfile does.
WindowsDescription ParseInstalledWindows(const std::string& text, const std::string& origin);

// "1E30" -> {0x1E, 0x30}; throws on odd length or non-hex characters.
Bytes HexBytes(const std::string& hex);
std::string HexText(const Bytes& bytes);

}  // namespace qv::machine
