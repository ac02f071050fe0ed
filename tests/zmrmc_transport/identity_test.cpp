// The library's system identity for every shipped machine: loaded by path in a fresh system root, initialised
// as the provider does (0, 1), its identity getters compared with the profile, and its SMBIOS getters with what
// dmidecode decodes from the machine's own table.

#include "ZmrMC.h"
#include "driver_service.h"
#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Getter = const char* (*)();

struct Expected {
    const char* profile;
    int machineId;
    const char* romVersion;
    const char* romFamily;
    const char* productName;
    const char* serial;
    const char* assetTag;
    const char* ownership;
    bool driver = true;  // false: 64-bit Windows, where the library installs no driver
};

class IdentityTest : public TempRootTest, public ::testing::WithParamInterface<Expected> {
protected:
    void Load(const char* profile) {
        setenv("QV_MACHINE", profile, 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);
        qv::win::ResetRootMachineForTesting();
        qv::win::SystemRoot();
        std::wstring path = qv::win::FromUtf8(BuildTree() + "/lib/libZmrMC.so");
        module_ = LoadLibraryW(path.c_str());
        ASSERT_NE(module_, nullptr);
    }
    template <typename T>
    T Export(const char* name) {
        void* p = GetProcAddress(module_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<T>(p);
    }
    std::string Text(const char* name) {
        Getter get = Export<Getter>(name);
        return get != nullptr && get() != nullptr ? get() : "<null>";
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
        StopDriverService();
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
    }
    HMODULE module_ = nullptr;
};

// The machine's own SMBIOS entry point and table, read from its ROM area.
struct MachineSmbios {
    std::vector<uint8_t> entry;
    std::vector<uint8_t> table;
};
std::optional<MachineSmbios> ReadMachineSmbios() {
    std::optional<MachineSmbios> out;
    qv::win::RootMachine()->Transact([&](qv::machine::Firmware& f) {
        auto entry = f.SmbiosEntryPoint();
        if (!entry || entry->size() != 31) return;
        uint32_t address, length = static_cast<uint32_t>((*entry)[0x16] | ((*entry)[0x17] << 8));
        std::memcpy(&address, entry->data() + 0x18, 4);
        out = MachineSmbios{*entry, f.ReadRomArea(address, length)};
    });
    return out;
}

// dmidecode's binary dump: the entry point with the table address rewritten to 32 (both checksums made
// right again), padding to 32, the table.
void WriteDmidecodeDump(const MachineSmbios& smbios, const std::string& path) {
    std::vector<uint8_t> dump(smbios.entry);
    dump[0x18] = 32;
    dump[0x19] = dump[0x1A] = dump[0x1B] = 0;
    auto fix = [&](size_t from, size_t count, size_t at) {
        dump[at] = 0;
        uint8_t sum = 0;
        for (size_t i = from; i < from + count; ++i) sum = static_cast<uint8_t>(sum + dump[i]);
        dump[at] = static_cast<uint8_t>(-sum);
    };
    fix(0x10, 15, 0x15);
    fix(0, dump[5], 4);
    dump.resize(32, 0);
    dump.insert(dump.end(), smbios.table.begin(), smbios.table.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(dump.data()), static_cast<std::streamsize>(dump.size()));
}

// Runs dmidecode; its standard output, and the standard error in `errors`.
std::string Dmidecode(const std::string& arguments, std::string* errors = nullptr) {
    char errPath[] = "/tmp/qv-dmierr-XXXXXX";
    int fd = mkstemp(errPath);
    if (fd >= 0) close(fd);
    std::string command = "dmidecode " + arguments + " 2>" + errPath;
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    if (errors != nullptr) {
        std::ifstream in(errPath);
        errors->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(errPath);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// dmidecode names an absent string "Not Specified"; the library answers "".
std::string Absent(const std::string& text) { return text == "Not Specified" ? "" : text; }

}  // namespace

TEST_P(IdentityTest, InitAnswersAndTheGettersGiveTheProfilesValues) {
    const Expected& e = GetParam();
    ASSERT_NO_FATAL_FAILURE(Load(e.profile));
    ASSERT_TRUE(Export<decltype(&ZmrMCInit)>("ZmrMCInit")(0, 1));
    EXPECT_TRUE(Export<decltype(&ZmrMCObtainBiosData)>("ZmrMCObtainBiosData")());
    EXPECT_EQ(Export<decltype(&ZmrMCGetMachineID)>("ZmrMCGetMachineID")(), e.machineId);
    EXPECT_EQ(Text("ZmrMCGetROMVersion"), e.romVersion);
    EXPECT_EQ(Text("ZmrMCGetROMFamily"), e.romFamily);
    EXPECT_EQ(Text("ZmrMCGetProductName"), e.productName);
    EXPECT_EQ(Text("ZmrMCGetSerialNumber"), e.serial);
    EXPECT_EQ(Text("ZmrMCGetAssetTag"), e.assetTag);
    EXPECT_EQ(Text("ZmrMCGetOwnershipString"), e.ownership);

    // A new asset tag is kept by the firmware and read back (only the driver reaches the firmware's call).
    auto set = Export<decltype(&ZmrMCSetAssetTag)>("ZmrMCSetAssetTag");
    if (std::string(e.assetTag).empty() || !e.driver) {
        EXPECT_FALSE(set("TAG-9"));
    } else {
        ASSERT_TRUE(set("TAG-9 longer than sixteen"));
        EXPECT_EQ(Text("ZmrMCGetAssetTag"), "TAG-9 longer tha");
    }
}

TEST_P(IdentityTest, SmbiosGettersEqualWhatDmidecodeDecodes) {
    const Expected& e = GetParam();
    ASSERT_NO_FATAL_FAILURE(Load(e.profile));
    ASSERT_TRUE(Export<decltype(&ZmrMCInit)>("ZmrMCInit")(0, 1));
    std::optional<MachineSmbios> smbios = ReadMachineSmbios();
    ASSERT_TRUE(smbios.has_value());

    // The exports hand over the same table the machine holds, through the driver.
    if (e.driver) {
        int count = -1, length = -1;
        ASSERT_TRUE(Export<decltype(&ZmrMCGetSMBTableSize)>("ZmrMCGetSMBTableSize")(&count, &length));
        EXPECT_EQ(count, smbios->entry[0x1C] | (smbios->entry[0x1D] << 8));
        ASSERT_EQ(static_cast<size_t>(length), smbios->table.size());
        std::vector<uint8_t> table(static_cast<size_t>(length));
        ASSERT_TRUE(Export<decltype(&ZmrMCObtainSMBTable)>("ZmrMCObtainSMBTable")(table.data(), length));
        EXPECT_EQ(table, smbios->table);
        EXPECT_FALSE(Export<decltype(&ZmrMCObtainSMBTable)>("ZmrMCObtainSMBTable")(table.data(), 0x30000));
    } else {
        // SMBIOS known from the instrumentation alone: no entry point, so no table to size (not an empty one).
        int count = -1, length = -1;
        EXPECT_FALSE(Export<decltype(&ZmrMCGetSMBTableSize)>("ZmrMCGetSMBTableSize")(&count, &length));
        EXPECT_EQ(count, 0);
        EXPECT_EQ(length, 0);
    }

    std::string dump = root_.string() + "/smbios.bin";
    WriteDmidecodeDump(*smbios, dump);
    std::string errors;
    std::string full = Dmidecode("--from-dump " + dump, &errors);
    EXPECT_EQ(errors, "");
    EXPECT_NE(full.find("System Information"), std::string::npos) << full;
    EXPECT_NE(full.find("SMBIOS " + std::to_string(smbios->entry[6]) + "." + std::to_string(smbios->entry[7])),
              std::string::npos)
        << full;
    for (const char* trouble : {"OUT OF SPEC", "Invalid", "Bad", "truncated", "<BAD INDEX>", "Wrong"})
        EXPECT_EQ(full.find(trouble), std::string::npos) << trouble << " in\n" << full;

    const std::map<std::string, std::string> pairs = {
        {"bios-version", "ZmrMCGetSmbiosBiosVersion"},
        {"bios-release-date", "ZmrMCGetSmbiosBiosReleaseDate"},
        {"system-manufacturer", "ZmrMCGetSystemManufacturer"},
        {"system-product-name", "ZmrMCGetSystemProduct"},
        {"system-version", "ZmrMCGetSystemVersion"},
        {"baseboard-manufacturer", "ZmrMCGetBaseBoardManufacturer"},
        {"baseboard-product-name", "ZmrMCGetBaseBoardProduct"},
        {"baseboard-version", "ZmrMCGetBaseBoardVersion"},
    };
    for (const auto& [keyword, getter] : pairs)
        EXPECT_EQ(Text(getter.c_str()), Absent(Dmidecode("--from-dump " + dump + " -s " + keyword))) << keyword;
    // The serial number and (on machines whose firmware has no asset-tag call) the asset tag come from SMBIOS.
    EXPECT_EQ(Text("ZmrMCGetSerialNumber"), Absent(Dmidecode("--from-dump " + dump + " -s system-serial-number")));
    EXPECT_EQ(Text("ZmrMCGetAssetTag"), Absent(Dmidecode("--from-dump " + dump + " -s chassis-asset-tag")));
    EXPECT_EQ(Text("ZmrMCGetProductName"), Absent(Dmidecode("--from-dump " + dump + " -s system-product-name")));
}

// The operating system's raw SMBIOS class in "root\\WMI", through the real service and the client tool.
TEST_P(IdentityTest, TheClientToolReadsTheRawSmbiosTable) {
    const Expected& e = GetParam();
    setenv("QV_MACHINE", e.profile, 1);
    qv::win::ResetRootMachineForTesting();
    std::optional<MachineSmbios> smbios = ReadMachineSmbios();
    ASSERT_TRUE(smbios.has_value());
    std::string command = BuildTree() +
                          "/bin/wmi -n 'root\\WMI' -f json query 'select * from MSSmBios_RawSMBiosTables'";
    std::string out;
    int status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        status = pclose(pipe);
    }
    ASSERT_EQ(status, 0) << out;
    nlohmann::json objects = nlohmann::json::parse(out, nullptr, false);
    ASSERT_TRUE(objects.is_array() && objects.size() == 1) << out;
    const nlohmann::json& o = objects[0];
    EXPECT_EQ(o["SmbiosMajorVersion"], smbios->entry[6]);
    EXPECT_EQ(o["SmbiosMinorVersion"], smbios->entry[7]);
    EXPECT_EQ(o["Size"], smbios->table.size());
    EXPECT_EQ(o["SMBiosData"].get<std::vector<uint8_t>>(), smbios->table);
}

INSTANTIATE_TEST_SUITE_P(
    ShippedMachines, IdentityTest,
    ::testing::Values(
        Expected{"desktop", 0x0890, "07/12/06", "786D", "Brevik d540 SFF", "CZC61234XY", "QV-ASSET-01",
                 "Property of QV Labs"},
        // Board product "KBC-L" is no identifier: the driver's answer counts; portable with identifier >= 2008.
        Expected{"laptop-legacy", 0x0815, "03/22/05", "68MU2", "Brevik nc6000", "CNU5281XYZ", "NB-0042", ""},
        Expected{"native-wmi", 0x2800, "10/02/07", "786E", "Brevik dc7700", "CZC7000001", "QV-ASSET-77", ""},
        // Not the maker's ROM, no identifier anywhere, no INT 15h functions.
        // No driver: ready from the SMBIOS table that WMI serves; the ROM bytes stay out of reach.
        Expected{"x64", 0x2A10, "", "", "Brevik xw4400 Workstation", "CZJ7400001", "WS-0001", "", false},
        Expected{"unsupported", 0, "11/20/04", "", "Whitebox PC", "000000001", "", ""}),
    [](const ::testing::TestParamInfo<Expected>& param) {
        std::string name = param.param.profile;
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    });

namespace {
class DetectTest : public IdentityTest {};
}  // namespace

// The notebook's PCI functions (function 1 of device 31 only because function 0 is multi-function) and its
// Plug and Play device nodes, in scan order.
TEST_F(DetectTest, ScansPciFunctionsAndPlugAndPlayNodes) {
    ASSERT_NO_FATAL_FAILURE(Load("laptop-legacy"));
    auto detect = Export<decltype(&ZmrMCDetect)>("ZmrMCDetect");
    auto count = Export<decltype(&ZmrMCGetFoundDevicesCount)>("ZmrMCGetFoundDevicesCount");
    auto at = Export<decltype(&ZmrMCGetFoundDeviceAtIndex)>("ZmrMCGetFoundDeviceAtIndex");
    EXPECT_EQ(static_cast<uint32_t>(detect()), 0x800A03E8u);  // before ZmrMCInit: no driver handle
    ASSERT_TRUE(Export<decltype(&ZmrMCInit)>("ZmrMCInit")(0, 1));
    ASSERT_EQ(detect(), 0);
    ASSERT_EQ(count(), 8);

    struct Row {
        const char* id;
        uint32_t state, classBit, source, device;
        uint16_t detail, revision;
    };
    const Row rows[] = {
        {"", 0, 1u << 6, 1, 0x33408086, 0x0000, 0x0003}, {"", 0, 1u << 6, 1, 0x24CC8086, 0x0100, 0x0001},
        {"", 0, 1u << 1, 1, 0x24CA8086, 0x018A, 0x8A01}, {"", 2, 1u << 3, 1, 0x4E501002, 0x0000, 0x0000},
        {"PNP0501", 0, 1u << 7, 2, 0, 0x0002, 0},        {"PNP0401", 0, 1u << 7, 2, 0, 0x0102, 0},
        {"PNP0303", 0, 1u << 9, 2, 0, 0x0000, 0},        {"PNP0F13", 0, 1u << 9, 2, 0, 0x0200, 0},
    };
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        ZmrMCFoundDevice d;
        std::memset(&d, 0xAA, sizeof d);
        ASSERT_TRUE(at(i, &d));
        char id[8] = {};
        std::memcpy(id, rows[i].id, std::strlen(rows[i].id));
        EXPECT_EQ(std::memcmp(d.identifier, id, 8), 0);  // seven characters and the NUL; all zero for PCI
        EXPECT_EQ(d.fields[0], rows[i].state);
        EXPECT_EQ(d.fields[1], rows[i].classBit);
        EXPECT_EQ(d.fields[2], rows[i].source);
        if (rows[i].source == 1) {
            EXPECT_EQ(d.fields[3], rows[i].device);
        }
        EXPECT_EQ(d.fields[5], 0u);
        EXPECT_EQ(d.words[0], rows[i].detail);
        EXPECT_EQ(d.words[1], rows[i].revision);
    }
    ZmrMCFoundDevice none;
    EXPECT_FALSE(at(8, &none));
    EXPECT_FALSE(at(0, nullptr));
    // A second scan replaces the list instead of adding to it.
    ASSERT_EQ(detect(), 0);
    EXPECT_EQ(count(), 8);
}

namespace {
// On 64-bit Windows the firmware's call gate, reached through the real service, is the only way to the setup
// password's state.
class GateOnlyTest : public IdentityTest {
protected:
    void LoadX64(bool setupPassword) {
        std::ifstream in(SourceTree() + "/platform/machine/profiles/x64.json");
        nlohmann::json profile = nlohmann::json::parse(in);
        if (setupPassword) profile["passwords"]["setup"] = "1E30";
        std::string path = root_.string() + "/x64.json";
        std::ofstream(path) << profile.dump();
        ASSERT_NO_FATAL_FAILURE(Load(path.c_str()));
        ASSERT_TRUE(Export<decltype(&ZmrMCInit)>("ZmrMCInit")(0, 1));
    }
};
}  // namespace

TEST_F(GateOnlyTest, SetupPasswordSetIsReportedThroughTheCallGate) {
    ASSERT_NO_FATAL_FAILURE(LoadX64(true));
    EXPECT_TRUE(Export<decltype(&ZmrMCGetIsAPwdSet)>("ZmrMCGetIsAPwdSet")());
}

TEST_F(GateOnlyTest, NoSetupPasswordIsReportedThroughTheCallGate) {
    ASSERT_NO_FATAL_FAILURE(LoadX64(false));
    EXPECT_FALSE(Export<decltype(&ZmrMCGetIsAPwdSet)>("ZmrMCGetIsAPwdSet")());
}

// The library carries its own COM runtime: unloading it right after calls through WMI must not leave a runtime
// thread running in its unmapped code (this crashed about one unload in ten before the runtime came to rest).
TEST_F(GateOnlyTest, UnloadingRightAfterCallsThroughWmiIsSafe) {
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(LoadX64(true));
        EXPECT_TRUE(Export<decltype(&ZmrMCGetIsAPwdSet)>("ZmrMCGetIsAPwdSet")());
        FreeLibrary(module_);
        module_ = nullptr;
    }
}
