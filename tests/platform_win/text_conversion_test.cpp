#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "windows.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using NarrowFunctions = TempRootTest;

// The ANSI code page is Windows-1252: bytes 0x80..0x9F are not Latin-1 controls.
TEST(TextConversion, AnsiIsWindows1252) {
    struct Case {
        std::string ansi;
        std::wstring wide;
    } cases[] = {
        {"plain", L"plain"},
        {"\x80", L"\u20AC"},
        {"\x92", L"\u2019"},
        {"\x9F", L"\u0178"},
        {"\xE9t\xE9", L"\u00E9t\u00E9"},
        {"\x81", L"\u0081"},  // undefined in the code page: maps to the C1 control of the same value
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qv::win::FromAnsi(c.ansi.c_str()), c.wide);
        EXPECT_EQ(qv::win::ToAnsi(c.wide), c.ansi);
    }
    EXPECT_EQ(qv::win::ToAnsi(L"a\u4E2Db"), "a?b");
}

// The narrow functions of files, modules, services, paths and debugger output all convert through FromAnsi:
// a null text fails with ERROR_INVALID_PARAMETER instead of being read, and ANSI names reach the host as UTF-8.
TEST_F(NarrowFunctions, RefuseNullTextsAndPassAnsiNames) {
    SetLastError(0);
    EXPECT_EQ(qv::win::FromAnsi(nullptr), std::nullopt);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    struct Case {
        const char* call;
        std::function<bool()> fails;
    } nulls[] = {
        {"CreateFileA",
         [] {
             return CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE;
         }},
        {"DeleteFileA", [] { return !DeleteFileA(nullptr); }},
        {"LoadLibraryA", [] { return LoadLibraryA(nullptr) == nullptr; }},
        {"OpenServiceA",
         [] {
             SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
             bool failed = OpenServiceA(manager, nullptr, SERVICE_ALL_ACCESS) == nullptr;
             CloseServiceHandle(manager);
             return failed;
         }},
    };
    for (const auto& c : nulls) {
        SetLastError(0);
        EXPECT_TRUE(c.fails()) << c.call;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.call;
    }

    HANDLE file = CreateFileA("C:\\caf\xE9.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(root_ / "drive_c" / "caf\xC3\xA9.txt"));
    EXPECT_EQ(qv::win::HostPath(std::string("C:\\caf\xE9.txt")), root_ / "drive_c" / "caf\xC3\xA9.txt");
    EXPECT_TRUE(DeleteFileA("C:\\caf\xE9.txt"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "drive_c" / "caf\xC3\xA9.txt"));
}

TEST(TextConversion, UnmappableWideCharacterUsesDefaultAndReportsIt) {
    BOOL used = FALSE;
    char out[8] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, L"a\u4E2Db", -1, out, sizeof out, nullptr, &used);
    EXPECT_EQ(n, 4);
    EXPECT_STREQ(out, "a?b");
    EXPECT_TRUE(used);
}

TEST(TextConversion, SizeQueriesAndSmallBuffers) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
    wchar_t small[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TextConversion, Utf8RoundTripAndStrictRejection) {
    std::wstring wide = L"\u00E9\u4E2D\U0001F600";
    EXPECT_EQ(qv::win::FromUtf8(qv::win::ToUtf8(wide)), wide);
    const char bad[] = "a\xC3(";
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, -1, nullptr, 0), 0);
    EXPECT_EQ(qv::win::FromUtf8("a\xC3("), L"a\uFFFD(");
    EXPECT_EQ(qv::win::FromUtf8("\xC0\x80"), L"\uFFFD\uFFFD");  // over-long encodings are refused
}

}  // namespace
