// The legacy catalogue, the object-list reader, the boot devices and the settings read over a scripted
// firmware that records every call.

#include "boot_devices.h"
#include "legacy_catalogue.h"
#include "settings_reader.h"
#include "sys_obj_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using zmrmc::FirmwareCalls;

class ScriptedFirmware : public FirmwareCalls {
public:
    // Native objects: the list size answered (0: none).
    uint32_t native_size = 0;
    uint16_t system_id = 0x0815;
    std::map<uint8_t, uint8_t> e845;  // sub-function -> BH
    bool e842 = true;
    uint32_t security_supported = 0x71800, security_state = 0;
    std::vector<std::vector<uint8_t>> interrupt_calls;  // every 16-bit call's block as sent
    std::vector<std::string> lock_calls;                // "unlock:<pw>" / "lock:<pw>"
    bool password_set = false, unlock_works = true;
    int list_size_calls = 0;
    // Boot devices: descriptions at physical 0xF0000 + 0x100 + 32 * entry; the priority list.
    uint16_t bbs_version = 0x0101;
    std::vector<std::string> descriptions;
    std::vector<uint8_t> priority;
    std::vector<uint8_t> written_priority;
    std::vector<uint8_t> memory = std::vector<uint8_t>(0x10000, 0);  // the F segment

    bool ObjectListSize(uint32_t* size) override {
        ++list_size_calls;
        *size = native_size;
        return native_size != 0;
    }
    bool ObjectList(void*, uint32_t) override { return false; }
    bool ObjectInfo(uint16_t, void*, uint32_t) override { return false; }
    bool ObjectValue(uint16_t, void*, uint32_t) override { return false; }
    bool SetObjectValue(uint16_t, const void*, uint32_t) override { return false; }
    bool SetupPasswordSet() override { return password_set; }
    bool ChangeLockState(const char* password, uint16_t, bool lock) override {
        lock_calls.push_back(std::string(lock ? "lock:" : "unlock:") + (password ? password : ""));
        return unlock_works;
    }
    uint16_t MachineId() override { return system_id; }
    bool Interrupt15(ZmrMCRegisterBlock* regs, int size) override {
        auto* bytes = reinterpret_cast<uint8_t*>(regs);
        interrupt_calls.emplace_back(bytes, bytes + size);
        uint16_t ax = static_cast<uint16_t>(regs->eax);
        auto answer = [&](uint8_t ah) {
            regs->eax = (regs->eax & 0xFFFF00FFu) | (static_cast<uint32_t>(ah) << 8);
            regs->eflags = ah != 0 ? 1 : 0;
            return ah == 0;
        };
        if (ax == 0xE845) {
            uint8_t sub = static_cast<uint8_t>(regs->ecx);
            if (sub == 0x25 || sub == 0x13) return answer(0);
            auto it = e845.find(sub);
            if (it == e845.end()) return answer(0x86);
            if ((regs->ebx & 0xFF) == 1)
                it->second = static_cast<uint8_t>(regs->ebx >> 8);
            else
                regs->ebx = static_cast<uint32_t>(it->second) << 8;
            return answer(0);
        }
        if (ax == 0xE842 && e842) {
            if (regs->eax >> 16 == 0) {
                regs->ecx = security_supported;
                regs->ebx = security_state;
            } else {
                security_state = (security_state & ~regs->ecx) | (regs->ebx & regs->ecx);
            }
            return answer(0);
        }
        return answer(0x86);
    }
    bool Int15(ZmrMCRegisterBlock*, int) override { return false; }
    ZmrMCStatus ChangeAdminPassword(const char*, const char*) override { return ZMRMC_E_FAIL; }
    ZmrMCStatus ChangePowerOnPassword(const char*, const char*) override { return ZMRMC_E_FAIL; }
    bool SecuritySettings(const void*, int) override { return false; }
    std::string IdentityText(Text which) override {
        return which == Text::kManufacturer ? "Brevik" : which == Text::kOwnership ? std::string(100, 'o') : "";
    }
    bool IplDeviceInfo(ZmrMCIplInfo* info, int* maxCount, int* entrySize, int* tableSize) override {
        *info = {};
        *maxCount = *entrySize = *tableSize = 0;
        if (bbs_version != 0x0100 && bbs_version != 0x0101) return false;
        *info = {bbs_version, static_cast<uint16_t>(descriptions.size()), 8, 16};
        *maxCount = 8;
        *entrySize = 16;
        *tableSize = 17 * 8;
        return true;
    }
    bool IplTable(unsigned char* buffer, int length, int, int) override {
        std::memset(buffer, 0, static_cast<size_t>(length));
        for (size_t i = 0; i < priority.size(); ++i) buffer[i] = priority[i];
        for (size_t i = 0; i < descriptions.size(); ++i) {
            uint32_t pointer = 0xF0000000u | static_cast<uint32_t>(0x100 + 32 * i);
            std::memcpy(buffer + 8 + 16 * i + 8, &pointer, 4);
            std::memcpy(memory.data() + 0x100 + 32 * i, descriptions[i].c_str(), descriptions[i].size() + 1);
        }
        return true;
    }
    bool SetIplPriority(const unsigned char* list, int count) override {
        written_priority.assign(list, list + count);
        return true;
    }
    uint32_t ReadPhysical(uint32_t address, void* buffer, uint32_t length) override {
        if (address < 0xF0000 || address >= 0x100000) return 0;
        uint32_t count = std::min<uint32_t>(length, 0x100000 - address);
        std::memcpy(buffer, memory.data() + (address - 0xF0000), count);
        return count;
    }
};

// The value of the object in slot `index`.
std::vector<uint8_t> ValueOf(zmrmc::SysObjList& list, uint16_t index, uint32_t size) {
    std::vector<uint8_t> value(size, 0xCC);
    EXPECT_TRUE(list.Value(index, value.data(), size));
    return value;
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// Slot of the object with this name ID, or 0xFFFF.
uint16_t SlotOf(zmrmc::SysObjList& list, uint16_t name) {
    for (uint16_t i = 0; i < list.ImitatedCount(); ++i)
        if (U16(ValueOf(list, i, 2000), 0) == name) return i;
    return 0xFFFF;
}

TEST(LegacyCatalogue, StringTableHoldsTheEightySevenTexts) {
    EXPECT_STREQ(zmrmc::LegacyText(0), "English");
    EXPECT_STREQ(zmrmc::LegacyText(27), "Smart Card BIOS Password Support");
    EXPECT_STREQ(zmrmc::LegacyText(63), "Boot Order");
    EXPECT_STREQ(zmrmc::LegacyText(86), "--");
    EXPECT_EQ(zmrmc::LegacyText(87), nullptr);
    EXPECT_TRUE(zmrmc::IsLegacySystemId(0x0815));
    EXPECT_FALSE(zmrmc::IsLegacySystemId(0x0890));
}

TEST(SysObjList, NativeFirmwareNeverCreatesTheCatalogue) {
    ScriptedFirmware firmware;
    firmware.native_size = 12;
    zmrmc::SysObjList list(firmware);
    EXPECT_TRUE(list.Native());
    EXPECT_EQ(list.ImitatedCount(), 0u);
    EXPECT_TRUE(firmware.interrupt_calls.empty());  // no catalogue object probed the firmware
}

TEST(SysObjList, UnknownModelHasNoObjects) {
    ScriptedFirmware firmware;
    firmware.system_id = 0x0890;
    zmrmc::SysObjList list(firmware);
    uint32_t size = 99;
    EXPECT_FALSE(list.ListSize(&size));
    EXPECT_EQ(list.ImitatedCount(), 0u);
}

TEST(SysObjList, SlotsStayDenseWhenSubFunctionsFail) {
    ScriptedFirmware firmware;
    firmware.e842 = false;
    firmware.e845 = {{0x46, 1}, {0x61, 2}};  // serial port, touch pad / pointing stick
    zmrmc::SysObjList list(firmware);
    // String table, three identity texts, serial port, two tags, two passwords, touch pad, pointing stick.
    ASSERT_EQ(list.ImitatedCount(), 11u);
    uint32_t size = 0;
    ASSERT_TRUE(list.ListSize(&size));
    EXPECT_EQ(size, 11u * 8 + 4);
    std::vector<uint8_t> entries(size);
    ASSERT_TRUE(list.List(entries.data(), size));
    EXPECT_EQ(U16(entries, 0), 11);
    for (uint16_t i = 0; i < 11; ++i) EXPECT_EQ(U16(entries, 4 + 8 * i), i);
    EXPECT_EQ(U16(entries, 4 + 8 * 4 + 2), SRI_TYPE_ENUM);
    EXPECT_FALSE(list.Info(11, entries.data(), 20));

    uint8_t info[20];
    ASSERT_TRUE(list.Info(1, info, sizeof info));  // "Manufacturer": text, read-only, path File/System Information
    EXPECT_EQ(info[0], SRI_TYPE_TEXT);
    EXPECT_EQ(info[2], 2);
    EXPECT_EQ(info[4], 43);
    EXPECT_EQ(info[8], 1);
    EXPECT_EQ(info[10], 6);
    EXPECT_EQ(info[12], 0xFF);

    std::vector<uint8_t> serial = ValueOf(list, 4, 10);
    EXPECT_EQ(serial, (std::vector<uint8_t>{30, 0, 1, 0, 40, 0, 41, 0, 0xFF, 0xFF}));
    std::vector<uint8_t> owner = ValueOf(list, 6, 83);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(owner.data() + 2)), std::string(80, 'o'));
}

TEST(SysObjList, TouchPadAndPointingStickChangeOnlyTheirOwnBit) {
    ScriptedFirmware firmware;
    firmware.e845 = {{0x61, 0x03}};
    zmrmc::SysObjList list(firmware);
    uint16_t touch = 0, stick = 0;
    for (uint16_t i = 0; i < list.ImitatedCount(); ++i) {
        std::vector<uint8_t> v(200, 0);
        uint8_t info[20];
        list.Info(i, info, 20);
        list.Value(i, v.data(), 200);
        if (U16(v, 0) == 51) touch = i;
        if (U16(v, 0) == 52) stick = i;
    }
    ASSERT_NE(touch, 0);
    ASSERT_NE(stick, 0);
    const uint8_t clear_touch[10] = {51, 0, 0, 0, 38, 0, 39, 0, 0xFF, 0xFF};
    ASSERT_TRUE(list.SetValue(touch, clear_touch, sizeof clear_touch, nullptr, 0));
    EXPECT_EQ(firmware.e845[0x61], 0x01);
    const uint8_t clear_stick[10] = {52, 0, 0, 0, 38, 0, 39, 0, 0xFF, 0xFF};
    ASSERT_TRUE(list.SetValue(stick, clear_stick, sizeof clear_stick, nullptr, 0));
    EXPECT_EQ(firmware.e845[0x61], 0x00);
    const uint8_t set_touch[10] = {51, 0, 1, 0, 38, 0, 39, 0, 0xFF, 0xFF};
    ASSERT_TRUE(list.SetValue(touch, set_touch, sizeof set_touch, nullptr, 0));
    EXPECT_EQ(firmware.e845[0x61], 0x02);
    EXPECT_EQ(U16(ValueOf(list, touch, 10), 2), 1);
    EXPECT_EQ(U16(ValueOf(list, stick, 10), 2), 0);

    // A value that names another setting is refused before any firmware call.
    size_t calls = firmware.interrupt_calls.size();
    EXPECT_FALSE(list.SetValue(touch, clear_stick, sizeof clear_stick, nullptr, 0));
    EXPECT_FALSE(list.SetValue(touch, set_touch, 3, nullptr, 0));
    EXPECT_EQ(firmware.interrupt_calls.size(), calls);
}

TEST(SysObjList, ReadAndWriteRulesOfTheE845Settings) {
    struct Case {
        uint8_t sub;
        uint16_t name;
        uint8_t bh;
        uint16_t index;      // what a read reports
        uint8_t written_bh;  // what writing index 1 sends
    };
    const Case cases[] = {
        {0x46, 30, 2, 1, 1},    {0x23, 34, 0, 1, 0},  {0x23, 34, 5, 0, 0}, {0x39, 47, 2, 0, 1},
        {0x19, 45, 31, 1, 31},  {0x19, 45, 1, 0, 31}, {0x53, 53, 0, 1, 0}, {0x78, 80, 0x10, 1, 1},
        {0x78, 80, 0x0F, 0, 1}, {0x4B, 46, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.sub));
        ScriptedFirmware firmware;
        firmware.e842 = false;
        firmware.e845 = {{c.sub, c.bh}};
        zmrmc::SysObjList list(firmware);
        ASSERT_EQ(list.ImitatedCount(), 9u);
        uint16_t slot = SlotOf(list, c.name);
        ASSERT_NE(slot, 0xFFFF);
        std::vector<uint8_t> value = ValueOf(list, slot, 10);
        EXPECT_EQ(U16(value, 0), c.name);
        EXPECT_EQ(U16(value, 2), c.index);
        value[2] = 1;
        ASSERT_TRUE(list.SetValue(slot, value.data(), 10, nullptr, 0));
        EXPECT_EQ(firmware.e845[c.sub], c.written_bh);
    }
}

TEST(SysObjList, SecuritySettingsWriteTheirMaskWithThePassword) {
    ScriptedFirmware firmware;
    firmware.security_supported = 0x60800;  // smart card and the activation policy only
    firmware.security_state = 0x40000;
    zmrmc::SysObjList list(firmware);
    // String table, three identity texts, smart card, policy, two tags, two passwords.
    ASSERT_EQ(list.ImitatedCount(), 10u);
    std::vector<uint8_t> policy = ValueOf(list, 5, 12);
    EXPECT_EQ(policy, (std::vector<uint8_t>{58, 0, 2, 0, 59, 0, 60, 0, 61, 0, 0xFF, 0xFF}));
    policy[2] = 0;
    ASSERT_TRUE(list.SetValue(5, policy.data(), 12, "\x1E\x30", 2));
    const std::vector<uint8_t>& block = firmware.interrupt_calls.back();
    ASSERT_EQ(block.size(), 73u);
    uint32_t eax, ebx, ecx, edx;
    std::memcpy(&eax, block.data(), 4);
    std::memcpy(&ebx, block.data() + 4, 4);
    std::memcpy(&ecx, block.data() + 8, 4);
    std::memcpy(&edx, block.data() + 12, 4);
    EXPECT_EQ(eax, 0x0001E842u);
    EXPECT_EQ(ebx, 0x20000u);
    EXPECT_EQ(ecx, 0x60000u);
    EXPECT_EQ(edx, 0x53454355u);
    EXPECT_EQ(block[40], 0x1E);
    EXPECT_EQ(block[41], 0x30);
    EXPECT_EQ(block[42], 0);
    EXPECT_EQ(firmware.security_state, 0x20000u);
}

TEST(SysObjList, AssetTagWriteSendsItsTextInTheBlock) {
    ScriptedFirmware firmware;
    zmrmc::SysObjList list(firmware);
    std::vector<uint8_t> tag(43, 0);
    tag[0] = 17;
    std::memcpy(tag.data() + 2, "NB-7", 4);
    uint16_t slot = 0;
    for (uint16_t i = 0; i < list.ImitatedCount(); ++i)
        if (U16(ValueOf(list, i, 2000), 0) == 17) slot = i;
    ASSERT_NE(slot, 0);
    ASSERT_TRUE(list.SetValue(slot, tag.data(), 43, nullptr, 0));
    const std::vector<uint8_t>& block = firmware.interrupt_calls.back();
    ASSERT_EQ(block.size(), 104u);
    EXPECT_EQ(block[8], 0x25);
    EXPECT_EQ(block[4], 1);
    EXPECT_EQ(block[16], 0x51);
    EXPECT_EQ(block[17], 0x43);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 40)), "NB-7");
}

TEST(BootDevices, DisplayNamesAndDescriptionBlocks) {
    EXPECT_EQ(zmrmc::BootDeviceDisplayName("BAY-B"), "IDE CD-ROM Drive");
    EXPECT_EQ(zmrmc::BootDeviceDisplayName("USB-LS"), "USB LS-120 Drive");
    EXPECT_EQ(zmrmc::BootDeviceDisplayName("SCSI 0"), "SCSI 0");
    EXPECT_EQ(zmrmc::DescriptionBlockAddress(0x00051234), 0x50000u);
    EXPECT_EQ(zmrmc::DescriptionBlockAddress(0x00900000), 0xF0000u);
    EXPECT_EQ(zmrmc::DescriptionBlockAddress(0xF000ABCD), 0xF0000u);
    EXPECT_EQ(zmrmc::DescriptionBlockAddress(0x10001234), 0x10000000u);  // taken as linear
}

TEST(BootDevices, OrderFromNames) {
    ScriptedFirmware firmware;
    firmware.descriptions = {"HDA-L", "Intnl", "USB-FL"};
    firmware.priority = {0, 1, 2};
    zmrmc::BootDevices boot(firmware);
    ASSERT_TRUE(boot.Load());
    EXPECT_EQ(boot.Names(), (std::vector<std::string>{"Hard Drive (C:)", "Network Controller", "USB Floppy"}));
    ASSERT_TRUE(boot.SetOrder({"USB Floppy", "Hard Drive (C:)"}));
    EXPECT_EQ(firmware.written_priority, (std::vector<uint8_t>{2, 0, 1}));
    // Naming a device twice moves it once; unknown names are ignored.
    ASSERT_TRUE(boot.SetOrder({"Network Controller", "Zip Drive", "Network Controller"}));
    EXPECT_EQ(firmware.written_priority, (std::vector<uint8_t>{1, 2, 0}));
    EXPECT_EQ(boot.Names(), (std::vector<std::string>{"Network Controller", "USB Floppy", "Hard Drive (C:)"}));
}

TEST(BootDevices, NonAsciiDescriptionsAndOutOfRangeEntriesHaveNoName) {
    ScriptedFirmware firmware;
    std::string late_accent = std::string(20, 'A') + "\xE9";  // beyond the 20 examined bytes: kept
    firmware.descriptions = {"Disque \xE9tendu", late_accent};
    firmware.priority = {1, 7, 0};
    firmware.descriptions.push_back("PCI-B");
    zmrmc::BootDevices boot(firmware);
    ASSERT_TRUE(boot.Load());
    EXPECT_EQ(boot.Names(), (std::vector<std::string>{late_accent, "", ""}));
}

TEST(BootDevices, UnknownBbsVersionsOfferNoBootOrder) {
    ScriptedFirmware firmware;
    firmware.bbs_version = 0x0200;
    firmware.descriptions = {"HDA-L"};
    firmware.priority = {0};
    zmrmc::BootDevices boot(firmware);
    EXPECT_FALSE(boot.Load());
    EXPECT_FALSE(boot.SetOrder({"Hard Drive (C:)"}));
    zmrmc::SysObjList list(firmware);
    for (uint16_t i = 0; i < list.ImitatedCount(); ++i) EXPECT_NE(U16(ValueOf(list, i, 2000), 0), 63);
}

TEST(SettingsRead, UnlocksAndLocksAroundTheReadAlsoWhenItEndsEarly) {
    for (bool has_objects : {true, false}) {
        SCOPED_TRACE(has_objects);
        ScriptedFirmware firmware;
        firmware.password_set = true;
        if (!has_objects) firmware.system_id = 0x0890;  // neither native nor legacy: the list size fails
        firmware.e845 = {{0x46, 1}};
        zmrmc::SettingsModel model;
        EXPECT_EQ(zmrmc::ReadSettingsFromSystem(model, firmware, "pw"), has_objects);
        EXPECT_EQ(firmware.lock_calls, (std::vector<std::string>{"unlock:pw", "lock:pw"}));
        EXPECT_EQ(model.ReadCompleted(), has_objects);
        EXPECT_EQ(model.Release(), 0);  // the read took its reference either way
    }
    ScriptedFirmware refused;
    refused.password_set = true;
    refused.unlock_works = false;
    zmrmc::SettingsModel model;
    EXPECT_TRUE(zmrmc::ReadSettingsFromSystem(model, refused, "bad"));  // a refused unlock does not stop it
    EXPECT_EQ(refused.lock_calls, (std::vector<std::string>{"unlock:bad"}));
}

TEST(SettingsRead, LegacyReadListsTheStringTableFirst) {
    ScriptedFirmware firmware;
    firmware.e842 = false;
    firmware.e845 = {{0x46, 1}};
    firmware.descriptions = {"HDA-L", "Intnl"};
    firmware.priority = {1, 0};
    zmrmc::SettingsModel model;
    ASSERT_TRUE(zmrmc::ReadSettingsFromSystem(model, firmware, nullptr));
    ASSERT_EQ(model.Count(), 10);
    EXPECT_EQ(model.At(0)->type, SRI_TYPE_STRING_TABLE);
    EXPECT_EQ(model.At(0)->elementCount, 87);
    EXPECT_STREQ(model.FindString(model.At(4)->nameId, nullptr), "Serial Port");
    SRI* order = model.Find(63, nullptr);
    ASSERT_NE(order, nullptr);
    const auto* ids = static_cast<const uint16_t*>(order->value);
    EXPECT_EQ(ids[0], 67);
    EXPECT_EQ(ids[1], 66);
    EXPECT_EQ(order->prereqCount, 1);
    EXPECT_TRUE(zmrmc::IsWritableSettingName("processor cache"));
    EXPECT_FALSE(zmrmc::IsWritableSettingName("Manufacturer"));
}

}  // namespace
