// The firmware of a machine profile, working on the machine's state for one transaction.
#pragma once

#include "profile.h"
#include "qv_firmware.h"

#include <filesystem>
#include <unordered_map>

namespace qv::machine {

// Status and AH codes this firmware answers with (documented in docs/machine-profiles.md).
enum : uint8_t {
    kOk = 0x00,
    kBadObject = 0x80,
    kPnpUnknownFunction = 0x81,
    kPnpBadParameter = 0x84,
    kLocked = 0x85,
    kUnsupported = 0x86,
    kWrongPassword = 0x87,
    kBadPassword = 0x88,
    kInvalidValue = 0x89,
    kFlashSize = 0x8B,
};

// Physical layout of the ROM area.
constexpr uint32_t kRomAreaBase = 0xE0000;
constexpr uint32_t kRomAreaSize = 0x20000;
constexpr uint32_t kSmbiosTable = 0xE0000;
constexpr uint32_t kSitAddress = 0xF0100;
constexpr uint32_t kSmbiosEntryPoint = 0xF0400;
constexpr uint32_t kIplTexts = 0xF0800;  // 32 bytes per boot device

// The state keys of the two passwords.
constexpr const char* kSetupPassword = "setup_password";
constexpr const char* kPowerOnPassword = "power_on_password";

// The English string table of the system objects and its translations, and the object list.
struct ObjectCatalogue {
    std::vector<std::string> english;               // index = string ID; 0 is "English"
    std::unordered_map<std::string, uint16_t> ids;  // text -> string ID, for machines with many objects
    std::vector<Bytes> tables;                      // TableValue of each of the profile's languages, in profile order
    uint16_t Id(const std::string& text) const;
    Bytes TableValue(const Language& language) const;
};
ObjectCatalogue BuildCatalogue(const Profile& profile);
// The text of ordered-list entry `entry`: item `entry`, or for entry = item count + k item k disabled.
std::string ListItemText(const ObjectDef& o, size_t entry);
// The state key of the password a password object shows, or null.
const char* PasswordKeyOf(const ObjectDef& o);

// The bytes of the ROM area (kRomAreaBase .. +kRomAreaSize) for the profile.
Bytes BuildRomArea(const Profile& profile);
Bytes SmbiosEntryPointBytes(const Profile& profile);

class SimulatedFirmware final : public Firmware {
public:
    // `catalogue` is BuildCatalogue(profile), built once per machine; `romArea` is empty or BuildRomArea(profile)
    // (the firmware builds it there when it first needs it, so it is built once per machine too); `dir` is the
    // machine's folder. All must outlive the firmware (one transaction).
    SimulatedFirmware(const Profile& profile, const ObjectCatalogue& catalogue, Bytes& romArea, Json& state,
                      const std::filesystem::path& dir);
    bool StateChanged() const { return changed_; }

    CallOutcome Int15(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit) override;
    CallOutcome Interrupt(uint16_t number, Registers& regs, RealModeMemory& memory) override;
    CallOutcome PciBios(Registers& regs) override;
    CallOutcome PnpBios(std::vector<uint16_t>& words, RealModeMemory& memory) override;
    Bytes ReadRomArea(uint32_t address, uint32_t length) override;
    std::optional<uint16_t> SystemIdentifier() override;
    uint32_t SystemInformationTableAddress() override;
    std::optional<Bytes> SmbiosEntryPoint() override;
    bool CpuSerialNumberSupported() override;
    bool HasCallGate() override { return profile_.callGate; }
    bool PublishesNativeSettings() override { return profile_.nativeSettings; }
    uint32_t FlashSize() override { return profile_.flashSize; }
    uint8_t ObjectListSize(uint32_t& size, CallOutcome& outcome) override;
    uint8_t ObjectList(Bytes& out, CallOutcome& outcome) override;
    uint8_t ObjectInfo(uint16_t index, Bytes& out, CallOutcome& outcome) override;
    uint8_t ObjectValue(uint16_t index, Bytes& out, CallOutcome& outcome) override;
    uint8_t SetObjectValue(uint16_t index, const Bytes& value, CallOutcome& outcome) override;
    uint8_t ChangeLockState(bool lock, const Bytes& password, CallOutcome& outcome) override;
    uint8_t SetupPasswordState(uint32_t& set, CallOutcome& outcome) override;
    uint8_t SecuritySettings(const Bytes& command, CallOutcome& outcome) override;
    uint8_t FlashWrite(const Bytes& image, const Bytes& password, CallOutcome& outcome) override;
    uint8_t FlashRead(Bytes& out, uint32_t length, const Bytes& password, CallOutcome& outcome) override;

private:
    struct Injected {
        bool fail = false;
        std::optional<uint8_t> status;
    };
    // Applies the fault rules to a call of `kind`; sets ignoreWrites_ for an "ignore-write" rule.
    Injected Inject(const std::string& kind);
    [[noreturn]] void Killed();
    void Set(const std::string& key, Json value);  // stores unless writes are ignored
    Json& State(const std::string& key) { return state_[key]; }
    // Passwords (firmware_passwords.cpp), by their state key.
    void HashPlainPasswords();
    bool PasswordSet(const char* key) const;
    bool PasswordIs(const char* key, const Bytes& given) const;  // given: scan codes, NUL-terminated or not
    void StorePassword(const char* key, const Bytes& codes);     // stores unless writes are ignored
    std::string PasswordDigestText(const char* key) const;       // the 40-character digest, "" when none
    bool Locked() const;

    void E845(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit);
    void E842(Registers& regs, RealModeMemory& memory);
    void E841(Registers& regs);
    void E819(Registers& regs, Bytes* data, RealModeMemory& memory);
    // firmware_security.cpp
    uint8_t WriteSecurityBits(uint32_t bits, uint32_t mask, const Bytes& password);
    uint8_t WriteAssetTag(const std::string& tag);

    // The object at a list index: string tables first, then the profile's objects.
    size_t ObjectCount() const;
    Bytes EncodeObject(uint16_t index) const;
    uint32_t ObjectSize(uint16_t index) const;

    const Profile& profile_;
    Json& state_;
    const std::filesystem::path& dir_;
    const ObjectCatalogue& catalogue_;
    Bytes& romArea_;
    bool changed_ = false;
    bool ignoreWrites_ = false;
};

}  // namespace qv::machine
