// The library as a host sees it: loaded by path, every export bound by name, no link.
#include "ZmrMC.h"
#include "qv_root_processes.h"
#include "qv_test_paths.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

std::string LibraryPath() { return BuildTree() + "/lib/libZmrMC.so"; }

class LoadedLibrary : public ::testing::Test {
protected:
    // A fresh system root on a machine whose firmware the library cannot reach but through WMI (64-bit Windows:
    // no driver).
    void SetUp() override {
        char pattern[] = "/tmp/qv-root-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("QV_SYSTEM_ROOT", root_.c_str(), 1);
        setenv("QV_MACHINE", "x64", 1);
        handle_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (handle_ != nullptr) dlclose(handle_);
        EndRootProcesses(root_);
        std::filesystem::remove_all(root_);
        unsetenv("QV_SYSTEM_ROOT");
        unsetenv("QV_MACHINE");
    }
    std::string root_;
    template <typename F>
    F Bind(const char* name) {
        void* symbol = dlsym(handle_, name);
        EXPECT_NE(symbol, nullptr) << name;
        return reinterpret_cast<F>(symbol);
    }
    void* handle_ = nullptr;
};

TEST_F(LoadedLibrary, ConvertsTaggedPasswords) {
    auto convert = Bind<decltype(&ConvertPasswordTokenToScanCode)>("ConvertPasswordTokenToScanCode");
    auto keys = Bind<decltype(&ConvertStringToKeyboardScanCodes)>("ConvertStringToKeyboardScanCodes");
    unsigned char codes[256];
    const char* error = nullptr;
    ASSERT_EQ(convert("<en-US/>abc", codes, sizeof codes, &error), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(codes)), "\x1E\x30\x2E");
    ASSERT_EQ(convert("<kbd/>9E 30", codes, sizeof codes, &error), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(codes)), "\x1E\x30");
    const char bad[] = "<kbd/>1G";
    EXPECT_EQ(convert(bad, codes, sizeof codes, &error), 0);
    EXPECT_EQ(error, bad + 7);
    EXPECT_EQ(convert("plain password", codes, sizeof codes, &error), 0);
    const char text[] = "1<KEYPAD 1>2";
    ASSERT_EQ(keys(0, text, codes, &error), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(codes)), "\x02\x4F\x03");
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(keys(1, text, codes, &error), 0);
    EXPECT_EQ(error, text);
}

TEST_F(LoadedLibrary, SettingsModelBeforeAnyRead) {
    EXPECT_EQ(Bind<decltype(&BiosSRIRelease)>("BiosSRIRelease")(), 0);
    EXPECT_STREQ(Bind<decltype(&BiosSettingsFindStringFromID)>("BiosSettingsFindStringFromID")(0, nullptr), "");
    EXPECT_EQ(Bind<decltype(&BiosSettingsSRIEnumCount)>("BiosSettingsSRIEnumCount")(), 0);
    EXPECT_EQ(Bind<decltype(&BiosSettingsSRIEnumGetAt)>("BiosSettingsSRIEnumGetAt")(0), nullptr);
    EXPECT_EQ(Bind<decltype(&BiosSettingsFindSRI)>("BiosSettingsFindSRI")(1, nullptr), nullptr);
    uint16_t id = 7;
    EXPECT_EQ(Bind<decltype(&BiosSettingsFindIDFromString)>("BiosSettingsFindIDFromString")(&id, "English"), 0);
    auto add_ref = Bind<decltype(&BiosSRIAddRef)>("BiosSRIAddRef");
    auto release = Bind<decltype(&BiosSRIRelease)>("BiosSRIRelease");
    EXPECT_EQ(add_ref(), 1);
    EXPECT_EQ(add_ref(), 2);
    EXPECT_EQ(release(), 1);
    EXPECT_EQ(release(), 0);
    EXPECT_EQ(release(), 0);
}

// Without a driver the library is ready through the SMBIOS table that WMI serves, and every export that needs
// the driver fails the documented way; none crashes.
TEST_F(LoadedLibrary, WithoutADriverOnlyTheSmbiosTableAnswers) {
    EXPECT_EQ(Bind<decltype(&ZmrMCInit)>("ZmrMCInit")(0, 1), 1);
    EXPECT_EQ(Bind<decltype(&ZmrMCInit)>("ZmrMCInit")(0, 1), 1);  // later calls: the same readiness
    EXPECT_EQ(static_cast<uint32_t>(Bind<decltype(&ZmrMCDetect)>("ZmrMCDetect")()), ZMRMC_E_DETECT);
    EXPECT_EQ(Bind<decltype(&ZmrMCObtainBiosData)>("ZmrMCObtainBiosData")(), 1);
    EXPECT_STREQ(Bind<decltype(&ZmrMCGetSystemProduct)>("ZmrMCGetSystemProduct")(), "Brevik xw4400 Workstation");
    EXPECT_STREQ(Bind<decltype(&ZmrMCGetROMVersion)>("ZmrMCGetROMVersion")(), "");
    EXPECT_EQ(Bind<decltype(&ZmrMCSetAPwd)>("ZmrMCSetAPwd")("x"), ZMRMC_E_FAIL);
    unsigned length = 16;
    char buffer[17];
    auto first_boot = Bind<decltype(&ZmrMCReadWriteFirstBootString)>("ZmrMCReadWriteFirstBootString");
    EXPECT_EQ(first_boot(buffer, &length, 0), ZMRMC_E_FAIL);
    EXPECT_EQ(first_boot(buffer, nullptr, 0), ZMRMC_E_INVALIDARG);
    unsigned char block[64] = {};
    unsigned char status = 0;
    auto int15 = Bind<decltype(&ZmrMCCall32bitInt15IOCtl)>("ZmrMCCall32bitInt15IOCtl");
    EXPECT_EQ(int15(reinterpret_cast<ZmrMCRegisterBlock*>(block), sizeof block, &status), 0);
    EXPECT_EQ(status, ZMRMC_STATUS_NOT_REACHED);
    uint32_t size = 99;
    EXPECT_EQ(Bind<decltype(&ZmrMCGetSysObjListSize)>("ZmrMCGetSysObjListSize")(&size), 0);
    EXPECT_EQ(size, 0u);
    int count = 5, length2 = 5;
    // The table's sizes are those of the entry point the driver hands over: none here, so no table to size.
    EXPECT_EQ(Bind<decltype(&ZmrMCGetSMBTableSize)>("ZmrMCGetSMBTableSize")(&count, &length2), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(length2, 0);
    unsigned char table[16];
    EXPECT_EQ(Bind<decltype(&ZmrMCObtainSMBTable)>("ZmrMCObtainSMBTable")(table, sizeof table), 0);
    // A read takes a reference even when it fails.
    EXPECT_EQ(Bind<decltype(&BiosSettingsReadFromSystem)>("BiosSettingsReadFromSystem")(nullptr), 0);
    EXPECT_EQ(Bind<decltype(&BiosSRIRelease)>("BiosSRIRelease")(), 0);
}

// The library shows exactly the names of its public header, nothing else of ours.
TEST_F(LoadedLibrary, ExportsExactlyThePublicNames) {
    std::ifstream header(SourceTree() + "/ZmrMC/include/ZmrMC.h");
    ASSERT_TRUE(header.good());
    std::set<std::string> names;
    for (std::string line; std::getline(header, line);) {
        auto at = line.find("ZMRMC_API ");
        auto paren = line.find('(');
        if (at != 0 || paren == std::string::npos) continue;
        auto start = line.rfind(' ', paren);
        std::string name = line.substr(start + 1, paren - start - 1);
        while (!name.empty() && name.front() == '*') name.erase(0, 1);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 67u);
    for (const auto& name : names) EXPECT_NE(dlsym(handle_, name.c_str()), nullptr) << name;
}

}  // namespace
