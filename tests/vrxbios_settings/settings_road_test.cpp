// Setting instances on the real road (settings_road.h): every setting of the desktop and the legacy notebook
// in its class with the values the machine holds, get object as a separate client command, the provider's
// start-up traces, its library file, and its exit once the service lets it go.
#include "settings_road.h"

#include "qv_firmware.h"
#include "qv_wait.h"

#include <algorithm>
#include <set>

namespace road {
namespace {

using nlohmann::json;

const char* const kClasses[] = {"QVPROV_BIOSEnumeration", "QVPROV_BIOSString", "QVPROV_BIOSInteger",
                                "QVPROV_BIOSPassword", "QVPROV_BIOSOrderedList"};

// Settings whose read-only flag the library ignores by name.
const std::set<std::string> kWritableByName = {"Boot Order",
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
                                               "Power-On Password"};

const std::map<std::string, std::string> kPrerequisites = {
    {"Boot Order", "SELECT * FROM QV_BIOSEnumeration WHERE MultiBoot=\"Enable\""},
    {"Power-On Password", "SELECT * FROM QV_BIOSPassword WHERE Name=\"Setup Password\" AND IsSet=1"}};

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i > 0 ? separator : "") + parts[i];
    return out;
}

json Enumeration(const std::vector<std::string>& choices, size_t current) {
    std::vector<std::string> marked = choices;
    marked[current] = "*" + marked[current];
    return {{"PossibleValues", choices},
            {"Size", choices.size()},
            {"SelectionIndex", current},
            {"CurrentValue", choices[current]},
            {"Value", Join(marked, ", ")}};
}

// The setting instances a machine profile with native system objects must give, class by class, in object
// order, from the profile alone.
std::map<std::string, std::vector<json>> ExpectedFromProfile(const json& profile) {
    std::map<std::string, std::vector<json>> expected;
    const json& objects = profile["system_objects"];
    bool english = false;
    for (const auto& language : objects["languages"]) english = english || language["name"] == "English";
    size_t index = objects["languages"].size() + (english ? 0 : 1);
    for (const auto& object : objects["objects"]) {
        size_t sequence = index++;
        std::string name = object["name"];
        std::string type = object.value("type", "enum");
        if (name == "--") continue;
        std::string full;
        for (const auto& key : object.value("key", json::array())) full += key.get<std::string>() + "\\";
        full += name;
        std::string path;
        for (const auto& menu : object.value("path", json::array())) path += "\\" + menu.get<std::string>();
        bool read_only = object.value("read_only", false) && kWritableByName.count(name) == 0;
        json e = {{"Name", full},
                  {"Path", path},
                  {"IsReadOnly", read_only ? 1 : 0},
                  {"DisplayInUI", 1},
                  {"RequiresPhysicalPresence", 0},
                  {"Sequence", sequence}};
        e["Prerequisites"] = kPrerequisites.count(name) ? json::array({kPrerequisites.at(name)}) : json(nullptr);
        std::vector<std::string> choices = object.value("choices", std::vector<std::string>{});
        size_t max_length = object.value("max_length", 40);
        std::string cls;
        if (type == "enum" || type == "ext_enum") {
            cls = "QVPROV_BIOSEnumeration";
            std::string value = object.value("value", choices.front());
            e.update(Enumeration(choices, std::find(choices.begin(), choices.end(), value) - choices.begin()));
        } else if (type == "text") {
            cls = "QVPROV_BIOSString";
            e.update({{"Value", object.value("value", "")}, {"MinLength", 0}, {"MaxLength", max_length + 1}});
        } else if (type == "int" || type == "ext_int") {
            cls = "QVPROV_BIOSInteger";
            long value = object.value("value", 0L);
            e.update({{"LowerBound", object.value("low", 0L)},
                      {"UpperBound", object.value("high", 0xFFFFFFFFL)},
                      {"IntValue", value},
                      {"Value", std::to_string(value)}});
        } else if (type == "password") {
            cls = "QVPROV_BIOSPassword";
            e.update({{"MinLength", 0},
                      {"MaxLength", std::max<size_t>(max_length + 1, 128)},
                      {"IsSet", 0},
                      {"SupportedEncoding", {"kbd", ""}},
                      {"Value", nullptr}});
        } else if (type == "orderedlist") {
            cls = "QVPROV_BIOSOrderedList";
            e.update({{"Elements", choices}, {"Size", choices.size()}, {"Value", Join(choices, ", ")}});
        } else {
            continue;  // dates, times and byte blocks belong to no class
        }
        expected[cls].push_back(e);
    }
    return expected;
}

// The legacy notebook (laptop-legacy): the library's catalogue objects that its firmware answers, in slot
// order after the string table, with the values of the profile's INT 15h settings and security bits.
std::map<std::string, std::vector<json>> ExpectedLegacyNotebook() {
    const std::string ds = "\\Security\\Device Security", ids = "\\Security\\System IDs";
    const std::string boot = "\\Advanced\\Boot Options", dev = "\\Advanced\\Device Options";
    const std::vector<std::string> off_on = {"Disable", "Enable"}, on_off = {"Enable", "Disable"};
    const std::vector<std::string> hidden = {"Device hidden", "Device available"};
    auto common = [](const std::string& name, const std::string& path, int sequence, int read_only = 0) {
        json e = {{"Name", name},
                  {"Path", path},
                  {"IsReadOnly", read_only},
                  {"DisplayInUI", 1},
                  {"RequiresPhysicalPresence", 0},
                  {"Sequence", sequence}};
        e["Prerequisites"] = kPrerequisites.count(name) ? json::array({kPrerequisites.at(name)}) : json(nullptr);
        return e;
    };
    auto string_setting = [&](const std::string& name, const std::string& path, int sequence, int read_only,
                              const std::string& value, int max_length) {
        json e = common(name, path, sequence, read_only);
        e.update({{"Value", value}, {"MinLength", 0}, {"MaxLength", max_length}});
        return e;
    };
    auto choice = [&](const std::string& name, const std::string& path, int sequence,
                      const std::vector<std::string>& choices, size_t current) {
        json e = common(name, path, sequence);
        e.update(Enumeration(choices, current));
        return e;
    };
    auto password = [&](const std::string& name, int sequence) {
        json e = common(name, ids, sequence);
        e.update({{"MinLength", 0},
                  {"MaxLength", 129},
                  {"IsSet", 0},
                  {"SupportedEncoding", {"kbd", ""}},
                  {"Value", nullptr}});
        return e;
    };
    std::map<std::string, std::vector<json>> expected;
    const std::string info = "\\File\\System Information";
    expected["QVPROV_BIOSString"] = {
        string_setting("Manufacturer", info, 1, 1, "Brevik", 41),
        string_setting("Product Name", info, 2, 1, "Brevik nc6000", 41),
        string_setting("Serial Number", info, 3, 1, "CNU5281XYZ", 41),
        string_setting("Asset Tracking Number", ids, 16, 0, "NB-0042", 41),
        string_setting("Enter Ownership Tag", ids, 17, 0, "", 81),
    };
    expected["QVPROV_BIOSEnumeration"] = {
        choice("SmartCard", "\\Security\\SmartCard Passwords", 4, off_on, 0),  // security bit 11 clear
        choice("Serial Port", ds, 5, hidden, 1),
        choice("Parallel Port", ds, 6, hidden, 1),
        choice("Wireless Network Button", ds, 7, off_on, 1),
        choice("Floppy Drives", ds, 8, hidden, 1),
        choice("Floppy Boot", ds, 9, off_on, 1),  // BH = 0 means enabled
        choice("Legacy Diskette Write", ds, 10, off_on, 1),
        choice("CD-ROM Boot", ds, 11, off_on, 1),
        choice("Network Service Boot", ds, 12, off_on, 1),
        choice("Embedded Security Activation Policy", ds, 13, {"No prompts", "F1 to Boot", "Allow user to reject"},
               1),  // neither bit 17 nor 18
        choice("Activate Embedded Security On Next Boot", ds, 14, off_on, 0),
        choice("Password Prompt on Warm Boot", ds, 15, off_on, 1),  // bit 12 set
        choice("MultiBoot", boot, 21, off_on, 1),
        choice("QuickBoot", boot, 22, off_on, 1),  // BH = 31
        choice("Num Lock State at Power-On", dev, 23, off_on, 0),
        choice("Multiple Pointing Devices", dev, 24, off_on, 1),
        choice("Touch Pad", dev, 25, on_off, 1),                          // BH 3: bit 1 set
        choice("Pointing Stick", dev, 26, on_off, 1),                     // bit 0 set
        choice("Intel(r) Speedstep(tm) Technology", dev, 27, on_off, 1),  // BH = 0
        choice("USB Legacy Device Support", dev, 28, off_on, 1),
        choice("Fan Always on while on AC Power", dev, 29, off_on, 0),
        choice("LAN/WLAN Switching", dev, 30, off_on, 1),  // BH 16: bit 4
        choice("Embedded WLAN Device Radio", dev, 31, off_on, 1),
        choice("Embedded Bluetooth Device Radio", dev, 32, off_on, 1),
        choice("LAN Power Save", dev, 33, off_on, 0),
        choice("Mobile hard drive protection", "\\Security\\Device Options", 34, off_on, 1),
    };
    expected["QVPROV_BIOSPassword"] = {password("Setup Password", 18), password("Power-On Password", 19)};
    // Priority 2, 0, 1, 3, 4, 5: "USB-FL", "HDA-L", "Intnl", "BAY-B", "PCI-A", and a description that is not
    // ASCII, which has no name and stays hidden.
    std::vector<std::string> order = {"USB Floppy", "Hard Drive (C:)", "Network Controller", "IDE CD-ROM Drive",
                                      "PCI Slot A"};
    json list = common("Boot Order", boot, 20);
    list.update({{"Elements", order}, {"Size", order.size()}, {"Value", Join(order, ", ")}});
    expected["QVPROV_BIOSOrderedList"] = {list};
    expected["QVPROV_BIOSInteger"] = {};
    return expected;
}

// Each expected property equals the instance's; instance names are 36-character UUID texts, all different.
void ExpectInstances(const json& got, const std::vector<json>& expected, const std::string& what) {
    ASSERT_EQ(got.size(), expected.size()) << what << ": " << got.dump(1);
    std::set<std::string> names;
    for (size_t i = 0; i < expected.size(); ++i) {
        for (const auto& [key, value] : expected[i].items())
            EXPECT_EQ(got[i][key], value) << what << " #" << i << " (" << expected[i]["Name"] << ") ." << key;
        std::string name = got[i]["InstanceName"];
        EXPECT_EQ(name.size(), 36u) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), expected.size()) << what << ": instance names repeat";
}

void ExpectEveryClass(SettingsRoadTest& test, const std::map<std::string, std::vector<json>>& expected,
                      nlohmann::json (SettingsRoadTest::*objects)(const std::vector<std::string>&)) {
    for (const char* cls : kClasses) {
        ExpectInstances((test.*objects)({"enum", cls}), expected.at(cls), std::string("enum ") + cls);
        ExpectInstances((test.*objects)({"query", std::string("SELECT * FROM ") + cls}), expected.at(cls),
                        std::string("query ") + cls);
    }
}

class SettingsRoad : public SettingsRoadTest {
public:
    using SettingsRoadTest::Objects;
};

TEST_F(SettingsRoad, DesktopEverySettingInItsClass) {
    Prepare("desktop");
    json profile = json::parse(ReadText(SourceTree() + "/platform/machine/profiles/desktop.json"));
    auto expected = ExpectedFromProfile(profile);
    ASSERT_EQ(expected["QVPROV_BIOSEnumeration"].size(), 6u) << "the profile changed; so must this test";
    ExpectEveryClass(*this, expected, &SettingsRoad::Objects);

    // The service applies a query's condition; the provider gave it every setting of the class.
    json writable = Objects({"query", "SELECT Name FROM QVPROV_BIOSString WHERE IsReadOnly = 0"});
    ASSERT_EQ(writable.size(), 2u);
    EXPECT_EQ(writable[0]["Name"], "Asset Tracking Number");
    EXPECT_EQ(writable[1]["Name"], "Enter Ownership Tag");

    json face = Objects({"enum", "QVPROV_BIOSSettingInterface"});
    ASSERT_EQ(face.size(), 1u);
    EXPECT_EQ(face[0]["InstanceName"], "ACPI\\PNP0C14\\0_0");
    EXPECT_EQ(face[0]["Name"], "QV BCX Software Provider for BIOS Settings");
    EXPECT_FALSE(face[0]["Version"].get<std::string>().empty());
    EXPECT_FALSE(face[0]["Build"].get<std::string>().empty());
    json got = Objects({"get", "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\""});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["Version"], face[0]["Version"]);

    // One provider served every request.
    std::string trace = DebugOutput();
    size_t starts = 0;
    for (size_t at = trace.find("Initializing "); at != std::string::npos; at = trace.find("Initializing ", at + 1))
        ++starts;
    EXPECT_EQ(starts, 1u) << trace;
}

// Nothing of the firmware is kept between requests: a change another process makes between two queries of a
// running provider is seen by the second.
TEST_F(SettingsRoad, AChangeByAnotherProcessIsSeenByTheNextQuery) {
    Prepare("desktop");
    const std::string query = "SELECT Name, IntValue FROM QVPROV_BIOSInteger WHERE Name = 'POST Delay (in seconds)'";
    json before = Objects({"query", query});
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0]["IntValue"], 0);

    // This test process writes the setting through the machine, as another program on the PC would.
    constexpr uint16_t kPostDelay = 2 + 11;  // after the profile's two string tables
    uint8_t status = 0xFF;
    qv::machine::Machine::Open(root_)->Transact([&](qv::machine::Firmware& firmware) {
        qv::machine::Bytes value;
        qv::machine::CallOutcome outcome;
        if (firmware.ObjectValue(kPostDelay, value, outcome) != 0 || value.size() < 14) return;
        value[10] = 42;
        status = firmware.SetObjectValue(kPostDelay, value, outcome);
    });
    ASSERT_EQ(status, 0);

    json after = Objects({"query", query});
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["IntValue"], 42);
}

TEST_F(SettingsRoad, LegacyNotebookEverySettingInItsClass) {
    Prepare("laptop-legacy");
    ExpectEveryClass(*this, ExpectedLegacyNotebook(), &SettingsRoad::Objects);
}

TEST_F(SettingsRoad, GetObjectWithNamesFromTwoEarlierEnumerations) {
    Prepare("desktop", 10000);  // the names live as long as the provider: it must not be let go in between
    json first = Objects({"enum", "QVPROV_BIOSEnumeration"});
    json second = Objects({"query", "SELECT * FROM QVPROV_BIOSEnumeration"});
    ASSERT_EQ(first.size(), 6u);
    ASSERT_EQ(second.size(), 6u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_NE(first[i]["InstanceName"], second[i]["InstanceName"]) << "every enumeration names anew";
        for (const json* from : {&first, &second}) {
            std::string name = (*from)[i]["InstanceName"];
            json got = Objects({"get", "QVPROV_BIOSEnumeration.InstanceName=\"" + name + "\""});
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0]["InstanceName"], name);
            for (const char* property : {"Name", "Value", "CurrentValue", "PossibleValues", "Sequence", "Path"})
                EXPECT_EQ(got[0][property], first[i][property]) << property;
        }
    }
    // Names from an enumeration of another class work as well, and an unknown name is not found.
    json integers = Objects({"enum", "QVPROV_BIOSInteger"});
    ASSERT_FALSE(integers.empty());
    json got = Objects(
        {"get", "QVPROV_BIOSInteger.InstanceName=\"" + integers.back()["InstanceName"].get<std::string>() + "\""});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["Name"], "Chassis Fan\\Fan Idle Speed");
    EXPECT_EQ(got[0]["IntValue"], 20);
    Result unknown = Wmi({"get", "QVPROV_BIOSInteger.InstanceName=\"00000000-0000-1000-8000-000000000000\""});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.err.find("0x80041002"), std::string::npos) << unknown.err;
}

// The provider traces its start with its version strings, writes the library it carries byte for byte, and
// ends by itself once the service releases it; a later request starts it again from the same file.
TEST_F(SettingsRoad, ProviderStartsTracesAndEndsByItself) {
    Prepare("desktop", 300);
    ASSERT_EQ(Objects({"enum", "QVPROV_BIOSPassword"}).size(), 2u);
    EXPECT_TRUE(WaitUntil([&] { return RootProcesses("vrxBIOS").empty(); }, 30s)) << "the provider did not end";

    std::string trace = DebugOutput();
    for (const char* line : {"Initializing QV BCX Software Provider for BIOS Settings....\n", "\n  Version: ",
                             "\n  Build:   ", "Terminating QV BCX Software Provider for BIOS Settings....\n"})
        EXPECT_NE(trace.find(line), std::string::npos) << line << " in\n" << trace;
    EXPECT_EQ(trace.find("Failed"), std::string::npos) << trace;
    std::filesystem::path library = root_ / "drive_c/WINDOWS/TEMP/vrxBIOS/ZMRMC.DLL";
    ASSERT_TRUE(std::filesystem::exists(library)) << "the library file stays after the provider ended";
    EXPECT_TRUE(ReadText(library) == ReadText(BuildTree() + "/lib/libZmrMC.so")) << "not the library byte for byte";

    ASSERT_EQ(Objects({"enum", "QVPROV_BIOSPassword"}).size(), 2u);
    trace = DebugOutput();
    EXPECT_NE(trace.find("Initializing", trace.find("Terminating")), std::string::npos) << "started again";
    EXPECT_EQ(trace.find("[Warning]"), std::string::npos) << trace;
}

// A driver killed between two queries is started again by the next one, which still lists every setting; a
// driver that cannot be started again fails the query with an error, never with an empty success.
TEST_F(SettingsRoad, AKilledDriverIsStartedAgainOrTheQueryFails) {
    Prepare("desktop", 5000);  // one provider for all the queries
    json profile = json::parse(ReadText(SourceTree() + "/platform/machine/profiles/desktop.json"));
    auto expected = ExpectedFromProfile(profile);
    ExpectInstances(Objects({"enum", "QVPROV_BIOSEnumeration"}), expected["QVPROV_BIOSEnumeration"], "before");
    auto kill_driver = [&] {
        std::vector<pid_t> drivers = RootProcesses("Zmrdtct.sys");
        ASSERT_EQ(drivers.size(), 1u);
        kill(drivers[0], SIGKILL);
        ASSERT_TRUE(WaitProcessGone(drivers[0], 10s));
    };
    ASSERT_NO_FATAL_FAILURE(kill_driver());
    ExpectEveryClass(*this, expected, &SettingsRoad::Objects);
    EXPECT_EQ(RootProcesses("vrxBIOS").size(), 1u) << "the same provider answered";

    // A file where the devices' folder belongs: the driver cannot create its devices, so it cannot start.
    ASSERT_NO_FATAL_FAILURE(kill_driver());
    std::filesystem::path devices = root_ / "devices";
    std::filesystem::remove_all(devices);
    std::ofstream(devices) << "not a folder";
    for (const char* cls : {"QVPROV_BIOSEnumeration", "QVPROV_BIOSString"}) {
        Result failed = Wmi({"enum", cls});
        EXPECT_NE(failed.code, 0) << cls << ": " << failed.out;
        EXPECT_NE(failed.err.find("0x80041001"), std::string::npos) << failed.err;
    }
    std::filesystem::remove(devices);
}

// A machine whose firmware offers no settings: the provider starts but is not ready and publishes nothing.
TEST_F(SettingsRoad, NoSettingsOnAnUnsupportedMachine) {
    Prepare("unsupported");
    for (const char* cls : kClasses) EXPECT_EQ(Objects({"enum", cls}).size(), 0u) << cls;
    EXPECT_EQ(Objects({"enum", "QVPROV_BIOSSettingInterface"}).size(), 0u);
    std::string trace = DebugOutput();
    EXPECT_TRUE(trace.find("  Failed to retrieve system configuration...") != std::string::npos ||
                trace.find("  Failed to initialize zmrmc...") != std::string::npos)
        << trace;
}

}  // namespace
}  // namespace road
