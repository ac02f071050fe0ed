// The installed Windows as described by <root>/windows.json, and kernel32's version-dependent exports.

#include "qv_temp_root.h"
#include "windows.h"

#include <fstream>

namespace {

class WindowsVersionTest : public TempRootTest {
protected:
    void Describe(const std::string& json) { std::ofstream(root_ / "windows.json") << json; }
    static bool AtLeastMajor(DWORD major) {
        OSVERSIONINFOEXW wanted{};
        wanted.dwOSVersionInfoSize = sizeof wanted;
        wanted.dwMajorVersion = major;
        return VerifyVersionInfoW(&wanted, VER_MAJORVERSION,
                                  VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL)) != FALSE;
    }
};

// Without a description the installation is 32-bit Windows XP SP3.
TEST_F(WindowsVersionTest, DefaultInstallation) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_STREQ(info.szCSDVersion, L"Service Pack 3");
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
}

TEST_F(WindowsVersionTest, MajorVersionConditions) {
    Describe(R"({"major": 6, "minor": 0, "build": 6002})");
    EXPECT_TRUE(AtLeastMajor(5));
    EXPECT_TRUE(AtLeastMajor(6));
    EXPECT_FALSE(AtLeastMajor(7));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
}

// Major and minor compare as one number: 6.0 is at least 5.1.
TEST_F(WindowsVersionTest, MajorMinorCompareTogether) {
    Describe(R"({"major": 6, "minor": 0})");
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = 5;
    wanted.dwMinorVersion = 1;
    ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    EXPECT_TRUE(VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION, mask));
}

TEST_F(WindowsVersionTest, SixtyFourBitWindowsRunsUsUnderWow64) {
    Describe(R"({"major": 5, "minor": 2, "architecture": "amd64"})");
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
}

TEST_F(WindowsVersionTest, BrokenDescriptionIsNoWindows) {
    for (const char* text : {"not json", R"({"major": "five"})", R"({"architecture": "arm"})", "[5, 1]"}) {
        Describe(text);
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof info;
        EXPECT_FALSE(GetVersionExW(&info)) << text;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << text;
        EXPECT_FALSE(AtLeastMajor(1)) << text;
    }
}

TEST_F(WindowsVersionTest, Kernel32ExportsFollowTheInstalledVersion) {
    HMODULE kernel32 = GetModuleHandleW(L"KERNEL32.DLL");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(LoadLibraryW(L"kernel32.dll"), kernel32);
    EXPECT_EQ(GetProcAddress(kernel32, "VerifyVersionInfoW"), reinterpret_cast<void*>(&VerifyVersionInfoW));
    EXPECT_EQ(GetProcAddress(kernel32, "IsWow64Process"), reinterpret_cast<void*>(&IsWow64Process));
    EXPECT_EQ(GetProcAddress(kernel32, "NoSuchFunction"), nullptr);

    Describe(R"({"major": 5, "minor": 0, "service_pack": "Service Pack 4"})");
    EXPECT_NE(GetProcAddress(kernel32, "VerifyVersionInfoW"), nullptr);
    EXPECT_EQ(GetProcAddress(kernel32, "IsWow64Process"), nullptr);

    Describe(R"({"major": 4, "minor": 0})");
    EXPECT_EQ(GetProcAddress(kernel32, "VerifyVersionInfoW"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(kernel32));
}

}  // namespace
