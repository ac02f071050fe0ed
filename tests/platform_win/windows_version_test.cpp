// Version checks against the machine's installed Windows, and kernel32's version-dependent exports.

#include "qv_root_machine.h"
#include "qv_temp_root.h"
#include "windows.h"

#include <fstream>

namespace {

class WindowsVersionTest : public TempRootTest {
protected:
    void TearDown() override {
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
    }
    // Switches to a fresh installation whose machine profile has this "windows" member.
    void Describe(const std::string& windows) {
        std::filesystem::path root = root_ / std::to_string(++installations_);
        std::filesystem::create_directories(root);
        std::ofstream(root / "profile.json") << R"({"windows": )" + windows + "}";
        setenv("QV_SYSTEM_ROOT", root.c_str(), 1);
        setenv("QV_MACHINE", (root / "profile.json").c_str(), 1);
        qv::win::ResetSystemRootForTesting();
        qv::win::ResetRootMachineForTesting();
    }
    int installations_ = 0;
    static bool AtLeastMajor(DWORD major) {
        OSVERSIONINFOEXW wanted{};
        wanted.dwOSVersionInfoSize = sizeof wanted;
        wanted.dwMajorVersion = major;
        return VerifyVersionInfoW(&wanted, VER_MAJORVERSION,
                                  VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL)) != FALSE;
    }
};

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

TEST_F(WindowsVersionTest, ServicePackComparesAfterTheVersion) {
    Describe(R"({"major": 5, "minor": 1, "service_pack": "Service Pack 2"})");
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = 5;
    wanted.dwMinorVersion = 1;
    wanted.wServicePackMajor = 3;
    ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                         VER_GREATER_EQUAL);
    EXPECT_FALSE(VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask));
    wanted.wServicePackMajor = 2;
    EXPECT_TRUE(VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask));
}

// A root whose machine's profile broke after it was made has no Windows to describe.
TEST_F(WindowsVersionTest, BrokenDescriptionIsNoWindows) {
    Describe("{}");
    ASSERT_TRUE(AtLeastMajor(5));  // makes the machine
    std::ofstream(qv::win::SystemRoot() / "machine" / "profile.json", std::ios::trunc)
        << R"({"windows": {"major": "five"}})";
    qv::win::ResetRootMachineForTesting();
    EXPECT_FALSE(AtLeastMajor(1));
    EXPECT_EQ(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "VerifyVersionInfoW"), nullptr);
}

// A root whose machine cannot be made ends the program that was making it.
TEST_F(WindowsVersionTest, NoMachineEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Describe(R"({"major": "five"})");
    EXPECT_EXIT(AtLeastMajor(1), testing::ExitedWithCode(qv::win::kNoMachineExitCode), "windows.major");
}

TEST_F(WindowsVersionTest, Kernel32ExportsFollowTheInstalledVersion) {
    Describe("{}");
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
