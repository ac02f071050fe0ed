// The host machine's SMBIOS tables: the kernel's (/sys/firmware/dmi/tables) where they can be read, else tables
// a test gives in the kernel's layout; the library's identity getters say what dmidecode says of the same
// tables.

#include "../zmrmc_settings/loaded_library.h"
#include "ZmrMC.h"
#include "firmware_attributes_tree.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "smbios_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

namespace fs = std::filesystem;

using smbios::SaveTables;

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
