// The host firmware through the machine's own interface (one transaction per call, as the driver makes them),
// over a firmware-attributes tree whose files answer as kernel attributes do: each write() error the kernel
// gives becomes its firmware status.

#include "firmware_attributes_tree.h"
#include "qv_firmware.h"
#include "qv_machine.h"
#include "qv_temp_root.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

namespace fs = std::filesystem;
using qv::machine::Bytes;
using qv::machine::CallOutcome;
using qv::machine::Firmware;

class HostFirmwareTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        tree_ = root_ / "tree";
        // Attributes in folder order, so objects 1 to 5; no pending_reboot.
        tree::Driver d{"t",
                       {{"A", "enumeration", "Choice", "On", {{"possible_values", "Off;On"}}},
                        {"B", "string", "Text", "abc", {{"max_length", "8"}}},
                        {"C", "string", "Kernel EIO", "", {{"max_length", "8"}}},
                        {"D", "string", "Kernel EINVAL", "", {{"max_length", "8"}}},
                        {"E", "string", "Read-only", "x", {{"max_length", "8"}}}},
                       {{"Admin", "bios-admin"}},
                       false,
                       false};
        tree::Write(tree_, d);
        attributes_ = tree_ / "t" / "attributes";
        // Kernel files that refuse: the writer's own memory at address 0 (EIO), its oom_score_adj (numbers only).
        Link(attributes_ / "C" / "current_value", "/proc/self/mem");
        Link(attributes_ / "D" / "current_value", "/proc/self/oom_score_adj");
        fs::permissions(attributes_ / "E" / "current_value", fs::perms::owner_read | fs::perms::group_read);
        setenv("QV_MACHINE", "host", 1);
        setenv("QV_FIRMWARE_ATTRIBUTES", tree_.c_str(), 1);
        machine_ = qv::machine::Machine::Open(root_);
    }
    void TearDown() override {
        machine_.reset();
        unsetenv("QV_MACHINE");
        unsetenv("QV_FIRMWARE_ATTRIBUTES");
        TempRootTest::TearDown();
    }
    static void Link(const fs::path& file, const char* target) {
        fs::remove(file);
        fs::create_symlink(target, file);
    }
    uint8_t Call(const std::function<uint8_t(Firmware&, CallOutcome&)>& call) {
        uint8_t status = 0xFF;
        machine_->Transact([&](Firmware& f) {
            CallOutcome outcome;
            status = call(f, outcome);
        });
        return status;
    }
    // A text object's value holding `text`: its name's ID from the string table, its size from its information
    // (its current value is not needed: a kernel file may fail to be read).
    Bytes TextValue(uint16_t index, const std::string& name, const std::string& text) {
        Bytes table, info;
        EXPECT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ObjectValue(0, table, o); }), 0);
        EXPECT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ObjectInfo(index, info, o); }), 0);
        uint16_t id = 0;
        for (size_t at = 2; at < table.size() && table[at] != 0xFF; ++id) {
            std::string entry(reinterpret_cast<const char*>(table.data() + at));
            if (entry == name) break;
            at += entry.size() + 1;
        }
        uint32_t size = 0;
        std::memcpy(&size, info.data() + 4, 4);
        Bytes value(size, 0);
        value[0] = static_cast<uint8_t>(id);
        value[1] = static_cast<uint8_t>(id >> 8);
        std::memcpy(value.data() + 2, text.data(), std::min<size_t>(text.size(), size - 2));
        return value;
    }
    uint8_t Set(uint16_t index, const Bytes& value) {
        return Call([&](Firmware& f, CallOutcome& o) { return f.SetObjectValue(index, value, o); });
    }
    fs::path tree_, attributes_;
    std::shared_ptr<qv::machine::Machine> machine_;
};

TEST_F(HostFirmwareTest, ListDescribesTheTree) {
    uint32_t size = 0;
    Bytes list;
    ASSERT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ObjectListSize(size, o); }), 0);
    ASSERT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ObjectList(list, o); }), 0);
    ASSERT_EQ(list.size(), size);
    EXPECT_EQ(list[0] | list[1] << 8, 7);  // the string table, five attributes, the setup password
    Bytes value;
    ASSERT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ObjectValue(1, value, o); }), 0);
    EXPECT_EQ(value[2] | value[3] << 8, 1);                 // "On" is the second choice
    tree::Put(attributes_ / "A" / "current_value", "Off");  // read at the moment of the call
    ASSERT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ObjectValue(1, value, o); }), 0);
    EXPECT_EQ(value[2] | value[3] << 8, 0);
}

TEST_F(HostFirmwareTest, KernelRefusalsBecomeFirmwareStatuses) {
    struct Case {
        uint16_t index;
        std::string name, text;
        bool enabled, unlock;
        const char* password;  // the Admin current_password file: a symlink target, or a plain file
        uint8_t status;
    };
    const Case cases[] = {
        {2, "Text", "new", false, false, nullptr, 0x00},
        {2, "Text", "too long", false, false, nullptr, 0x00},
        {2, "Text", "far too long", false, false, nullptr, 0x89},  // beyond max_length
        {3, "Kernel EIO", "x", false, false, nullptr, 0x8A},
        {4, "Kernel EINVAL", "x", false, false, nullptr, 0x89},
        {5, "Read-only", "y", false, false, nullptr, 0x86},  // no write bit
        {2, "Text", "locked", true, false, nullptr, 0x85},   // a setup password and no unlock
        {2, "Text", "open", true, true, nullptr, 0x00},
        {2, "Text", "wrong", true, true, "/sys/devices/system/cpu/online", 0x87},  // EACCES on current_password
    };
    fs::path admin = tree_ / "t" / "authentication" / "Admin";
    for (const Case& c : cases) {
        tree::Put(admin / "is_enabled", c.enabled ? "1" : "0");
        if (c.password != nullptr) Link(admin / "current_password", c.password);
        if (c.unlock) {
            Bytes codes = {0x1F, 0x12, 0x2E, 0};  // s, e, c
            ASSERT_EQ(Call([&](Firmware& f, CallOutcome& o) { return f.ChangeLockState(false, codes, o); }), 0);
        }
        std::string before = tree::Get(attributes_ / "B" / "current_value");
        EXPECT_EQ(Set(c.index, TextValue(c.index, c.name, c.text)), c.status) << c.text;
        if (c.index == 2) {
            EXPECT_EQ(tree::Get(attributes_ / "B" / "current_value"), c.status == 0 ? c.text : before) << c.text;
        }
        if (c.unlock && c.password == nullptr) {
            EXPECT_EQ(tree::Get(admin / "current_password"), "") << "the session ends with the write";
        }
        Call([&](Firmware& f, CallOutcome& o) { return f.ChangeLockState(true, {}, o); });
    }
}

}  // namespace
