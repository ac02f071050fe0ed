#include "qv_system_root.h"
#include "windows.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring AnsiToWide(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    EXPECT_EQ(n, MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n));
    out.resize(out.size() - 1);
    return out;
}

std::string WideToAnsi(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    EXPECT_EQ(n, WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr));
    out.resize(out.size() - 1);
    return out;
}

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
        EXPECT_EQ(AnsiToWide(c.ansi), c.wide);
        EXPECT_EQ(WideToAnsi(c.wide), c.ansi);
    }
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
