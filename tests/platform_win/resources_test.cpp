#include "windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string ResourceText(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return "<missing>";
    auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
}

TEST(Resources, FoundByStringTypeAndIntegerName) {
    HMODULE self = QvCurrentModule();
    ASSERT_EQ(self, GetModuleHandleW(nullptr));
    EXPECT_EQ(ResourceText(self, MAKEINTRESOURCEW(102), L"BINARY"), std::string("binary\tpayload"));
    EXPECT_EQ(ResourceText(self, MAKEINTRESOURCEW(102), L"binary"), std::string("binary\tpayload"));
    EXPECT_EQ(ResourceText(self, L"#102", L"BINARY"), std::string("binary\tpayload"));
    EXPECT_NE(ResourceText(self, MAKEINTRESOURCEW(2128), MAKEINTRESOURCEW(300)).find("qv_test"), std::string::npos);
}

TEST(Resources, MissingResourcesSayWhichPartIsMissing) {
    HMODULE self = QvCurrentModule();
    EXPECT_EQ(FindResourceW(self, MAKEINTRESOURCEW(2129), MAKEINTRESOURCEW(300)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceW(self, MAKEINTRESOURCEW(1), L"REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(FindResourceExW(self, L"BINARY", MAKEINTRESOURCEW(102), 0x0407), nullptr);
    EXPECT_NE(FindResourceExW(self, L"BINARY", MAKEINTRESOURCEW(102), 0x0409), nullptr);
}

TEST(Resources, StringTable) {
    wchar_t text[64];
    EXPECT_EQ(LoadStringW(QvCurrentModule(), 201, text, 64), 22);
    EXPECT_STREQ(text, L"Caf\u00e9 string with UTF-8");
    EXPECT_EQ(LoadStringW(QvCurrentModule(), 201, text, 5), 4);  // cut to the buffer
    EXPECT_STREQ(text, L"Caf\u00e9");
    EXPECT_EQ(LoadStringW(QvCurrentModule(), 202, text, 64), 0);
    EXPECT_EQ(LoadStringW(QvCurrentModule(), 999, text, 64), 0);
    EXPECT_STREQ(text, L"");
    char narrow[64];
    EXPECT_EQ(LoadStringA(QvCurrentModule(), 201, narrow, 64), 22);
    EXPECT_STREQ(narrow, "Caf\xe9 string with UTF-8");
}

TEST(VersionInfo, StringsOfTheExecutable) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD handle = 1;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    struct {
        const wchar_t* query;
        const wchar_t* value;
    } cases[] = {{L"\\StringFileInfo\\040904B0\\Comments", L"Test Provider"},
                 {L"\\StringFileInfo\\040904b0\\ProductVersion", L"1.2.3"},
                 {L"\\StringFileInfo\\040904B0\\FileVersion", L"1.2.3.4"}};
    for (const auto& c : cases) {
        void* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), c.query, &value, &length)) << c.query;
        EXPECT_STREQ(static_cast<wchar_t*>(value), c.value);
        EXPECT_EQ(length, std::wcslen(c.value) + 1);
    }
    void* value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\CompanyName", &value, &length));
    EXPECT_FALSE(GetFileVersionInfoW(path, 0, 4, block.data()));  // too small
    EXPECT_EQ(GetFileVersionInfoSizeW(L"/nonexistent/file", &handle), 0u);
}

}  // namespace
