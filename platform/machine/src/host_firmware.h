// The firmware of the PC this runs on, through the kernel's firmware-attributes class and its SMBIOS tables
// (a machine profile of kind "host", docs/machine-profiles.md). The system objects, the string table, their
// values and writes, the setup password, the lock, the factory defaults and the SMBIOS tables come from the
// files of the running kernel at the moment of each call; every other part of the machine (INT 15h functions
// beyond these, the buses, physical memory, the flash part) is the simulated firmware's.
//
// The firmware's own rules on top of the kernel's: before a write it checks the value against what the tree
// publishes (possible_values, min_value/max_value/scalar_increment, min_length/max_length, elements), and it
// refuses a write while a setup password is set and none was given, so that a tree that is a plain folder
// refuses what a kernel driver would. What the kernel refuses (write() failing) comes back as its errno turned
// into a firmware status; nothing is stored in the machine's state.
#pragma once

#include "firmware_attributes.h"
#include "simulated_firmware.h"

#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

namespace qv::machine {

// One system object of the host: an attribute, a driver's pending_reboot, or a password.
struct HostObject {
    enum class Source { Attribute, PendingReboot, Password };
    Source source = Source::Attribute;
    FirmwareAttribute attribute;  // Attribute
    std::filesystem::path file;   // PendingReboot: the pending_reboot file; Password: the authentication folder
    ObjectType type = ObjectType::Enum;
    std::string name;                  // Windows-1252, unique among the objects
    std::string menu;                  // the driver's folder name (Windows-1252)
    std::vector<std::string> choices;  // enumeration choices / ordered-list items as the kernel spells them
    uint32_t maxLength = 0;            // texts and passwords
    bool integerAsText = false;        // an integer whose bounds the firmware's 32 bits cannot hold: read-only text
};

// What the host's firmware keeps in the process that calls it (the library's driver), never in the machine's
// state: the objects as the last list read found them (their descriptions; values are always read again) and
// the setup password given to unlock the objects, until they are locked again or the process ends.
struct HostSession {
    bool known = false;
    std::vector<HostObject> objects;  // list index - 1
    std::vector<std::string> english;
    std::unordered_map<std::string, uint16_t> ids;
    Bytes table;             // the English string table's value
    bool listSized = false;  // the list size was just read: the list that follows is the one it sized
    bool unlocked = false;
    std::string password;  // the kernel's text of the setup password given to unlock
    ~HostSession();
};

class HostFirmware final : public Firmware {
public:
    // `rest` answers everything this firmware does not take from the host.
    HostFirmware(const Profile& profile, SimulatedFirmware& rest, HostSession& session);

    CallOutcome Int15(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit) override;
    CallOutcome Interrupt(uint16_t number, Registers& regs, RealModeMemory& memory) override;
    CallOutcome PciBios(Registers& regs) override { return rest_.PciBios(regs); }
    CallOutcome PnpBios(std::vector<uint16_t>& words, RealModeMemory& memory) override {
        return rest_.PnpBios(words, memory);
    }
    Bytes ReadRomArea(uint32_t address, uint32_t length) override;
    std::optional<uint16_t> SystemIdentifier() override { return rest_.SystemIdentifier(); }
    uint32_t SystemInformationTableAddress() override { return rest_.SystemInformationTableAddress(); }
    std::optional<Bytes> SmbiosEntryPoint() override;
    bool CpuSerialNumberSupported() override { return rest_.CpuSerialNumberSupported(); }
    bool HasCallGate() override { return rest_.HasCallGate(); }
    bool PublishesNativeSettings() override { return rest_.PublishesNativeSettings(); }
    uint32_t FlashSize() override { return rest_.FlashSize(); }
    uint32_t FlashBlockSize() override { return rest_.FlashBlockSize(); }
    uint16_t FlashInterfaceVersion() override { return rest_.FlashInterfaceVersion(); }
    uint8_t ObjectListSize(uint32_t& size, CallOutcome& outcome) override;
    uint8_t ObjectList(Bytes& out, CallOutcome& outcome) override;
    uint8_t ObjectInfo(uint16_t index, Bytes& out, CallOutcome& outcome) override;
    uint8_t ObjectValue(uint16_t index, Bytes& out, CallOutcome& outcome) override;
    uint8_t SetObjectValue(uint16_t index, const Bytes& value, CallOutcome& outcome) override;
    uint8_t ChangeLockState(bool lock, const Bytes& password, CallOutcome& outcome) override;
    uint8_t SetupPasswordState(uint32_t& set, CallOutcome& outcome) override;
    uint8_t SecuritySettings(const Bytes& command, CallOutcome& outcome) override {
        return rest_.SecuritySettings(command, outcome);
    }
    uint8_t FlashWrite(const Bytes& image, const Bytes& password, CallOutcome& outcome) override {
        return rest_.FlashWrite(image, password, outcome);
    }
    uint8_t FlashRead(Bytes& out, uint32_t length, const Bytes& password, CallOutcome& outcome) override {
        return rest_.FlashRead(out, length, password, outcome);
    }
    uint8_t FlashWriteBlock(uint32_t offset, const Bytes& block, const Bytes& password, CallOutcome& outcome) override {
        return rest_.FlashWriteBlock(offset, block, password, outcome);
    }
    uint8_t FlashReadBlock(uint32_t offset, uint32_t size, Bytes& out, const Bytes& password,
                           CallOutcome& outcome) override {
        return rest_.FlashReadBlock(offset, size, out, password, outcome);
    }

private:
    void Refresh();                            // reads the objects' descriptions from the tree
    const HostObject* Object(uint16_t index);  // list index (0 is the string table); null beyond the list
    uint32_t ValueSize(const HostObject& o) const;
    uint8_t Encode(const HostObject& o, Bytes& out);
    // The text to write for a value the library sent, checked against the tree; 0 or the status refusing it.
    uint8_t Decode(const HostObject& o, const Bytes& value, std::string& text);
    uint16_t Id(const std::string& text) const;
    // The authentication that guards the settings (role bios-admin, else the folder "Admin"), if any.
    std::optional<FirmwareAuthentication> Admin() const;
    bool AdminEnabled() const;
    // Writes `text` to `file` with the setup password around it when one is set: 0 or the firmware status.
    uint8_t GuardedWrite(const std::filesystem::path& file, const std::string& text);
    // The authentication of a role (bios-admin or power-on; by folder name Admin or System without one).
    std::optional<FirmwareAuthentication> Authentication(bool powerOn) const;
    // Sets (old empty, none set) or changes a password: 0 or the firmware status.
    uint8_t ChangePassword(const FirmwareAuthentication& auth, const Bytes& oldCodes, const Bytes& newCodes);
    void ChangeSetupPassword(Registers& regs, const Bytes& data);
    void SecureInterface(Registers& regs, RealModeMemory& memory);
    void Defaults(Registers& regs);
    std::optional<Bytes> RomArea();

    const Profile& profile_;
    SimulatedFirmware& rest_;
    HostSession& session_;
};

// The firmware status for a write the kernel refused with `error`; `withPassword`: the setup password was sent.
uint8_t StatusOfKernelError(int error, bool withPassword);

}  // namespace qv::machine
