// The library binding: where it loads the library from, which exports it needs, what forwarded calls answer
// when they cannot call; the real library bound on a fresh root.
#include "LibraryBinding.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "qv_wait.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::wstring Wide(const std::string& text) { return qv::win::FromUtf8(text); }

// The program's folder as the binding sees it: the running program's file name up to its last separator.
std::wstring ProgramFolder() {
    wchar_t file[4096] = {};
    DWORD n = GetModuleFileNameW(nullptr, file, 4096);
    std::wstring path(file, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

TEST(LibraryPathTest, FolderOrFileAsTheRulesSay) {
    struct Case {
        const wchar_t* given;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"C:\\Temp\\vrxBIOS\\ZMRMC.DLL", L"C:\\Temp\\vrxBIOS\\ZMRMC.DLL"},
        {L"C:\\Temp\\vrxBIOS\\zmrmc.dll", L"C:\\Temp\\vrxBIOS\\zmrmc.dll"},  // any case: used unchanged
        {L"C:\\Temp\\vrxBIOS", L"C:\\Temp\\vrxBIOS\\ZmrMC.dll"},
        {L"C:\\Temp\\vrxBIOS\\", L"C:\\Temp\\vrxBIOS\\ZmrMC.dll"},  // one separator only
        {L"C:\\Temp\\MYZMRMC.DLL", L"C:\\Temp\\MYZMRMC.DLL"},       // the last nine characters count
        {L"C:\\Temp\\MC.DLL", L"C:\\Temp\\MC.DLL\\ZmrMC.dll"},
        {L"", L"\\ZmrMC.dll"},
        {nullptr, ProgramFolder() + L"ZmrMC.dll"},
        {L"\\", ProgramFolder() + L"ZmrMC.dll"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LibraryBinding::LibraryPath(c.given), c.expected) << (c.given != nullptr ? c.given : L"(null)");
}

TEST(LibraryExportsTest, SixtyThreeLookedUpThirtyTwoRequired) {
    int required = 0;
    for (int i = 0; i < LibraryBinding::kExportCount; ++i)
        if (LibraryBinding::Required(static_cast<LibraryBinding::Export>(i))) ++required;
    EXPECT_EQ(LibraryBinding::kExportCount, 63);
    EXPECT_EQ(required, 32);
    EXPECT_STREQ(LibraryBinding::ExportName(LibraryBinding::kZmrMCInit), "ZmrMCInit");
    EXPECT_STREQ(LibraryBinding::ExportName(LibraryBinding::kBiosSRIRelease), "BiosSRIRelease");
    EXPECT_STREQ(LibraryBinding::ExportName(LibraryBinding::kConvertPasswordTokenToScanCode),
                 "ConvertPasswordTokenToScanCode");
    for (auto optional : {LibraryBinding::kBiosSetSystemDefaults, LibraryBinding::kBiosSRIAddRef,
                          LibraryBinding::kBiosSettingsReadFromSystem, LibraryBinding::kZmrMCGetBaseBoardProduct})
        EXPECT_FALSE(LibraryBinding::Required(optional)) << LibraryBinding::ExportName(optional);
    for (auto needed : {LibraryBinding::kZmrMCGetIPLTableInfo, LibraryBinding::kZmrMCChangeSysObjLockState,
                        LibraryBinding::kZmrMCGetMachineID})
        EXPECT_TRUE(LibraryBinding::Required(needed)) << LibraryBinding::ExportName(needed);
}

// What every forwarded call answers when it cannot call the library.
void ExpectFailureValues(LibraryBinding& binding) {
    uint16_t id = 1;
    unsigned char codes[4] = {};
    int converted = -1;
    EXPECT_EQ(binding.ReadFromSystem(nullptr), 0);
    EXPECT_EQ(binding.EnumCount(), 0);
    EXPECT_EQ(binding.EnumGetAt(0), nullptr);
    EXPECT_EQ(binding.Release(), 0);
    ASSERT_NE(binding.FindStringFromID(1, nullptr), nullptr);
    EXPECT_STREQ(binding.FindStringFromID(1, nullptr), "");
    EXPECT_EQ(binding.FindIDFromString(&id, "Boot Order"), 0);
    EXPECT_EQ(binding.FindSRI(1, nullptr), nullptr);
    EXPECT_EQ(binding.SetItemInfo(nullptr, nullptr), 0);
    EXPECT_EQ(binding.SetSystemDefaults(nullptr), 0);
    EXPECT_EQ(binding.IsAdminPasswordSet(), 0);
    EXPECT_EQ(binding.IsPowerOnPasswordSet(), 0);
    EXPECT_EQ(binding.ChangeSysObjLockState("", 0, 0, codes), 0);
    EXPECT_FALSE(binding.ConvertPasswordToken("<kbd/>1E", codes, 4, nullptr, &converted));
    EXPECT_EQ(converted, -1);
    EXPECT_EQ(binding.VerifyPowerOnPassword(""), 0);
}

TEST(LibraryBindingTest, NothingToLoadLeavesEveryCallFailing) {
    LibraryBinding binding;
    ExpectFailureValues(binding);
    EXPECT_EQ(binding.Bind(L"/nonexistent/folder", 0, 1), 0);
    EXPECT_EQ(binding.Module(), nullptr);
    ExpectFailureValues(binding);
}

int* FakeCounter(LibraryBinding& binding, const char* name) {
    return static_cast<int*>(GetProcAddress(binding.Module(), name));
}

TEST(LibraryBindingTest, OptionalExportsMayBeMissingRequiredOnesMayNot) {
    LibraryBinding complete;
    // The fake libraries are not named ZmrMC.dll, so they are reached through a folder holding a link.
    std::string folder =
        (std::filesystem::temp_directory_path() / ("qvt-fake-zmrmc-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(folder + "/complete");
    std::filesystem::create_directories(folder + "/incomplete");
    std::filesystem::copy_file(BuildTree() + "/tests/libqvt_fake_zmrmc.so", folder + "/complete/ZmrMC.dll",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(BuildTree() + "/tests/libqvt_fake_zmrmc_incomplete.so", folder + "/incomplete/ZmrMC.dll",
                               std::filesystem::copy_options::overwrite_existing);

    ASSERT_EQ(complete.Bind(Wide(folder + "/complete").c_str(), 0, 1), 7) << "ZmrMCInit's result is the state";
    EXPECT_EQ(complete.Ready(), 7);
    int* calls = FakeCounter(complete, "fake_init_calls");
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(*FakeCounter(complete, "fake_init_first"), 0);
    EXPECT_EQ(*FakeCounter(complete, "fake_init_second"), 1);
    EXPECT_FALSE(complete.Has(LibraryBinding::kBiosSetSystemDefaults));
    EXPECT_FALSE(complete.Has(LibraryBinding::kBiosSRIAddRef));
    EXPECT_TRUE(complete.Has(LibraryBinding::kBiosSRIRelease));
    EXPECT_EQ(complete.SetSystemDefaults(""), 0) << "a missing export fails only the call that needs it";
    complete.Unbind();
    EXPECT_EQ(complete.Ready(), 0);
    EXPECT_EQ(complete.Module(), nullptr);
    ExpectFailureValues(complete);

    LibraryBinding incomplete;
    EXPECT_EQ(incomplete.Bind(Wide(folder + "/incomplete/").c_str(), 0, 1), 0);
    ASSERT_NE(incomplete.Module(), nullptr) << "the library itself loaded";
    EXPECT_EQ(*FakeCounter(incomplete, "fake_init_calls"), 0) << "not initialised without a required export";
    EXPECT_FALSE(incomplete.Has(LibraryBinding::kZmrMCGetIPLTableInfo));
    ExpectFailureValues(incomplete);
    incomplete.Unbind();
    std::filesystem::remove_all(folder);
}

// The driver processes of the root (the library's SMBIOS read also has the instrumentation service started).
std::vector<pid_t> DriversOf(const std::filesystem::path& root) {
    return RootProcesses(root, (root / "drive_c/WINDOWS/system32/Drivers/Zmrdtct.sys").string());
}

class RealLibraryTest : public TempRootTest {};

// The real library on a fresh desktop root: bound, initialised, its settings readable; unbinding unloads it,
// which stops the driver it started.
TEST_F(RealLibraryTest, BindsInitialisesAndReadsThenLetsGo) {
    setenv("QV_MACHINE", "desktop", 1);
    {
        LibraryBinding binding;
        EXPECT_EQ(binding.Bind(Wide(BuildTree() + "/lib/libZmrMC.so").c_str(), 0, 1), 0)
            << "a path whose last nine characters are not the library name is a folder";
        binding.Unbind();
        std::filesystem::copy_file(BuildTree() + "/lib/libZmrMC.so", root_ / "ZMRMC.DLL");
        ASSERT_EQ(binding.Bind(Wide((root_ / "ZMRMC.DLL").string()).c_str(), 0, 1), 1);
        for (int i = 0; i < LibraryBinding::kExportCount; ++i)
            EXPECT_TRUE(binding.Has(static_cast<LibraryBinding::Export>(i)))
                << LibraryBinding::ExportName(static_cast<LibraryBinding::Export>(i));
        ASSERT_NE(binding.ReadFromSystem(nullptr), 0);
        EXPECT_GT(binding.EnumCount(), 10);
        uint16_t id = 0;
        EXPECT_NE(binding.FindIDFromString(&id, "Boot Order"), 0);
        EXPECT_STREQ(binding.FindStringFromID(id, nullptr), "Boot Order");
        EXPECT_EQ(binding.IsAdminPasswordSet(), 0);
        EXPECT_EQ(binding.Release(), 0);
        EXPECT_FALSE(DriversOf(root_).empty()) << "the library started its driver";
    }
    WaitUntil([&] { return DriversOf(root_).empty(); }, std::chrono::seconds(20));
    std::vector<pid_t> left = DriversOf(root_);
    EXPECT_TRUE(left.empty()) << "the driver outlived the library";
    for (pid_t pid : left) kill(pid, SIGKILL);
    unsetenv("QV_MACHINE");
}

}  // namespace
