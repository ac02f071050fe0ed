#include "legacy_catalogue.h"

#include "windows.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace zmrmc {
namespace {

constexpr const char* kTexts[kLegacyTextCount] = {
    "English",
    "File",
    "Security",
    "Advanced",
    "Boot Options",
    "Device Options",
    "System Information",
    "Manufacturer",
    "Product Name",
    "Processor Type",
    "Processor Stepping",
    "Cache Size (L1/L2)",
    "Memory Size",
    "ROM Revision",
    "System BIOS",
    "Chassis Serial Number",
    "System IDs",
    "Asset Tracking Number",
    "Enter Ownership Tag",
    "Serial Number",
    "Setup Password",
    "Old password",
    "New password",
    "Verify new password",
    "Power-On Password",
    "Password Options",
    "Stringent Security",
    "Smart Card BIOS Password Support",
    "Device Security",
    "Parallel Port",
    "Serial Port",
    "SD Card Slot",
    "Floppy Drives",
    "Wireless Network Button",
    "Floppy Boot",
    "Legacy Diskette Write",
    "CD-ROM Boot",
    "Fan Always on while on AC Power",
    "Enable",
    "Disable",
    "Device hidden",
    "Device available",
    "Yes",
    "No",
    "MultiBoot",
    "QuickBoot",
    "Num Lock State at Power-On",
    "Network Service Boot",
    "USB Legacy Device Support",
    "Infrared Port",
    "Multiple Pointing Devices",
    "Touch Pad",
    "Pointing Stick",
    "Intel(r) Speedstep(tm) Technology",
    "SmartCard Passwords",
    "SmartCard",
    "Embedded Security",
    "Activate Embedded Security On Next Boot",
    "Embedded Security Activation Policy",
    "No prompts",
    "F1 to Boot",
    "Allow user to reject",
    "Password Prompt on Warm Boot",
    "Boot Order",
    "IDE CD-ROM Drive",
    "Diskette Drive (A:)",
    "Hard Drive (C:)",
    "Network Controller",
    "Notebook Slidebay 1",
    "Notebook Slidebay 2",
    "Base Left Slidebay",
    "Base Right Slidebay",
    "Base Upper Right Slidebay",
    "PCI Slot A",
    "PCI Slot B",
    "PCI Slot C",
    "USB CD ROM",
    "USB Floppy",
    "USB Hard Drive",
    "USB LS-120 Drive",
    "LAN/WLAN Switching",
    "Embedded WLAN Device Radio",
    "Embedded Bluetooth Device Radio",
    "LAN Power Save",
    "Mobile hard drive protection",
    "Data Execution Prevention",
    "--",
};

// System identifiers of the notebook and desktop models whose firmware predates the native system objects
// (one product line's 22 models). A new legacy model is supported by adding its identifier here.
constexpr uint16_t kLegacySystemIds[22] = {
    0x0800, 0x0801, 0x0802, 0x0804, 0x0805, 0x0808, 0x0809, 0x080A, 0x080C, 0x0810, 0x0811,
    0x0812, 0x0813, 0x0814, 0x0815, 0x0816, 0x0818, 0x081A, 0x081C, 0x0820, 0x0821, 0x0824,
};

constexpr uint16_t kNone = 0xFFFF;
// Menu paths: menu and sub-menu string IDs.
struct Path {
    uint16_t menu, submenu;
};
constexpr Path kPathA{1, 6}, kPathB{2, 28}, kPathC{2, 16}, kPathD{2, 54}, kPathE{3, 4}, kPathF{3, 5}, kPathG{2, 5};

constexpr uint16_t kEnable = 38, kDisable = 39, kHidden = 40, kAvailable = 41;
constexpr uint8_t kCarry = 1;
// The asset tag read (E845h/25h) gives a length byte and at most 17 characters in its 18-byte data area.
constexpr size_t kAssetTagRead = 17;

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
uint16_t Get16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Enumeration value after the name ID: index, choices, 0xFFFF.
void PutChoices(uint8_t* value, uint16_t index, const std::vector<uint16_t>& choices) {
    Put16(value + 2, index);
    for (size_t i = 0; i < choices.size(); ++i) Put16(value + 4 + 2 * i, choices[i]);
    Put16(value + 4 + 2 * choices.size(), kNone);
}

// ----------------------------------------------------------------------------------------------------------
class StringTableObject : public LegacySysObj {
public:
    explicit StringTableObject(FirmwareCalls& f) : LegacySysObj("BiosStringTableEnglish", 0, kNone, kNone, true, f) {}
    uint16_t Type() const override { return SRI_TYPE_STRING_TABLE; }
    uint32_t Size() override {
        uint32_t size = 3;
        for (const char* text : kTexts) size += static_cast<uint32_t>(std::strlen(text)) + 1;
        return size;
    }

protected:
    bool ReadPayload(uint8_t* value) override {
        size_t at = 2;
        for (const char* text : kTexts) {
            size_t length = std::strlen(text) + 1;
            std::memcpy(value + at, text, length);
            at += length;
        }
        return true;
    }
    bool WritePayload(const uint8_t*, uint32_t, const char*, uint16_t) override { return false; }
};

// ----------------------------------------------------------------------------------------------------------
// A text taken from the machine's identity; the two tags are written with E845h string calls.
struct TextWrite {
    uint16_t sub_function = 0;  // 0: not writable
    int block = 0;              // register block plus text area
    size_t longest = 0;         // the longest text that reads give back whole; 0: what the block holds
};

class IdentityTextObject : public LegacySysObj {
public:
    IdentityTextObject(FirmwareCalls& f, const char* name, uint16_t id, Path path, bool read_only,
                       FirmwareCalls::Text text, uint32_t size, TextWrite write = {})
        : LegacySysObj(name, id, path.menu, path.submenu, read_only, f), text_(text), size_(size), write_(write) {}
    uint16_t Type() const override { return SRI_TYPE_TEXT; }
    uint32_t Size() override { return size_; }

protected:
    bool ReadPayload(uint8_t* value) override {
        std::string text = firmware_.IdentityText(text_);
        std::memcpy(value + 2, text.data(), std::min<size_t>(text.size(), size_ - 3));
        return true;
    }
    bool WritePayload(const uint8_t* value, uint32_t length, const char*, uint16_t) override {
        if (write_.sub_function == 0) return false;
        std::vector<uint8_t> block(static_cast<size_t>(write_.block), 0);
        ZmrMCRegisterBlock regs{};
        regs.eax = 0xE845;
        regs.ebx = 1;
        regs.ecx = write_.sub_function;
        regs.esi = 0x4351;
        std::memcpy(block.data(), &regs, 40);
        const void* nul = std::memchr(value + 2, 0, length - 2);
        size_t text = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - (value + 2)) : length - 2;
        while (text > 0 && value[2 + text - 1] == ' ') --text;  // the blanks that pad the value are not the tag's
        if (text > block.size() - 40) return false;             // never cut to fit the block
        // A text longer than reads give back would be kept but never shown whole: not written at all.
        if (write_.longest != 0 && text > write_.longest) return false;
        std::memcpy(block.data() + 40, value + 2, text);
        auto* call = reinterpret_cast<ZmrMCRegisterBlock*>(block.data());
        return firmware_.Interrupt15(call, write_.block) && (call->eflags & kCarry) == 0;
    }

private:
    FirmwareCalls::Text text_;
    uint32_t size_;
    TextWrite write_;
};

// ----------------------------------------------------------------------------------------------------------
// Two-choice settings of the E845h call: BL = 0 reads the setting into BH, BL = 1 writes BH.
enum class ReadRule { kNonZero, kZero, kEquals, kBit };
enum class WriteRule { kOneForIndex1, kOneForIndex0, kValueForIndex1, kKeepOtherBits };

struct E845Setting {
    const char* name;
    uint16_t id;
    Path path;
    uint8_t sub_function;
    uint16_t first_choice, second_choice;
    ReadRule read;
    WriteRule write;
    uint8_t operand;  // kEquals / kValueForIndex1: the value; kBit / kKeepOtherBits: the bit number
};

class E845Object : public LegacySysObj {
public:
    E845Object(FirmwareCalls& f, const E845Setting& s)
        : LegacySysObj(s.name, s.id, s.path.menu, s.path.submenu, false, f), s_(s) {}
    uint16_t Type() const override { return SRI_TYPE_ENUM; }
    uint32_t Size() override { return 10; }

protected:
    bool ReadPayload(uint8_t* value) override {
        uint8_t bh;
        if (!Read(&bh)) return false;
        bool second = false;
        switch (s_.read) {
        case ReadRule::kNonZero: second = bh != 0; break;
        case ReadRule::kZero: second = bh == 0; break;
        case ReadRule::kEquals: second = bh == s_.operand; break;
        case ReadRule::kBit: second = (bh >> s_.operand) & 1; break;
        }
        PutChoices(value, second ? 1 : 0, {s_.first_choice, s_.second_choice});
        return true;
    }
    bool WritePayload(const uint8_t* value, uint32_t, const char*, uint16_t) override {
        uint16_t index = Get16(value + 2);
        if (index > 1) return false;  // two choices: any other index is no value of the setting
        uint8_t bh = 0;
        switch (s_.write) {
        case WriteRule::kOneForIndex1: bh = index == 1 ? 1 : 0; break;
        case WriteRule::kOneForIndex0: bh = index == 0 ? 1 : 0; break;
        case WriteRule::kValueForIndex1: bh = index == 1 ? s_.operand : 0; break;
        case WriteRule::kKeepOtherBits: {
            // TouchPad and PointingStick share one sub-function: change only this setting's bit.
            if (!Read(&bh)) return false;
            uint8_t bit = static_cast<uint8_t>(1u << s_.operand);
            bh = index == 1 ? static_cast<uint8_t>(bh | bit) : static_cast<uint8_t>(bh & ~bit);
            break;
        }
        }
        ZmrMCRegisterBlock regs{};
        regs.eax = 0xE845;
        regs.ecx = s_.sub_function;
        regs.ebx = 1u | static_cast<uint32_t>(bh) << 8;
        return firmware_.Interrupt15(&regs, 40) && (regs.eflags & kCarry) == 0;
    }

private:
    bool Read(uint8_t* bh) {
        ZmrMCRegisterBlock regs{};
        regs.eax = 0xE845;
        regs.ecx = s_.sub_function;
        if (!firmware_.Interrupt15(&regs, 40) || (regs.eflags & kCarry) != 0 || ((regs.eax >> 8) & 0xFF) != 0)
            return false;
        *bh = static_cast<uint8_t>(regs.ebx >> 8);
        return true;
    }

    E845Setting s_;
};

// ----------------------------------------------------------------------------------------------------------
// Settings of the E842h security call: ECX tells which bits the firmware supports, EBX holds their state.
// A write sends the new bits with their mask and the setup password in a 73-byte block.
class SecurityObject : public LegacySysObj {
public:
    SecurityObject(FirmwareCalls& f, const char* name, uint16_t id, Path path, uint32_t mask,
                   std::vector<uint16_t> choices, std::vector<uint32_t> index_bits)
        : LegacySysObj(name, id, path.menu, path.submenu, false, f),
          mask_(mask),
          choices_(std::move(choices)),
          index_bits_(std::move(index_bits)) {}
    uint16_t Type() const override { return SRI_TYPE_ENUM; }
    uint32_t Size() override { return static_cast<uint32_t>(6 + 2 * choices_.size()); }

protected:
    bool ReadPayload(uint8_t* value) override {
        ZmrMCRegisterBlock regs{};
        regs.eax = 0xE842;
        if (!firmware_.Interrupt15(&regs, 40) || (regs.eflags & kCarry) != 0) return false;
        if ((regs.ecx & mask_) != mask_) return false;  // the firmware does not offer this setting
        uint32_t state = regs.ebx & mask_;
        uint16_t index = 0;
        for (size_t i = 0; i < index_bits_.size(); ++i) {
            if (index_bits_[i] != 0 ? (state & index_bits_[i]) != 0 : state == 0) {
                index = static_cast<uint16_t>(i);
                break;
            }
        }
        PutChoices(value, index, choices_);
        return true;
    }
    bool WritePayload(const uint8_t* value, uint32_t, const char* password, uint16_t password_length) override {
        if (!IsSupported()) return false;
        uint16_t index = Get16(value + 2);
        if (index >= index_bits_.size()) return false;
        uint8_t block[73] = {};
        ZmrMCRegisterBlock regs{};
        regs.eax = 0x0001E842;
        regs.ebx = index_bits_[index];
        regs.ecx = mask_;
        regs.edx = 0x53454355;  // "SECU"
        std::memcpy(block, &regs, 40);
        // The password travels NUL-terminated in a 33-byte field: a longer one is never cut to fit.
        if (password_length > 32) return false;
        if (password != nullptr) std::memcpy(block + 40, password, password_length);
        auto* call = reinterpret_cast<ZmrMCRegisterBlock*>(block);
        bool written = firmware_.Interrupt15(call, sizeof block) && (call->eflags & kCarry) == 0;
        SecureZeroMemory(block, sizeof block);
        return written;
    }

private:
    uint32_t mask_;
    std::vector<uint16_t> choices_;
    std::vector<uint32_t> index_bits_;  // per index the bits it stands for (0: none of the mask)
};

// ----------------------------------------------------------------------------------------------------------
// Passwords are changed through the password functions; here they read as an empty text.
class PasswordObject : public LegacySysObj {
public:
    PasswordObject(FirmwareCalls& f, const char* name, uint16_t id)
        : LegacySysObj(name, id, kPathC.menu, kPathC.submenu, false, f) {}
    uint16_t Type() const override { return SRI_TYPE_PASSWORD; }
    uint32_t Size() override { return 131; }

protected:
    bool ReadPayload(uint8_t*) override { return true; }
    bool WritePayload(const uint8_t*, uint32_t, const char*, uint16_t) override { return false; }
};

// ----------------------------------------------------------------------------------------------------------
// The boot order as string IDs of the devices' display names, in priority order.
class BootOrderObject : public LegacySysObj {
public:
    BootOrderObject(FirmwareCalls& f, BootDevices& boot)
        : LegacySysObj("BootOrder", 63, kPathE.menu, kPathE.submenu, false, f), boot_(boot) {}
    uint16_t Type() const override { return SRI_TYPE_ORDERED_LIST; }
    uint32_t Size() override {
        if (!boot_.Loaded()) boot_.Load();
        return static_cast<uint32_t>(2 * boot_.Names().size() + 4);
    }
    // Every read shows the firmware's current order (the priority may have been set since).
    bool GetValue(void* buffer, uint32_t length) override {
        return IsSupported() && boot_.Load() && LegacySysObj::GetValue(buffer, length);
    }

protected:
    bool ReadPayload(uint8_t* value) override {
        const std::vector<std::string>& names = boot_.Names();
        if (names.empty()) return false;
        size_t at = 2;
        for (const std::string& name : names) {
            uint16_t id = 86;
            for (uint16_t t = 0; t < kLegacyTextCount; ++t)
                if (name == kTexts[t]) {
                    id = t;
                    break;
                }
            Put16(value + at, id);
            at += 2;
        }
        Put16(value + at, kNone);
        return true;
    }
    bool WritePayload(const uint8_t* value, uint32_t length, const char*, uint16_t) override {
        if (!IsSupported()) return false;
        std::vector<std::string> names;
        for (uint32_t i = 0; i < (length - 4) / 2; ++i) {
            uint16_t id = Get16(value + 2 + 2 * i);
            if (id >= kLegacyTextCount) break;
            names.emplace_back(kTexts[id]);
        }
        return boot_.SetOrder(names);
    }

private:
    BootDevices& boot_;
};

// The E845h settings in catalogue order, each with its place among the other objects.
constexpr E845Setting kDeviceSecurity[] = {
    {"SerialPort", 30, kPathB, 0x46, kHidden, kAvailable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"ParallelPort", 29, kPathB, 0x3E, kHidden, kAvailable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"InfraredPort", 49, kPathB, 0x02, kHidden, kAvailable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"WlanButton", 33, kPathB, 0x62, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"FloppyDrive", 32, kPathB, 0x49, kHidden, kAvailable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"FloppyBoot", 34, kPathB, 0x23, kDisable, kEnable, ReadRule::kZero, WriteRule::kOneForIndex0, 0},
    {"FloppyWrite", 35, kPathB, 0x24, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"CdromBoot", 36, kPathB, 0x3F, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"NicBoot", 47, kPathB, 0x39, kDisable, kEnable, ReadRule::kEquals, WriteRule::kOneForIndex1, 1},
};

constexpr E845Setting kBootAndDevices[] = {
    {"MultiBoot", 44, kPathE, 0x4A, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"QuickBoot", 45, kPathE, 0x19, kDisable, kEnable, ReadRule::kEquals, WriteRule::kValueForIndex1, 31},
    {"NumLock", 46, kPathF, 0x4B, kDisable, kEnable, ReadRule::kEquals, WriteRule::kOneForIndex1, 1},
    {"MultiplePointingDevices", 50, kPathF, 0x41, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"TouchPad", 51, kPathF, 0x61, kEnable, kDisable, ReadRule::kBit, WriteRule::kKeepOtherBits, 1},
    {"PointingStick", 52, kPathF, 0x61, kEnable, kDisable, ReadRule::kBit, WriteRule::kKeepOtherBits, 0},
    {"SpeedStep", 53, kPathF, 0x53, kEnable, kDisable, ReadRule::kZero, WriteRule::kOneForIndex0, 0},
    {"USBLegacySupport", 48, kPathF, 0x17, kDisable, kEnable, ReadRule::kEquals, WriteRule::kOneForIndex1, 1},
    {"FanAlwaysOn", 37, kPathF, 0x67, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"WirelessFeatures", 80, kPathF, 0x78, kDisable, kEnable, ReadRule::kBit, WriteRule::kOneForIndex1, 4},
    {"WirelessLanState", 81, kPathF, 0x79, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"BluetoothDeviceState", 82, kPathF, 0x7A, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"LanPowerState", 83, kPathF, 0x7B, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"MobileHardDriveProtection", 84, kPathG, 0x7C, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
    {"PaeNxDep", 85, kPathF, 0x7E, kDisable, kEnable, ReadRule::kNonZero, WriteRule::kOneForIndex1, 0},
};

}  // namespace

const char* LegacyText(uint16_t id) { return id < kLegacyTextCount ? kTexts[id] : nullptr; }

bool IsLegacySystemId(uint16_t system_id) {
    return std::find(std::begin(kLegacySystemIds), std::end(kLegacySystemIds), system_id) != std::end(kLegacySystemIds);
}

std::vector<std::unique_ptr<LegacySysObj>> CreateLegacyCatalogue(FirmwareCalls& f, BootDevices& boot) {
    using Text = FirmwareCalls::Text;
    std::vector<std::unique_ptr<LegacySysObj>> list;
    list.push_back(std::make_unique<StringTableObject>(f));
    list.push_back(std::make_unique<IdentityTextObject>(f, "Manufacturer", 7, kPathA, true, Text::kManufacturer, 43));
    list.push_back(std::make_unique<IdentityTextObject>(f, "Model", 8, kPathA, true, Text::kProduct, 43));
    list.push_back(std::make_unique<IdentityTextObject>(f, "SerialNumber", 19, kPathA, true, Text::kSerialNumber, 43));
    list.push_back(std::make_unique<SecurityObject>(
        f, "SmartCard", 55, kPathD, 0x800, std::vector<uint16_t>{kDisable, kEnable}, std::vector<uint32_t>{0, 0x800}));
    for (const E845Setting& s : kDeviceSecurity) list.push_back(std::make_unique<E845Object>(f, s));
    list.push_back(std::make_unique<SecurityObject>(f, "EmbeddedSecurityActivationPolicy", 58, kPathB, 0x60000,
                                                    std::vector<uint16_t>{59, 60, 61},
                                                    std::vector<uint32_t>{0x20000, 0, 0x40000}));
    list.push_back(std::make_unique<SecurityObject>(f, "ActivateEmbeddedSecurityOnNextBoot", 57, kPathB, 0x10000,
                                                    std::vector<uint16_t>{kDisable, kEnable},
                                                    std::vector<uint32_t>{0, 0x10000}));
    list.push_back(std::make_unique<SecurityObject>(f, "RequirePasswordOnRestart", 62, kPathB, 0x1000,
                                                    std::vector<uint16_t>{kDisable, kEnable},
                                                    std::vector<uint32_t>{0, 0x1000}));
    list.push_back(std::make_unique<IdentityTextObject>(f, "EnterAssetTag", 17, kPathC, false, Text::kAssetTag, 43,
                                                        TextWrite{0x25, 104, kAssetTagRead}));
    list.push_back(std::make_unique<IdentityTextObject>(f, "EnterOwnerTag", 18, kPathC, false, Text::kOwnership, 83,
                                                        TextWrite{0x13, 160}));
    list.push_back(std::make_unique<PasswordObject>(f, "SetupPassword", 20));
    list.push_back(std::make_unique<PasswordObject>(f, "PowerOnPassword", 24));
    list.push_back(std::make_unique<BootOrderObject>(f, boot));
    for (const E845Setting& s : kBootAndDevices) list.push_back(std::make_unique<E845Object>(f, s));
    return list;
}

}  // namespace zmrmc
