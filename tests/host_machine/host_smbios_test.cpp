// The host machine's SMBIOS tables: the kernel's (/sys/firmware/dmi/tables) where they can be read, else tables
// a test gives in the kernel's layout; the library's identity getters say what dmidecode says of the same
// tables.

#include "../zmrmc_settings/loaded_library.h"
#include "ZmrMC.h"
#include "firmware_attributes_tree.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void Structure(Bytes& t, uint8_t type, uint16_t handle, const Bytes& fields, const std::vector<std::string>& strings) {
    t.insert(t.end(), {type, static_cast<uint8_t>(4 + fields.size()), static_cast<uint8_t>(handle), 0});
    t.insert(t.end(), fields.begin(), fields.end());
    for (const auto& s : strings) {
        t.insert(t.end(), s.begin(), s.end());
        t.push_back(0);
    }
    if (strings.empty()) t.push_back(0);
    t.push_back(0);
}

// A table of a 2.7 PC: BIOS, system, base board, chassis, end.
Bytes Table() {
    Bytes t;
    Structure(t, 0, 0, {1, 2, 0x00, 0xF0, 3, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}, {"Brevik Inc.", "1.17.2", "03/14/2024"});
    Bytes system = {1, 2, 3, 4};
    for (int i = 0; i < 16; ++i) system.push_back(static_cast<uint8_t>(0x10 + i));
    system.insert(system.end(), {6, 5, 6});
    Structure(t, 1, 1, system, {"Brevik Inc.", "Latitude 7440", "Rev A", "HX7Q2Z3", "SKU-7440", "Latitude"});
    Structure(t, 2, 2, {1, 2, 3, 4}, {"Brevik Inc.", "0C6K7R", "A02", "/HX7Q2Z3/CNCMK0037J0123/"});
    Structure(t, 3, 3, {1, 10, 0, 2, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0}, {"Brevik Inc.", "CH-42", "ASSET-7"});
    Structure(t, 127, 4, {}, {});
    return t;
}

Bytes EntryPoint(const Bytes& table, uint32_t address) {
    uint8_t ep[31] = {'_', 'S', 'M', '_', 0, 0x1F, 2, 7, 0x80, 0};
    std::memcpy(ep + 16, "_DMI_", 5);
    ep[22] = static_cast<uint8_t>(table.size());
    ep[23] = static_cast<uint8_t>(table.size() >> 8);
    std::memcpy(ep + 24, &address, 4);
    ep[28] = 5;
    ep[30] = 0x27;
    uint8_t sum = 0;
    for (int i = 16; i < 31; ++i) sum = static_cast<uint8_t>(sum + ep[i]);
    ep[21] = static_cast<uint8_t>(-sum);
    sum = 0;
    for (int i = 0; i < 31; ++i) sum = static_cast<uint8_t>(sum + ep[i]);
    ep[4] = static_cast<uint8_t>(-sum);
    return Bytes(ep, ep + 31);
}

void Save(const fs::path& file, const Bytes& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class HostSmbios : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        tree_ = root_ / "tree";
        tree::Write(tree_, tree::Lenovo());
        setenv("QV_FIRMWARE_ATTRIBUTES", tree_.c_str(), 1);
    }
    void TearDown() override {
        library_.Unload();
        unsetenv("QV_FIRMWARE_ATTRIBUTES");
        unsetenv("QV_DMI_TABLES");
        TempRootTest::TearDown();
    }
    // dmidecode's answer for `keyword` (dmidecode -s), on `dump` or on the running kernel's tables.
    std::string Dmidecode(const std::string& keyword, const std::string& dump) {
        std::vector<std::string> args = {"/usr/sbin/dmidecode"};
        if (!dump.empty()) args.insert(args.end(), {"--from-dump", dump});
        args.insert(args.end(), {"-s", keyword});
        int code = WaitChild(StartChild(args, root_ / "dmi.out", root_ / "dmi.err"), std::chrono::seconds(30));
        EXPECT_EQ(code, 0) << tree::Get(root_ / "dmi.err");
        return tree::Get(root_ / "dmi.out");
    }
    void ExpectGettersAgree(const std::string& dump) {
        ASSERT_TRUE(library_.Load("host"));
        ASSERT_TRUE(ZMRMC_EXPORT(library_, ZmrMCInit)(0, 1));
        const std::vector<std::pair<const char*, const char* (*)()>> getters = {
            {"bios-version", ZMRMC_EXPORT(library_, ZmrMCGetSmbiosBiosVersion)},
            {"bios-release-date", ZMRMC_EXPORT(library_, ZmrMCGetSmbiosBiosReleaseDate)},
            {"system-manufacturer", ZMRMC_EXPORT(library_, ZmrMCGetSystemManufacturer)},
            {"system-product-name", ZMRMC_EXPORT(library_, ZmrMCGetSystemProduct)},
            {"system-version", ZMRMC_EXPORT(library_, ZmrMCGetSystemVersion)},
            {"system-serial-number", ZMRMC_EXPORT(library_, ZmrMCGetSerialNumber)},
            {"baseboard-manufacturer", ZMRMC_EXPORT(library_, ZmrMCGetBaseBoardManufacturer)},
            {"baseboard-product-name", ZMRMC_EXPORT(library_, ZmrMCGetBaseBoardProduct)},
            {"baseboard-version", ZMRMC_EXPORT(library_, ZmrMCGetBaseBoardVersion)},
        };
        for (const auto& [keyword, getter] : getters) {
            const char* got = getter();
            std::string said = Dmidecode(keyword, dump);
            EXPECT_FALSE(said.empty()) << keyword;
            EXPECT_EQ(std::string(got != nullptr ? got : "(null)"), said) << keyword;
        }
    }
    fs::path tree_;
    LoadedLibrary library_;
};

// The same tables as the kernel publishes them (`tables`) and as dmidecode dumps them (`dump`).
void SaveTables(const fs::path& tables, const fs::path& dump) {
    Bytes table = Table();
    fs::create_directories(tables);
    Save(tables / "smbios_entry_point", EntryPoint(table, 0x000E6000));
    Save(tables / "DMI", table);
    Bytes bytes = EntryPoint(table, 32);  // dmidecode's dump: the entry point at 0 pointing at the table at 32
    bytes.resize(32, 0);
    bytes.insert(bytes.end(), table.begin(), table.end());
    Save(dump, bytes);
}

TEST_F(HostSmbios, TablesInTheKernelsLayoutAgreeWithDmidecode) {
    SaveTables(root_ / "dmi", root_ / "dmi.bin");
    setenv("QV_DMI_TABLES", (root_ / "dmi").c_str(), 1);
    ExpectGettersAgree((root_ / "dmi.bin").string());
}

TEST_F(HostSmbios, DmidecodeDumpAgreesWithDmidecode) {
    SaveTables(root_ / "dmi", root_ / "dmi.bin");
    setenv("QV_DMI_TABLES", (root_ / "dmi.bin").c_str(), 1);
    ExpectGettersAgree((root_ / "dmi.bin").string());
}

TEST_F(HostSmbios, RunningKernelsTablesAgreeWithDmidecode) {
    std::ifstream dmi("/sys/firmware/dmi/tables/DMI", std::ios::binary);
    if (!dmi || dmi.peek() == std::ifstream::traits_type::eof())
        GTEST_SKIP() << "the running kernel publishes no SMBIOS tables here (/sys/firmware/dmi/tables/DMI)";
    ExpectGettersAgree("");
}

}  // namespace
