// What the simulated firmware does with changes: passwords kept only as salted digests (and shown as such by
// the password objects), unlocks that end with the process that made them, the security settings command,
// factory defaults with and without their 32-bit path, disabled ordered-list items, and a fault that kills the
// calling process in the middle of a call.

#include "machine_fixture.h"
#include "qv_test_paths.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <iterator>

using qv::machine::Bytes;
using qv::machine::CallOutcome;
using qv::machine::Firmware;
using qv::machine::Registers;

namespace {

std::string StateText(const std::filesystem::path& root) {
    std::ifstream in(root / "machine" / "state.json");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// The desktop's object of that name (two string tables come first, then the profile's objects in order).
uint16_t DesktopObject(const std::string& name) {
    static const std::vector<std::string> objects = {"--",
                                                     "ROM Revision",
                                                     "BIOS Release Date",
                                                     "Asset Tracking Number",
                                                     "Enter Ownership Tag",
                                                     "Setup Password",
                                                     "Power-On Password",
                                                     "Serial Port A",
                                                     "MultiBoot",
                                                     "Boot Order"};
    return static_cast<uint16_t>(2 + (std::find(objects.begin(), objects.end(), name) - objects.begin()));
}

std::string Desktop(const std::function<void(nlohmann::json&)>& edit) {
    std::ifstream in(SourceTree() + "/platform/machine/profiles/desktop.json");
    auto profile = nlohmann::json::parse(
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    edit(profile);
    return profile.dump();
}

// A 16-bit INT 15h call.
Registers Call16(Firmware& f, uint32_t eax, uint32_t ebx, uint32_t ecx) {
    FlatMemory memory;
    Registers r;
    r.eax = eax;
    r.ebx = ebx;
    r.ecx = ecx;
    f.Int15(r, nullptr, memory, false);
    return r;
}
uint8_t Ah(const Registers& r) { return static_cast<uint8_t>(r.eax >> 8); }

}  // namespace

TEST_F(MachineTest, PasswordsAreKeptOnlyAsSaltedDigests) {
    auto machine = Use(WriteProfile(Desktop([](nlohmann::json& p) { p["passwords"]["setup"] = "1E302E"; })));
    std::string digest;
    machine->Transact([&](Firmware& f) {
        CallOutcome o;
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x30, 0x2F}, o), 0x87);
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x30, 0x2E, 0}, o), 0);
        // The password object shows the firmware's digest: 40 hexadecimal characters.
        Bytes value;
        ASSERT_EQ(f.ObjectValue(DesktopObject("Setup Password"), value, o), 0);
        ASSERT_EQ(value.size(), 43u);
        digest.assign(value.begin() + 2, value.begin() + 42);
        EXPECT_EQ(digest.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        f.ObjectValue(DesktopObject("Power-On Password"), value, o);
        EXPECT_EQ(value[2], 0);  // none set: an empty text
    });
    std::string state = StateText(root_);
    EXPECT_EQ(state.find("1E302E"), std::string::npos);
    EXPECT_NE(state.find(digest), std::string::npos);

    // A state written while passwords were kept as plain scan codes is hashed on the next call.
    auto json = nlohmann::json::parse(state);
    json["setup_password"] = "1E30";
    std::ofstream(root_ / "machine" / "state.json") << json.dump();
    qv::machine::Machine::ResetForTesting();
    qv::machine::Machine::Current()->Transact([](Firmware& f) {
        CallOutcome o;
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x30}, o), 0);
    });
    EXPECT_EQ(StateText(root_).find("\"1E30\""), std::string::npos);
}

TEST_F(MachineTest, AnUnlockEndsWithTheProcessThatMadeIt) {
    auto machine = Use(WriteProfile(Desktop([](nlohmann::json& p) { p["passwords"]["setup"] = "1E30"; })));
    uint16_t numLock = 2 + 10;  // "Num Lock State at Power-On"
    Bytes on;
    machine->Transact([&](Firmware& f) {
        CallOutcome o;
        f.ObjectValue(numLock, on, o);
        on[2] = 1;
    });
    pid_t child = fork();
    if (child == 0) {
        qv::machine::Machine::Current()->Transact([](Firmware& f) {
            CallOutcome o;
            f.ChangeLockState(false, {0x1E, 0x30}, o);
        });
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    machine->Transact([&](Firmware& f) {
        CallOutcome o;
        EXPECT_EQ(f.SetObjectValue(numLock, on, o), 0x85);  // the process that unlocked has ended
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x30}, o), 0);
        EXPECT_EQ(f.SetObjectValue(numLock, on, o), 0);  // this one's unlock holds while it runs
    });
}

TEST_F(MachineTest, SecuritySettingsCommandChecksThePasswordAndSetsTheAssetTag) {
    auto machine = Use(WriteProfile(Desktop([](nlohmann::json& p) { p["passwords"]["setup"] = "1E30"; })));
    auto command = [](const Bytes& password, std::string tag, uint8_t length) {
        Bytes c;
        auto add = [&](std::initializer_list<uint8_t> bytes) {
            for (uint8_t b : bytes) c.push_back(b);
        };
        add({0xFC, 0, static_cast<uint8_t>(password.size() + 1)});
        for (uint8_t b : password) c.push_back(b);
        add({0, 0x0D, 0, 17, length});
        tag.resize(16, '\0');
        for (char ch : tag) c.push_back(static_cast<uint8_t>(ch));
        add({0xCF, 0});
        return c;
    };
    struct Case {
        const char* what;
        Bytes command;
        uint8_t status;
    } cases[] = {
        {"wrong password", command({0x1E, 0x31}, "BAD", 3), 0x87},
        {"tag longer than 16", command({0x1E, 0x30}, "0123456789ABCDEF", 17), 0x89},
        {"no end mark", Bytes{0xFC, 0, 3, 0x1E, 0x30, 0}, 0x89},
        {"unknown item", Bytes{0x42, 0, 1, 0, 0xCF, 0}, 0x89},
        {"item longer than the command", Bytes{0x0D, 0, 17, 3, 'A'}, 0x89},
        {"the asset tag", command({0x1E, 0x30}, "NEW-TAG", 7), 0},
    };
    machine->Transact([&](Firmware& f) {
        for (const Case& c : cases) {
            CallOutcome o;
            EXPECT_EQ(f.SecuritySettings(c.command, o), c.status) << c.what;
        }
        // The asset tag is one value: the E845h string and the system object of that name.
        CallOutcome o;
        Bytes value;
        f.ObjectValue(DesktopObject("Asset Tracking Number"), value, o);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(value.data() + 2)), "NEW-TAG");
    });
    EXPECT_NE(StateText(root_).find("\"37\": \"NEW-TAG\""), std::string::npos);
}

TEST_F(MachineTest, DefaultsWithoutTheir32BitPathAnswerOnlyTheRealModeCall) {
    auto machine = Use(WriteProfile(R"({"int15": {"e845": {"settings": {"0x46": 1}}, "e841": true,
                                                  "e841_32bit": false}})"));
    machine->Transact([](Firmware& f) {
        EXPECT_EQ(Ah(Call16(f, 0xE845, 1, 0x46)), 0);  // BH = 0
        FlatMemory memory;
        Registers r;
        r.eax = 0xE841;
        f.Int15(r, nullptr, memory, true);
        EXPECT_EQ(Ah(r), 0x86);
        EXPECT_EQ(Ah(Call16(f, 0xE841, 0, 0)), 0);
        EXPECT_EQ(Ah(Call16(f, 0xE841, 0x100, 0)), 0);  // restore
        EXPECT_EQ((Call16(f, 0xE845, 0, 0x46).ebx >> 8) & 0xFF, 1u);
    });
}

TEST_F(MachineTest, DefaultsKeepTheTags) {
    auto machine = Use("desktop");
    machine->Transact([](Firmware& f) {
        CallOutcome o;
        uint16_t tag = DesktopObject("Asset Tracking Number");
        Bytes value;
        f.ObjectValue(tag, value, o);
        std::memcpy(value.data() + 2, "MINE\0", 5);
        ASSERT_EQ(f.SetObjectValue(tag, value, o), 0);
        EXPECT_EQ(Ah(Call16(f, 0xE841, 0x100, 0)), 0);
        f.ObjectValue(tag, value, o);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(value.data() + 2)), "MINE");
    });
}

TEST_F(MachineTest, OrderedListItemsMayBeDisabledOnceEach) {
    auto machine = Use("desktop");
    machine->Transact([](Firmware& f) {
        CallOutcome o;
        uint16_t order = DesktopObject("Boot Order");
        Bytes value, english;
        f.ObjectValue(order, value, o);
        f.ObjectValue(1, english, o);
        // The string table holds each item's disabled spelling.
        std::string table(english.begin() + 2, english.end());
        EXPECT_NE(table.find(std::string("Network Controller Disabled") + '\0'), std::string::npos);
        // Items' IDs: the enabled ones are in the list; "X Disabled" follows the four items in first-use order.
        uint16_t cd = U16(value, 2), floppy = U16(value, 4), disk = U16(value, 6), net = U16(value, 8);
        uint16_t netDisabled = static_cast<uint16_t>(net + 4);
        Bytes wanted = value;
        auto put = [&](size_t at, uint16_t id) {
            wanted[2 + 2 * at] = static_cast<uint8_t>(id);
            wanted[3 + 2 * at] = static_cast<uint8_t>(id >> 8);
        };
        put(0, netDisabled), put(1, disk), put(2, cd), put(3, floppy);
        ASSERT_EQ(f.SetObjectValue(order, wanted, o), 0);
        f.ObjectValue(order, value, o);
        EXPECT_EQ(U16(value, 2), netDisabled);
        put(1, net);  // the same item twice, once disabled
        EXPECT_EQ(f.SetObjectValue(order, wanted, o), 0x89);
    });
}

TEST_F(MachineTest, AKillFaultEndsTheCallingProcessAndKeepsOnlyItsCount) {
    auto machine = Use(WriteProfile(R"({"int15": {"e845": {"settings": {"0x46": 1}}},
      "faults": [{"call": "int15.E845.46", "nth": 2, "action": "kill"}]})"));
    auto write = [](uint32_t bh) {
        qv::machine::Machine::Current()->Transact([&](Firmware& f) { Call16(f, 0xE845, 1 | (bh << 8), 0x46); });
    };
    write(0);  // call 1
    pid_t child = fork();
    if (child == 0) {
        write(1);  // call 2: killed before it stores anything
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    machine->Transact([](Firmware& f) { EXPECT_EQ((Call16(f, 0xE845, 0, 0x46).ebx >> 8) & 0xFF, 0u); });  // call 3
    write(1);  // call 4: the rule acted once and is spent
    machine->Transact([](Firmware& f) { EXPECT_EQ((Call16(f, 0xE845, 0, 0x46).ebx >> 8) & 0xFF, 1u); });
}
