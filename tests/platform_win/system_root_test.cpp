#include "qv_temp_root.h"
#include "windows.h"

#include <fstream>

namespace fs = std::filesystem;

namespace {

using SystemRoot = TempRootTest;

TEST_F(SystemRoot, CreatedWithItsStandardFoldersOnFirstUse) {
    EXPECT_EQ(qv::win::SystemRoot(), root_);
    EXPECT_TRUE(fs::is_directory(root_ / "drive_c/WINDOWS/TEMP"));
    EXPECT_TRUE(fs::is_directory(root_ / "drive_c/WINDOWS/system32/Drivers"));
}

TEST_F(SystemRoot, WindowsFoldersNameFoldersOfTheRoot) {
    wchar_t temp[MAX_PATH];
    ASSERT_EQ(GetTempPathW(MAX_PATH, temp), 16u);
    EXPECT_STREQ(temp, L"C:\\WINDOWS\\TEMP\\");
    EXPECT_EQ(qv::win::HostPath(std::wstring(temp) + L"vrxBIOS\\x.dll"), root_ / "drive_c/WINDOWS/TEMP/vrxBIOS/x.dll");
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(qv::win::HostPath(std::wstring(system) + L"\\Drivers"), root_ / "drive_c/WINDOWS/system32/Drivers");
    wchar_t tiny[4];
    EXPECT_EQ(GetTempPathW(4, tiny), 17u);  // too small: the size needed, with the NUL
}

TEST_F(SystemRoot, HostPathsPassThroughWithBackslashesAsSeparators) {
    EXPECT_EQ(qv::win::HostPath(std::wstring(L"/tmp/a\\b")), fs::path("/tmp/a/b"));
    EXPECT_EQ(qv::win::HostPath(std::wstring(L"c:\\x")), root_ / "drive_c/x");
    EXPECT_EQ(qv::win::HostPath(std::string("D:")), root_ / "drive_d");
}

TEST(SystemRootDefault, PerUserFolderWithoutTheVariable) {
    unsetenv("QV_SYSTEM_ROOT");
    char pattern[] = "/tmp/qv-home-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string old_home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", pattern, 1);
    unsetenv("XDG_STATE_HOME");
    qv::win::ResetSystemRootForTesting();
    EXPECT_EQ(qv::win::SystemRoot(), fs::path(pattern) / ".local/state/qv/root");
    setenv("HOME", old_home.c_str(), 1);
    qv::win::ResetSystemRootForTesting();
    fs::remove_all(pattern);
}

}  // namespace
