#include "settings_reader.h"

#include "text_case.h"

#include <cstring>
#include <vector>

namespace zmrmc {
namespace {

// Settings that stay writable whatever the firmware's information says (some names appear twice).
constexpr const char* kWritableSettings[84] = {
    "Boot Order",
    "Controller Order",
    "Removable Media Boot",
    "Legacy Diskette Write",
    "BIOS DMA Data Transfers",
    "SATA Emulation",
    "IDE Controller",
    "Primary SATA Controller",
    "Secondary SATA Controller",
    "Emulation Type",
    "Multisector Transfers",
    "Transfer Mode",
    "Translation Mode",
    "Emulation Type",
    "Multisector Transfers",
    "Transfer Mode",
    "Diskette A:",
    "Diskette B:",
    "Legacy Storage Controller Boot",
    "Lock Legacy Resources",
    "Network Server Mode",
    "Password Prompt on Warm Boot",
    "Cover Lock",
    "Cover Removal Sensor",
    "Activate Embedded Security On Next Boot",
    "Embedded Security Activation Policy",
    "Smart Card BIOS Password Support",
    "Serial Port A",
    "Serial Port B",
    "Parallel Port",
    "All USB Ports",
    "Front USB Ports",
    "System Audio",
    "Network Controller",
    "Slidebay",
    "SMBUS controller",
    "Network Service Boot",
    "Data Execution Prevention",
    "Master Boot Record Security",
    "Runtime Power Management",
    "Idle Power Savings",
    "ACPI S3 Support",
    "ACPI S3 Hard Disk Reset",
    "ACPI S3 PS2 Mouse Wake Up",
    "SATA Power Management",
    "Fan Idle Mode",
    "POST Mode",
    "POST Messages",
    "F9 Prompt",
    "F10 Prompt",
    "F12 Prompt",
    "Option ROM Prompt",
    "Remote Wakeup Boot Source",
    "After Power Loss",
    "POST Delay (in seconds)",
    "I/O APIC Mode",
    "Hyper-Threading",
    "Limit CPUID Maximum Value to 3",
    "ACPI/USB Buffers @ Top of Memory",
    "Sunday",
    "Monday",
    "Tuesday",
    "Wednesday",
    "Thursday",
    "Friday",
    "Saturday",
    "PCI SERR# Generation",
    "PCI VGA Palette Snooping",
    "Printer Mode",
    "Num Lock State at Power-On",
    "S5 Wake on LAN",
    "Processor Cache",
    "Unique Sleep State Blink Rates",
    "Integrated Video",
    "Integrated Audio",
    "Monitor Tracking",
    "NIC PXE Option ROM Download",
    "Save Current Settings as Default",
    "Asset Tracking Number",
    "Enter Ownership Tag",
    "Legacy Devices",
    "PCI IRQs",
    "Setup Password",
    "Power-On Password",
};

struct Prerequisite {
    const char* setting;
    const char* text;
};

constexpr Prerequisite kPrerequisites[] = {
    {"Boot Order", "SELECT * FROM QV_BIOSEnumeration WHERE MultiBoot=\"Enable\""},
    {"Power-On Password", "SELECT * FROM QV_BIOSPassword WHERE Name=\"Setup Password\" AND IsSet=1"},
};

constexpr uint32_t kInfoSize = 20;
constexpr uint32_t kReadOnlyMinimum = 21;  // read-only objects report too small a size on some firmware

// Locks the system objects again when the read ends, however it ends, after a successful unlock.
class Unlock {
public:
    Unlock(FirmwareCalls& firmware, const char* password)
        : firmware_(firmware),
          password_(password),
          length_(password != nullptr ? static_cast<uint16_t>(std::strlen(password)) : 0) {
        if (firmware_.SetupPasswordSet()) unlocked_ = firmware_.ChangeLockState(password_, length_, false);
    }
    ~Unlock() {
        if (unlocked_) firmware_.ChangeLockState(password_, length_, true);
    }
    Unlock(const Unlock&) = delete;
    Unlock& operator=(const Unlock&) = delete;

private:
    FirmwareCalls& firmware_;
    const char* password_;
    uint16_t length_;
    bool unlocked_ = false;
};

// One system object into the model; objects whose information or value cannot be read are left out.
void ReadObject(SettingsModel& model, SysObjList& objects, uint16_t index) {
    uint8_t wire[kInfoSize] = {};
    ObjectInfo info;
    if (!objects.Info(index, wire, kInfoSize) || !ObjectInfo::Decode(wire, kInfoSize, &info)) return;
    uint32_t size = info.size;
    if ((info.flags & SRI_FLAG_READ_ONLY) != 0 && size <= kInfoSize) size = kReadOnlyMinimum;
    if (size < 2) return;
    std::vector<uint8_t> value(size, 0);
    if (!objects.Value(index, value.data(), size)) return;
    uint16_t name_id = static_cast<uint16_t>(value[0] | (value[1] << 8));
    const char* name = model.FindString(name_id, nullptr);
    if (name[0] != '\0' && IsWritableSettingName(name)) info.flags &= static_cast<uint16_t>(~SRI_FLAG_READ_ONLY);
    // The record keeps the size the firmware reported; the larger read only gave the value room.
    model.AddObject(index, info, value.data(), value.size());
}

}  // namespace

bool IsWritableSettingName(const char* name) {
    for (const char* writable : kWritableSettings)
        if (EqualsIgnoringCase(name, writable)) return true;
    return false;
}

bool ReadSettingsFromSystem(SettingsModel& model, FirmwareCalls& firmware, const char* password) {
    CriticalSectionLock hold(model.Lock());
    if (!model.BeginRead()) return false;
    SysObjList& objects = model.Objects(firmware);
    {
        Unlock unlock(firmware, password);
        uint32_t size = 0;
        if (!objects.ListSize(&size) || size == 0) return false;
        std::vector<uint8_t> list(size, 0);
        if (!objects.List(list.data(), size) || size < 4) return false;
        size_t count = static_cast<size_t>(list[0] | (list[1] << 8));
        for (size_t i = 0; i < count && 4 + 8 * i + 2 <= size; ++i) {
            const uint8_t* entry = list.data() + 4 + 8 * i;
            ReadObject(model, objects, static_cast<uint16_t>(entry[0] | (entry[1] << 8)));
        }
    }
    model.EndRead();
    for (const Prerequisite& row : kPrerequisites) model.AttachPrerequisites(row.setting, row.text);
    return true;
}

}  // namespace zmrmc
