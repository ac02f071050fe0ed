// The two methods on the real road (settings_road.h), the client tool as the only door: SetBIOSSetting of
// every kind of setting on the desktop and the legacy notebook, read back by a new enumeration and by a new
// provider process; the setup password's checks with the events a watcher in another process receives; and
// the machine's injected faults, the driver killed in the middle of a commit among them.
#include "qv_firmware.h"
#include "qv_machine.h"
#include "settings_road.h"

#include <map>
#include <optional>

namespace road {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr char kInterface[] = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
const char* const kValueClasses[] = {"QVPROV_BIOSEnumeration", "QVPROV_BIOSString", "QVPROV_BIOSInteger",
                                     "QVPROV_BIOSOrderedList"};

// One call of SetBIOSSetting: a parameter left out is null.
struct Call {
    std::string name;
    std::optional<std::string> value;
    std::optional<std::string> password;
    int result;
};

class MethodsRoad : public SettingsRoadTest {
protected:
    // A shipped profile changed by `edit`, written into the root's folder.
    std::string EditedProfile(const std::string& shipped, const std::function<void(json&)>& edit) {
        json profile = json::parse(ReadText(SourceTree() + "/platform/machine/profiles/" + shipped + ".json"));
        edit(profile);
        std::string path = (root_ / (shipped + "-edited.json")).string();
        std::ofstream(path) << profile.dump(1);
        return path;
    }

    int SetBIOSSetting(const Call& c) {
        std::vector<std::string> args = {"call", kInterface, "SetBIOSSetting", "Name=" + c.name};
        if (c.value) args.push_back("Value=" + *c.value);
        if (c.password) args.push_back("Password=" + *c.password);
        return ReturnOf(args);
    }
    int SetSystemDefaults(const std::optional<std::string>& password) {
        std::vector<std::string> args = {"call", kInterface, "SetSystemDefaults"};
        if (password) args.push_back("Password=" + *password);
        return ReturnOf(args);
    }
    int ReturnOf(const std::vector<std::string>& args) {
        Result r = Wmi(args);
        EXPECT_EQ(r.code, 0) << r.err;
        if (r.code != 0) return -1;
        return json::parse(r.out)[0]["Return"].get<int>();
    }
    void Run(const std::vector<Call>& calls) {
        for (const Call& c : calls)
            EXPECT_EQ(SetBIOSSetting(c), c.result) << c.name << " = " << c.value.value_or("(null)");
    }

    // Name -> Value of every setting with a Value; password settings give "IsSet=<n>".
    std::map<std::string, std::string> Values() {
        std::map<std::string, std::string> values;
        for (const char* cls : kValueClasses)
            for (const json& o : Objects({"query", std::string("SELECT Name, Value FROM ") + cls}))
                values[o["Name"].get<std::string>()] = o["Value"].is_string() ? o["Value"].get<std::string>() : "";
        for (const json& o : Objects({"query", "SELECT Name, IsSet FROM QVPROV_BIOSPassword"}))
            values[o["Name"].get<std::string>()] = "IsSet=" + std::to_string(o["IsSet"].get<int>());
        return values;
    }
    void ExpectValues(const std::map<std::string, std::string>& expected, const char* when) {
        std::map<std::string, std::string> now = Values();
        for (const auto& [name, value] : expected) EXPECT_EQ(now[name], value) << name << " " << when;
    }

    // Waits until the provider, its driver and the service have ended: nothing that ran the calls is left.
    void WaitForProviderEnd() {
        const char* const programs[] = {"vrxBIOS", "zmrdtct", "winmgmt"};
        WaitUntil(
            [&] {
                for (const char* program : programs)
                    if (!RootProcesses(program).empty()) return false;
                return true;
            },
            40s);
        for (const char* program : programs) ASSERT_TRUE(RootProcesses(program).empty()) << program << " did not end";
    }

    // The calls leave every setting of `expected` so: by a new enumeration, and by a new provider process.
    void ExpectKept(const std::map<std::string, std::string>& expected) {
        ExpectValues(expected, "(same provider)");
        ASSERT_NO_FATAL_FAILURE(WaitForProviderEnd());
        ExpectValues(expected, "(new service and provider)");
    }
};

TEST_F(MethodsRoad, DesktopSettingsOfEveryKindChangeAndStay) {
    Prepare(EditedProfile("desktop", [](json& p) {
        auto& objects = p["system_objects"]["objects"];
        objects.push_back({{"name", "Standby Timeout"},
                           {"type", "int"},
                           {"path", {"Power"}},
                           {"low", 5},
                           {"high", 60},
                           {"value", 10}});
        objects.push_back({{"name", "Wake Counter"}, {"type", "int"}, {"path", {"Power"}}, {"high", "0xFFFFFFFF"}});
    }));
    Run({
        {"", "On", std::nullopt, 5},
        {"No Such Setting", "On", std::nullopt, 2},
        // enumerations: a single value, a starred one, the whole Value text, a list without a star
        {"Num Lock State at Power-On", "On", std::nullopt, 0},
        {"Serial Port A", " *Device hidden ", std::nullopt, 0},
        {"MultiBoot", "*Disable, Enable", std::nullopt, 0},
        {"SATA 0\\SATA Port", "Disable, Enable", std::nullopt, 0},
        {"SATA 1\\SATA Port", "Enable", std::nullopt, 0},
        {"Processor Cache", "Disable", std::nullopt, 4},  // the firmware does not take it
        // strings
        {"Asset Tracking Number", "QV-NEW-7", std::nullopt, 0},
        {"Asset Tracking Number", "QV-FAR-TOO-LONG-17", std::nullopt, 5},
        {"Enter Ownership Tag", std::nullopt, std::nullopt, 5},
        {"ROM Revision", "X", std::nullopt, 1},  // read-only
        // integers: in range, below, above, -1 (only where the upper bound is 0xFFFFFFFF), beyond 32 bits
        {"POST Delay (in seconds)", "30", std::nullopt, 0},
        {"POST Delay (in seconds)", "61", std::nullopt, 5},
        {"POST Delay (in seconds)", "-1", std::nullopt, 5},
        {"Standby Timeout", "4", std::nullopt, 5},
        {"Standby Timeout", "60", std::nullopt, 0},
        {"Standby Timeout", std::nullopt, std::nullopt, 5},
        {"Wake Counter", "-1", std::nullopt, 0},
        {"Wake Counter", "4294967296", std::nullopt, 5},
        {"CPU Fan\\Fan Idle Speed", "45", std::nullopt, 0},
        // the ordered list: named elements first, each in the spelling given
        {"Boot Order", "Network Controller Disabled, Hard Drive (C:)", std::nullopt, 0},
        {"Boot Order", "Hard Drive (C:), network controller", std::nullopt, 0},
        {"Boot Order", "IDE CD-ROM Drive Disabled", std::nullopt, 0},
        // passwords: set, then refused without it, changed with it; no power-on password on a desktop
        {"Setup Password", "<en-US/>abc", std::nullopt, 0},
        {"Setup Password", "<en-US/>xyz", std::nullopt, 6},
        {"Setup Password", "<en-US/>xyz", "<en-US/>abd", 6},
        {"Power-On Password", "<en-US/>pw", "<en-US/>abc", 4},
        {"Setup Password", "<en-US/>xyz", "<en-US/>abc", 0},
        {"Setup Password", "<en-US/>xyz", "<en-US/>xyz", 0},  // verification
        {"Num Lock State at Power-On", "Off", std::nullopt, 6},
    });
    ExpectKept({
        {"Num Lock State at Power-On", "Off, *On"},
        {"Serial Port A", "*Device hidden, Device available"},
        {"MultiBoot", "*Disable, Enable"},
        {"SATA 0\\SATA Port", "Disable, *Enable"},
        {"SATA 1\\SATA Port", "Disable, *Enable"},
        {"Processor Cache", "Disable, *Enable"},
        {"Asset Tracking Number", "QV-NEW-7"},
        {"Enter Ownership Tag", ""},
        {"POST Delay (in seconds)", "30"},
        {"Standby Timeout", "60"},
        {"Wake Counter", "-1"},
        {"CPU Fan\\Fan Idle Speed", "45"},
        {"Boot Order", "IDE CD-ROM Drive Disabled, Hard Drive (C:), Network Controller, Diskette Drive (A:)"},
        {"Setup Password", "IsSet=1"},
        {"Power-On Password", "IsSet=0"},
    });
    // The new password is the one that counts now.
    EXPECT_EQ(SetBIOSSetting({"Num Lock State at Power-On", "Off", "<en-US/>xyz", 0}), 0);
}

TEST_F(MethodsRoad, LegacyNotebookSettingsChangeAndStay) {
    Prepare("laptop-legacy");
    Run({
        {"Serial Port", "Device hidden", std::nullopt, 0},
        {"Num Lock State at Power-On", "*Enable", std::nullopt, 0},
        {"Touch Pad", "*Enable, Disable", std::nullopt, 0},
        {"Password Prompt on Warm Boot", "Disable", std::nullopt, 0},
        {"Asset Tracking Number", "NB-0099", std::nullopt, 0},
        {"Asset Tracking Number", "NB-0099-THE-TAG-TOO-LONG", std::nullopt, 4},      // fits the setting, not the tag
        {"Boot Order", "USB Floppy Disabled, Network Controller", std::nullopt, 0},  // no such spelling: skipped
        {"Boot Order", "Hard Drive (C:), USB Floppy", std::nullopt, 0},
        {"Manufacturer", "Someone", std::nullopt, 1},
        {"Power-On Password", "<en-US/>pw", std::nullopt, 0},
        {"Power-On Password", "<en-US/>pw", "<en-US/>pw", 0},  // verification: right
        {"Power-On Password", "<en-US/>px", "<en-US/>px", 4},  // wrong
        {"Setup Password", "<en-US/>abcdefghij", std::nullopt, 0},
        {"Setup Password", "<en-US/>klmnop", "<en-US/>abcdefghij", 0},  // 16 keys: through the secure interface
        {"Serial Port", "Device available", "<en-US/>abcdefghij", 6},
        {"Serial Port", "Device available", "<en-US/>klmnop", 0},
    });
    ExpectKept({
        {"Serial Port", "Device hidden, *Device available"},
        {"Num Lock State at Power-On", "Disable, *Enable"},
        {"Touch Pad", "*Enable, Disable"},
        {"Pointing Stick", "Enable, *Disable"},
        {"Password Prompt on Warm Boot", "*Disable, Enable"},
        {"Asset Tracking Number", "NB-0099"},
        {"Boot Order", "Hard Drive (C:), USB Floppy, Network Controller, IDE CD-ROM Drive, PCI Slot A"},
        {"Power-On Password", "IsSet=1"},
        {"Setup Password", "IsSet=1"},
    });
}

// A watcher in another process sees one event per change, reset and refused password; verifications raise none.
TEST_F(MethodsRoad, SetupPasswordChecksAndTheirEvents) {
    Prepare("desktop");
    std::filesystem::path events = root_ / "watch.out";
    pid_t watcher = StartChild({BuildTree() + "/bin/wmi", "--format", "json", "watch",
                                "SELECT * FROM QV_BIOSConfigurationEvent", "--timeout", "120"},
                               events, root_ / "watch.err");
    auto lines = [&] {
        std::vector<json> seen;
        std::istringstream in(ReadText(events));
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) seen.push_back(json::parse(line));
        return seen;
    };
    // Probe until the subscription is in place: a change to the current value still raises its event.
    auto heard = [&](const std::string& name) {
        for (const json& e : lines())
            if (e["Description"] == name) return true;
        return false;
    };
    for (auto deadline = Clock::now() + 30s; !heard("MultiBoot") && Clock::now() < deadline;) {
        ASSERT_EQ(SetBIOSSetting({"MultiBoot", "Enable", std::nullopt, 0}), 0);
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(heard("MultiBoot")) << ReadText(root_ / "watch.err");
    size_t before = lines().size();

    EXPECT_EQ(SetBIOSSetting({"Setup Password", "<kbd/>1E30", std::nullopt, 0}), 0);
    EXPECT_EQ(SetBIOSSetting({"Num Lock State at Power-On", "On", std::nullopt, 6}), 6);
    EXPECT_EQ(SetBIOSSetting({"Num Lock State at Power-On", "On", "<kbd/>1E30", 0}), 0);
    EXPECT_EQ(SetBIOSSetting({"Setup Password", "<kbd/>1E30", "<kbd/>1E30", 0}), 0);  // verification: right
    EXPECT_EQ(SetBIOSSetting({"Setup Password", "<kbd/>1E31", "<kbd/>1E31", 0}), 4);  // wrong, no event
    EXPECT_EQ(SetBIOSSetting({"Setup Password", std::nullopt, std::nullopt, 0}), 4);  // none given
    EXPECT_EQ(SetSystemDefaults("<kbd/>1E31"), 6);
    EXPECT_EQ(SetSystemDefaults("<kbd/>1E30"), 0);
    EXPECT_EQ(Values()["Num Lock State at Power-On"], "*Off, On");  // the profile's default again
    ASSERT_EQ(SetBIOSSetting({"Serial Port A", "Device available", "<kbd/>1E30", 0}), 0);  // the end marker
    for (auto deadline = Clock::now() + 30s; !heard("Serial Port A") && Clock::now() < deadline;)
        std::this_thread::sleep_for(20ms);
    kill(watcher, SIGTERM);
    WaitChild(watcher, 10s);

    std::vector<json> all = lines();
    ASSERT_GE(all.size(), before);
    std::vector<std::string> seen;
    for (size_t i = before; i < all.size(); ++i) {
        const json& e = all[i];
        if (e["Description"] == "MultiBoot") continue;  // a probe's event that came late
        seen.push_back(e["Name"].get<std::string>() + ": " + e["Description"].get<std::string>());
        EXPECT_EQ(e["Category"], 4);
        EXPECT_EQ(e["InstanceName"].get<std::string>().size(), 36u);
        bool security = e["Name"] == "BIOS Configuration Security";
        EXPECT_EQ(e["Severity"], security ? 10 : 5);
        EXPECT_EQ(e["Status"], security ? 6 : 2);
    }
    // No password in any form reached the debug output of the service, the provider or the driver, nor the
    // machine's state.
    std::string debug = DebugOutput(), state = ReadText(root_ / "machine" / "state.json");
    ASSERT_NE(debug.find("Event fired"), std::string::npos) << "the debug output is read";
    for (const char* secret : {"1E30", "1E31", "kbd/>", "\x1E\x30"}) {
        EXPECT_EQ(debug.find(secret), std::string::npos) << secret;
        EXPECT_EQ(state.find(secret), std::string::npos) << secret;
    }

    const std::string refused =
        "BIOS Configuration Security: An attempt has been made to access BIOS fetures with an invalid password.";
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "BIOS Configuration Change: Setup Password",
                        refused,
                        "BIOS Configuration Change: Num Lock State at Power-On",
                        refused,
                        "BIOS Configuration Reset: The BIOS configuration has been reset to default values.",
                        "BIOS Configuration Change: Serial Port A",
                    }));
}

// Faults the machine injects for one call of a commit: every call answers, and no setting is left between
// its old and its new value.
class FaultsRoad : public MethodsRoad {
protected:
    enum Rule : size_t { kIgnoreWrite, kFailValue, kRefuseUnlock, kKillOnWrite };
    static constexpr uint32_t kArmed = 1000000;
    void SetUp() override {
        MethodsRoad::SetUp();
        Prepare(EditedProfile("desktop", [](json& p) {
            p["passwords"]["setup"] = "1E30";
            p["faults"] = json::array({
                {{"call", "object.set"}, {"nth", kArmed}, {"action", "ignore-write"}},
                {{"call", "object.value"}, {"nth", kArmed}, {"action", "fail"}},
                {{"call", "object.unlock"}, {"nth", kArmed}, {"action", "status"}, {"status", "0x87"}},
                {{"call", "object.set"}, {"nth", kArmed}, {"action", "kill"}},
            });
        }));
        // The first call starts the provider; it changes nothing.
        ASSERT_EQ(SetBIOSSetting(kUnchanged), 0);
    }
    json State() { return json::parse(ReadText(root_ / "machine" / "state.json")); }
    uint32_t Calls(size_t rule) { return State()["fault_counts"][rule].get<uint32_t>(); }
    // Arms `rule` to act after `through` more of its calls (the machine's count is set accordingly).
    void Arm(size_t rule, uint32_t through = 0) {
        json state = State();
        state["fault_counts"][rule] = kArmed - 1 - through;
        std::filesystem::path path = root_ / "machine" / "state.json", temp = path;
        temp += ".test";
        std::ofstream(temp) << state.dump(1);
        std::filesystem::permissions(temp, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        std::filesystem::rename(temp, path);
        qv::machine::Machine::Open(root_)->StateReplacedOutside();
    }
    std::string NumLock() { return Values()["Num Lock State at Power-On"]; }

    const Call kUnchanged{"MultiBoot", "Enable", "<kbd/>1E30", 0};
    const Call kNumLockOn{"Num Lock State at Power-On", "On", "<kbd/>1E30", 4};
};

TEST_F(FaultsRoad, AWriteTheFirmwareIgnoresIsAFailure) {
    Arm(kIgnoreWrite);
    EXPECT_EQ(SetBIOSSetting(kNumLockOn), 4);
    EXPECT_EQ(Calls(kIgnoreWrite), kArmed);  // the fault acted on that write
    EXPECT_EQ(NumLock(), "*Off, On");
}

TEST_F(FaultsRoad, AReadBackThatFailsIsAFailure) {
    // How many values a call reads before its commit's read-back: all settings, then the commit's own read.
    uint32_t before = Calls(kFailValue);
    ASSERT_EQ(SetBIOSSetting(kUnchanged), 0);
    Arm(kFailValue, Calls(kFailValue) - before);
    EXPECT_EQ(SetBIOSSetting(kNumLockOn), 4);
    EXPECT_GE(Calls(kFailValue), kArmed);
    EXPECT_EQ(NumLock(), "Off, *On");  // written, but the firmware could not confirm it
}

TEST_F(FaultsRoad, AnUnlockTheFirmwareRefusesLeavesTheSettingAlone) {
    Arm(kRefuseUnlock, 1);  // the password check's unlock passes, the commit's is refused
    EXPECT_EQ(SetBIOSSetting(kNumLockOn), 4);
    EXPECT_EQ(Calls(kRefuseUnlock), kArmed);
    EXPECT_EQ(NumLock(), "*Off, On");
}

TEST_F(FaultsRoad, TheDriverKilledInTheMiddleOfACommit) {
    Arm(kKillOnWrite);
    auto started = Clock::now();
    int result = SetBIOSSetting(kNumLockOn);
    EXPECT_TRUE(result == 0 || result == 4) << result;
    EXPECT_LT(Clock::now() - started, 30s) << "the client waited for an answer";
    // The driver was killed in that write; the library's transport may have started a new one and sent the
    // write again, which the firmware, locked again by the death of the unlocking driver, refuses.
    EXPECT_GE(Calls(kKillOnWrite), kArmed);
    ASSERT_NO_FATAL_FAILURE(WaitForProviderEnd());
    // The setting is what the answer said; the firmware is locked again although the killed driver unlocked
    // it and never locked it.
    EXPECT_EQ(NumLock(), result == 0 ? "Off, *On" : "*Off, On");
    qv::machine::Machine::Open(root_)->Transact([](qv::machine::Firmware& f) {
        qv::machine::CallOutcome o;
        qv::machine::Bytes value;
        ASSERT_EQ(f.ObjectValue(12, value, o), 0);  // "Num Lock State at Power-On"
        value[2] = value[2] == 0 ? 1 : 0;
        EXPECT_EQ(f.SetObjectValue(12, value, o), 0x85);
    });
    EXPECT_EQ(SetBIOSSetting({"Num Lock State at Power-On", "Off", "<kbd/>1E30", 0}), 0);
}

}  // namespace
}  // namespace road
