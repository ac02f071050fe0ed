// Reads every setting of the shipped machines through the library's exports, loaded by path in a fresh system
// root: the desktop's native system objects and the legacy notebook's imitated catalogue with its boot devices.

#include "ZmrMC.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Exports {
    decltype(&ZmrMCInit) Init;
    decltype(&BiosSettingsReadFromSystem) Read;
    decltype(&BiosSRIAddRef) AddRef;
    decltype(&BiosSRIRelease) Release;
    decltype(&BiosSettingsSRIEnumCount) Count;
    decltype(&BiosSettingsSRIEnumGetAt) At;
    decltype(&BiosSettingsFindStringFromID) Text;
    decltype(&BiosSettingsFindIDFromString) Id;
    decltype(&BiosSettingsFindSRI) Find;
    decltype(&ZmrMCGetIPLDevInfo) IplInfo;
    decltype(&ZmrMCGetIPLTableInfo) IplTable;
    decltype(&ZmrMCSetIPLPriority) SetPriority;
};

uint16_t U16(const void* p, size_t at) {
    uint16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(p) + at, 2);
    return v;
}
uint32_t U32(const void* p, size_t at) {
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(p) + at, 4);
    return v;
}

// Fields of a packed record, read by value (references to them would be misaligned).
#define FIELD(record, field) Field<decltype(SRI::field)>(record, offsetof(SRI, field))
template <typename T>
T Field(const SRI* r, size_t at) {
    T v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(r) + at, sizeof v);
    return v;
}

// What a test expects of one record; empty texts and negative numbers are not checked.
struct Expected {
    std::string name;
    uint16_t type;
    bool read_only;
    std::string path;   // menu names joined by "/"
    int index = -1;     // types 0 and 9: current index
    std::string value;  // text types: the text; enum types: the current choice's text
};

class SettingsReadTest : public TempRootTest {
protected:
    void Load(const char* profile) {
        setenv("QV_MACHINE", profile, 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);  // no driver outlives this test
        qv::win::SystemRoot();
        std::wstring path = qv::win::FromUtf8(BuildTree() + "/lib/libZmrMC.so");
        module_ = LoadLibraryW(path.c_str());
        ASSERT_NE(module_, nullptr);
        auto get = [&](const char* name) {
            void* p = GetProcAddress(module_, name);
            EXPECT_NE(p, nullptr) << name;
            return p;
        };
        x_.Init = reinterpret_cast<decltype(x_.Init)>(get("ZmrMCInit"));
        x_.Read = reinterpret_cast<decltype(x_.Read)>(get("BiosSettingsReadFromSystem"));
        x_.AddRef = reinterpret_cast<decltype(x_.AddRef)>(get("BiosSRIAddRef"));
        x_.Release = reinterpret_cast<decltype(x_.Release)>(get("BiosSRIRelease"));
        x_.Count = reinterpret_cast<decltype(x_.Count)>(get("BiosSettingsSRIEnumCount"));
        x_.At = reinterpret_cast<decltype(x_.At)>(get("BiosSettingsSRIEnumGetAt"));
        x_.Text = reinterpret_cast<decltype(x_.Text)>(get("BiosSettingsFindStringFromID"));
        x_.Id = reinterpret_cast<decltype(x_.Id)>(get("BiosSettingsFindIDFromString"));
        x_.Find = reinterpret_cast<decltype(x_.Find)>(get("BiosSettingsFindSRI"));
        x_.IplInfo = reinterpret_cast<decltype(x_.IplInfo)>(get("ZmrMCGetIPLDevInfo"));
        x_.IplTable = reinterpret_cast<decltype(x_.IplTable)>(get("ZmrMCGetIPLTableInfo"));
        x_.SetPriority = reinterpret_cast<decltype(x_.SetPriority)>(get("ZmrMCSetIPLPriority"));
        ASSERT_TRUE(x_.Init(0, 1));
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);  // unloading stops and removes the driver
        unsetenv("QV_MACHINE");
        TempRootTest::TearDown();
    }

    std::string Name(const SRI* r) { return x_.Text(U16(r, 24), nullptr); }
    std::string Path(const SRI* r) {
        std::string path;
        for (uint16_t i = 0; i < U16(r, 22); ++i)
            path += (i ? "/" : "") + std::string(x_.Text(U16(r, 10 + 2 * i), nullptr));
        return path;
    }
    const uint8_t* Value(const SRI* r) { return static_cast<const uint8_t*>(FIELD(r, value)); }
    // The current choice of an enumeration record, or the text of a text record.
    std::string Shown(const SRI* r) {
        uint16_t type = U16(r, 6);
        if (type == SRI_TYPE_ENUM || type == SRI_TYPE_KEYED_ENUM)
            return x_.Text(U16(Value(r), 2 * U16(r, 26)), nullptr);
        return reinterpret_cast<const char*>(Value(r));
    }
    void Check(const std::vector<Expected>& expected) {
        ASSERT_EQ(x_.Count(), static_cast<int>(expected.size()));
        for (size_t i = 0; i < expected.size(); ++i) {
            const SRI* r = x_.At(static_cast<int>(i));
            ASSERT_NE(r, nullptr);
            const Expected& e = expected[i];
            SCOPED_TRACE(e.name);
            EXPECT_EQ(FIELD(r, size), sizeof(SRI));
            EXPECT_EQ(Name(r), e.name);
            EXPECT_EQ(U16(r, 6), e.type);
            EXPECT_EQ((U16(r, 8) & SRI_FLAG_READ_ONLY) != 0, e.read_only);
            EXPECT_EQ(Path(r), e.path);
            if (e.index >= 0) {
                EXPECT_EQ(U16(r, 26), e.index);
            }
            if (!e.value.empty()) {
                EXPECT_EQ(Shown(r), e.value);
            }
        }
    }

    HMODULE module_ = nullptr;
    Exports x_{};
};

TEST_F(SettingsReadTest, DesktopNativeObjectsBecomeRecordsOfEveryType) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Read(nullptr));
    // The English table named every object although the German one came first; "--" is not listed; the
    // read-only "Processor Cache" is writable by name, "Legacy Devices" read-only by name.
    Check({
        {"English", SRI_TYPE_STRING_TABLE, true, "", -1, ""},  // the German table: its name ID 0 is "English"
        {"English", SRI_TYPE_STRING_TABLE, true, "", -1, ""},
        {"ROM Revision", SRI_TYPE_TEXT, true, "File/System Information", -1, "786D1 v01.08"},
        {"BIOS Release Date", SRI_TYPE_DATE, true, "File/System Information", -1, "07/12/2006"},
        {"Asset Tracking Number", SRI_TYPE_TEXT, false, "Security/System IDs", -1, "QV-ASSET-01"},
        {"Enter Ownership Tag", SRI_TYPE_TEXT, false, "Security/System IDs", -1, ""},
        {"Setup Password", SRI_TYPE_PASSWORD, false, "Security", -1, ""},
        {"Power-On Password", SRI_TYPE_PASSWORD, false, "Security", -1, ""},
        {"Serial Port A", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Device available"},
        {"MultiBoot", SRI_TYPE_ENUM, false, "Storage/Boot Order", 1, "Enable"},
        {"Boot Order", SRI_TYPE_ORDERED_LIST, false, "Storage/Boot Order", -1, ""},
        {"Num Lock State at Power-On", SRI_TYPE_ENUM, false, "Advanced/Boot Options", 0, "Off"},
        {"POST Delay (in seconds)", SRI_TYPE_INTEGER, false, "Advanced/Boot Options", -1, ""},
        {"Legacy Devices", SRI_TYPE_BINARY, true, "Advanced/Device Options", -1, ""},
        {"Power-On Time", SRI_TYPE_TIME, false, "Advanced/Power-On Options", -1, "06:30"},
        {"SATA Port", SRI_TYPE_KEYED_ENUM, false, "Storage/Device Configuration", 1, "Enable"},
        {"SATA Port", SRI_TYPE_KEYED_ENUM, false, "Storage/Device Configuration", 0, "Disable"},
        {"Fan Idle Speed", SRI_TYPE_KEYED_INTEGER, false, "Power/Thermal", -1, ""},
        {"Fan Idle Speed", SRI_TYPE_KEYED_INTEGER, false, "Power/Thermal", -1, ""},
        {"Processor Cache", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Enable"},
    });
    if (HasFatalFailure()) return;

    const SRI* german = x_.At(0);
    EXPECT_STREQ(reinterpret_cast<const char*>(Value(german)), "Deutsch");
    uint16_t enable = 0;
    ASSERT_TRUE(x_.Id(&enable, "enable"));
    EXPECT_STREQ(x_.Text(enable, const_cast<SRI*>(german)), "Aktivieren");

    // Integer bounds and value; keyed records tell themselves apart by their instance key.
    const SRI* delay = x_.At(12);
    EXPECT_EQ(FIELD(delay, lowerBound), 0u);
    EXPECT_EQ(FIELD(delay, upperBound), 60u);
    EXPECT_EQ(U32(Value(delay), 0), 0u);
    const SRI* cpuFan = x_.At(17);
    EXPECT_EQ(x_.Text(U16(cpuFan, 28), nullptr), std::string("CPU Fan"));
    EXPECT_EQ(U16(cpuFan, 30), 0xFFFF);
    EXPECT_EQ(U32(Value(cpuFan), 0), 30u);
    EXPECT_EQ(U32(Value(x_.At(18)), 0), 20u);
    uint16_t key[4] = {U16(x_.At(16), 28), 0xFFFF, 0xFFFF, 0xFFFF};
    EXPECT_EQ(x_.Find(U16(x_.At(16), 24), key), x_.At(16));

    // The byte block, the ordered list and the password buffer.
    const SRI* legacy = x_.At(13);
    ASSERT_EQ(FIELD(legacy, valueSize), 8u);
    EXPECT_EQ(std::memcmp(Value(legacy), "\x03\xF8\x04\x02\x78\x03\x00\x00", 8), 0);
    const SRI* order = x_.At(10);
    ASSERT_EQ(FIELD(order, elementCount), 5);  // four items and the closing 0xFFFF
    EXPECT_STREQ(x_.Text(U16(Value(order), 0), nullptr), "IDE CD-ROM Drive");
    EXPECT_STREQ(x_.Text(U16(Value(order), 6), nullptr), "Network Controller");
    EXPECT_EQ(FIELD(x_.At(6), valueSize), 128u);
    // Read with room for 21 bytes (read-only and small), kept at the size the firmware reported.
    EXPECT_EQ(FIELD(x_.At(19), elementCount), 3);
    EXPECT_EQ(FIELD(x_.At(19), valueSize), 6u);

    // Prerequisites of "Boot Order" and "Power-On Password".
    EXPECT_EQ(FIELD(order, prereqCount), 1);
    const char* prereq = FIELD(order, prereqs);
    EXPECT_STREQ(prereq, "SELECT * FROM QV_BIOSEnumeration WHERE MultiBoot=\"Enable\"");
    EXPECT_EQ(FIELD(x_.At(7), prereqCount), 1);
    EXPECT_EQ(FIELD(x_.At(6), prereqCount), 0);
}

TEST_F(SettingsReadTest, SecondReadWhileReferencedKeepsEveryRecord) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Read(nullptr));
    std::vector<const SRI*> records;
    std::vector<std::string> names;
    for (int i = 0; i < x_.Count(); ++i) {
        records.push_back(x_.At(i));
        names.push_back(Name(x_.At(i)) + "=" + Shown(x_.At(i)));
    }
    ASSERT_FALSE(records.empty());

    EXPECT_FALSE(x_.Read(nullptr));  // a reference is held: the read takes another and changes nothing
    ASSERT_EQ(x_.Count(), static_cast<int>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(x_.At(static_cast<int>(i)), records[i]);
        EXPECT_EQ(Name(records[i]) + "=" + Shown(records[i]), names[i]);
    }
    EXPECT_EQ(x_.Release(), 1);
    EXPECT_EQ(x_.Release(), 0);
    EXPECT_EQ(x_.Release(), 0);
    EXPECT_TRUE(x_.Read(nullptr));
    EXPECT_EQ(x_.Count(), static_cast<int>(records.size()));
}

TEST_F(SettingsReadTest, LegacyNotebookReadsTheCatalogueThatAnswered) {
    ASSERT_NO_FATAL_FAILURE(Load("laptop-legacy"));
    ASSERT_TRUE(x_.Read(nullptr));
    // Catalogue order, the string table first. The firmware lacks sub-functions 02h and 7Eh: "Infrared Port"
    // and "Data Execution Prevention" are dropped. The identity texts come from the identity exports.
    Check({
        {"English", SRI_TYPE_STRING_TABLE, true, "", -1, ""},
        {"Manufacturer", SRI_TYPE_TEXT, true, "File/System Information", -1, ""},
        {"Product Name", SRI_TYPE_TEXT, true, "File/System Information", -1, ""},
        {"Serial Number", SRI_TYPE_TEXT, true, "File/System Information", -1, ""},
        {"SmartCard", SRI_TYPE_ENUM, false, "Security/SmartCard Passwords", 0, "Disable"},
        {"Serial Port", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Device available"},
        {"Parallel Port", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Device available"},
        {"Wireless Network Button", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Enable"},
        {"Floppy Drives", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Device available"},
        {"Floppy Boot", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Enable"},
        {"Legacy Diskette Write", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Enable"},
        {"CD-ROM Boot", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Enable"},
        {"Network Service Boot", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Enable"},
        {"Embedded Security Activation Policy", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "F1 to Boot"},
        {"Activate Embedded Security On Next Boot", SRI_TYPE_ENUM, false, "Security/Device Security", 0, "Disable"},
        {"Password Prompt on Warm Boot", SRI_TYPE_ENUM, false, "Security/Device Security", 1, "Enable"},
        {"Asset Tracking Number", SRI_TYPE_TEXT, false, "Security/System IDs", -1, ""},
        {"Enter Ownership Tag", SRI_TYPE_TEXT, false, "Security/System IDs", -1, ""},
        {"Setup Password", SRI_TYPE_PASSWORD, false, "Security/System IDs", -1, ""},
        {"Power-On Password", SRI_TYPE_PASSWORD, false, "Security/System IDs", -1, ""},
        {"Boot Order", SRI_TYPE_ORDERED_LIST, false, "Advanced/Boot Options", -1, ""},
        {"MultiBoot", SRI_TYPE_ENUM, false, "Advanced/Boot Options", 1, "Enable"},
        {"QuickBoot", SRI_TYPE_ENUM, false, "Advanced/Boot Options", 1, "Enable"},
        {"Num Lock State at Power-On", SRI_TYPE_ENUM, false, "Advanced/Device Options", 0, "Disable"},
        {"Multiple Pointing Devices", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Enable"},
        {"Touch Pad", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Disable"},
        {"Pointing Stick", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Disable"},
        {"Intel(r) Speedstep(tm) Technology", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Disable"},
        {"USB Legacy Device Support", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Enable"},
        {"Fan Always on while on AC Power", SRI_TYPE_ENUM, false, "Advanced/Device Options", 0, "Disable"},
        {"LAN/WLAN Switching", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Enable"},
        {"Embedded WLAN Device Radio", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Enable"},
        {"Embedded Bluetooth Device Radio", SRI_TYPE_ENUM, false, "Advanced/Device Options", 1, "Enable"},
        {"LAN Power Save", SRI_TYPE_ENUM, false, "Advanced/Device Options", 0, "Disable"},
        {"Mobile hard drive protection", SRI_TYPE_ENUM, false, "Security/Device Options", 1, "Enable"},
    });
    if (HasFatalFailure()) return;

    // The string table: the 87 texts, object indexes dense in slot order.
    const SRI* table = x_.At(0);
    EXPECT_EQ(FIELD(table, elementCount), 87);
    EXPECT_STREQ(x_.Text(86, nullptr), "--");
    EXPECT_STREQ(x_.Text(53, nullptr), "Intel(r) Speedstep(tm) Technology");
    EXPECT_STREQ(x_.Text(87, nullptr), "");
    for (int i = 0; i < x_.Count(); ++i) EXPECT_EQ(U16(x_.At(i), 4), i);
    uint16_t infrared = 0;
    ASSERT_TRUE(x_.Id(&infrared, "Infrared Port"));
    EXPECT_EQ(x_.Find(infrared, nullptr), nullptr);

    // Boot devices in priority order as string IDs; a description with non-ASCII bytes has no name ("--").
    const SRI* order = x_.At(20);
    ASSERT_EQ(FIELD(order, elementCount), 7);
    std::vector<std::string> devices;
    for (int i = 0; i < 6; ++i) devices.push_back(x_.Text(U16(Value(order), 2 * i), nullptr));
    EXPECT_EQ(devices, (std::vector<std::string>{"USB Floppy", "Hard Drive (C:)", "Network Controller",
                                                 "IDE CD-ROM Drive", "PCI Slot A", "--"}));
    EXPECT_EQ(U16(Value(order), 12), 0xFFFF);
    EXPECT_EQ(FIELD(order, prereqCount), 1);  // the MultiBoot prerequisite
}

TEST_F(SettingsReadTest, BootDeviceExportsReadAndSetThePriority) {
    ASSERT_NO_FATAL_FAILURE(Load("laptop-legacy"));
    ZmrMCIplInfo info{};
    int maxCount = -1, entrySize = -1, tableSize = -1;
    ASSERT_TRUE(x_.IplInfo(&info, &maxCount, &entrySize, &tableSize));
    EXPECT_EQ(info.version, 0x0101);
    EXPECT_EQ(info.count, 6);
    EXPECT_EQ(maxCount, 8);
    EXPECT_EQ(entrySize, 16);
    EXPECT_EQ(tableSize, 17 * 8);

    std::vector<unsigned char> buffer(static_cast<size_t>(tableSize), 0xAA);
    EXPECT_FALSE(x_.IplTable(buffer.data(), tableSize - 1, maxCount, entrySize));
    EXPECT_FALSE(x_.IplTable(nullptr, tableSize, maxCount, entrySize));
    ASSERT_TRUE(x_.IplTable(buffer.data(), tableSize, maxCount, entrySize));
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 6),
              (std::vector<unsigned char>{2, 0, 1, 3, 4, 5}));
    EXPECT_EQ(U32(buffer.data(), 8 + 16 * 0 + 8) >> 16, 0xF000u);  // far pointer of entry 0's description

    const unsigned char fresh[6] = {5, 4, 3, 2, 1, 0};
    EXPECT_FALSE(x_.SetPriority(nullptr, 6));
    EXPECT_FALSE(x_.SetPriority(fresh, 0));
    ASSERT_TRUE(x_.SetPriority(fresh, 6));
    ASSERT_TRUE(x_.IplTable(buffer.data(), tableSize, maxCount, entrySize));
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 6),
              (std::vector<unsigned char>{5, 4, 3, 2, 1, 0}));

    // The catalogue's "Boot Order" shows the new order.
    ASSERT_TRUE(x_.Read(nullptr));
    const SRI* order = x_.Find(63, nullptr);
    ASSERT_NE(order, nullptr);
    EXPECT_STREQ(x_.Text(U16(Value(order), 0), nullptr), "--");
    EXPECT_STREQ(x_.Text(U16(Value(order), 2), nullptr), "PCI Slot A");
    EXPECT_STREQ(x_.Text(U16(Value(order), 10), nullptr), "Hard Drive (C:)");
}

// With a setup password the read unlocks the system objects and locks them again, also when it ends early.
// Never-firing fault rules count the lock-state calls in the machine's state.
TEST_F(SettingsReadTest, ReadUnlocksAndLocksAgainOnEveryPath) {
    std::ifstream in(SourceTree() + "/platform/machine/profiles/desktop.json");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string passwords = R"("passwords": {"setup": "", "power_on": ""})";
    size_t at = text.find(passwords);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, passwords.size(), R"("passwords": {"setup": "1E30", "power_on": ""},
      "faults": [{"call": "object.unlock", "nth": 1000, "action": "fail"},
                 {"call": "object.lock", "nth": 1000, "action": "fail"},
                 {"call": "object.listsize", "nth": 3, "times": 1, "action": "fail"}])");
    std::string profile = (root_ / "locked-desktop.json").string();
    std::ofstream(profile) << text;
    ASSERT_NO_FATAL_FAILURE(Load(profile.c_str()));
    auto counts = [&] {
        std::ifstream state(root_ / "machine" / "state.json");
        std::string json((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
        size_t from = json.find("\"fault_counts\"");
        if (from == std::string::npos) return std::string();
        size_t open = json.find('[', from), close = json.find(']', from);
        std::string list;
        for (char c : json.substr(open + 1, close - open - 1))
            if (c != ' ' && c != '\n') list += c;
        return list;
    };
    auto unlocked = [&] {
        std::ifstream state(root_ / "machine" / "state.json");
        std::string json((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
        return json.find("\"unlocked\": true") != std::string::npos;
    };

    ASSERT_TRUE(x_.Read("\x1E\x30"));  // list size calls 1 (the mode decision) and 2
    EXPECT_EQ(counts(), "1,1,2");
    EXPECT_FALSE(unlocked());
    EXPECT_EQ(x_.Release(), 0);
    EXPECT_FALSE(x_.Read("\x1E\x30"));  // the list size request fails (call 3): the read ends early
    EXPECT_EQ(counts(), "2,2,3");
    EXPECT_FALSE(unlocked());
}

TEST_F(SettingsReadTest, DesktopHasNoBootDevicesInItsBootTable) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));  // Plug and Play nodes but an empty boot table
    ZmrMCIplInfo info{};
    int maxCount = -1, entrySize = -1, tableSize = -1;
    ASSERT_TRUE(x_.IplInfo(&info, &maxCount, &entrySize, &tableSize));
    EXPECT_EQ(info.count, 0);
    EXPECT_EQ(tableSize, (entrySize + 1) * maxCount);
}

// A legacy model whose firmware reports another BIOS Boot Specification version and answers one E845h
// sub-function: no boot devices, so no "Boot Order"; of the E845h settings only "Serial Port" is kept.
TEST_F(SettingsReadTest, LegacyModelWithFewAnswersKeepsOnlyThose) {
    std::string profile = (root_ / "few-answers.json").string();
    FILE* out = std::fopen(profile.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(R"({"system_id": "0x0812", "int15": {"e845": {"settings": {"0x46": 0}}},
                  "pnp": {"bbs_version": "0x0200", "ipl": [{"description": "HDA-L", "type": 2}]}})",
               out);
    std::fclose(out);
    ASSERT_NO_FATAL_FAILURE(Load(profile.c_str()));
    ZmrMCIplInfo info{};
    int maxCount = -1, entrySize = -1, tableSize = -1;
    EXPECT_FALSE(x_.IplInfo(&info, &maxCount, &entrySize, &tableSize));
    EXPECT_EQ(info.count, 0);
    EXPECT_EQ(maxCount, 0);
    EXPECT_EQ(tableSize, 0);

    ASSERT_TRUE(x_.Read(nullptr));
    std::vector<std::string> names;
    for (int i = 0; i < x_.Count(); ++i) names.push_back(Name(x_.At(i)));
    EXPECT_EQ(names, (std::vector<std::string>{"English", "Manufacturer", "Product Name", "Serial Number",
                                               "Serial Port", "Asset Tracking Number", "Enter Ownership Tag",
                                               "Setup Password", "Power-On Password"}));
    EXPECT_EQ(Shown(x_.At(4)), "Device hidden");
}

}  // namespace
