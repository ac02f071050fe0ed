// The registry: keys, values, enumeration, deletion and concurrent writers.

#include "qv_temp_root.h"
#include "windows.h"
#include "winreg.h"

#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

using RegistryTest = TempRootTest;

std::wstring QueryText(HKEY key, LPCWSTR name) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer), type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return L"<missing>";
    return type == REG_SZ ? std::wstring(buffer) : L"<type>";
}

void SetText(HKEY key, LPCWSTR name, const std::wstring& text) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

TEST_F(RegistryTest, KeysAndValues) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QV\\Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    SetText(key, nullptr, L"default");
    SetText(key, L"Name", L"value");
    DWORD number = 0x12345678;
    ASSERT_EQ(RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4), ERROR_SUCCESS);
    RegCloseKey(key);

    // Names are compared without regard to case; data and types come back as stored.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\qv\\TEST", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, nullptr), L"default");
    EXPECT_EQ(QueryText(key, L"NAME"), L"value");
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"Number", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    DWORD read = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"Number", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
    EXPECT_EQ(read, number);
    BYTE small[2];
    size = sizeof(small);
    EXPECT_EQ(RegQueryValueExW(key, L"Number", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegQueryValueExW(key, L"Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

    wchar_t name[64];
    DWORD length = 64;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, L"");  // the default value sorts first
    length = 64;
    EXPECT_EQ(RegEnumValueW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegDeleteValueW(key, L"Name"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, L"Name"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QV\\Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ClassesRootIsMachineClasses) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CLASSES_ROOT, L"QvTest.Thing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\QvTest.Thing", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DeletionAndEnumeration) {
    HKEY root = nullptr, key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"T", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
              ERROR_SUCCESS);
    for (const wchar_t* sub : {L"b\\x", L"a", L"c\\y\\z"}) {
        ASSERT_EQ(RegCreateKeyExW(root, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    wchar_t name[16];
    std::wstring order;
    for (DWORD i = 0;; ++i) {
        DWORD length = 16;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        order += name;
    }
    EXPECT_EQ(order, L"abc");
    DWORD length = 1;
    EXPECT_EQ(RegEnumKeyExW(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    EXPECT_EQ(RegDeleteKeyW(root, L"b"), ERROR_ACCESS_DENIED);  // has a subkey
    EXPECT_EQ(RegDeleteKeyW(root, L"a"), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(root, L"c\\y", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(root, L"c"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTreeW(root, L"c"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(root);
}

// Several processes writing at once lose nothing.
TEST_F(RegistryTest, ConcurrentProcesses) {
    constexpr int kProcesses = 4, kValues = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HKEY key = nullptr;
            bool ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Race", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr) == ERROR_SUCCESS;
            for (int i = 0; i < kValues && ok; ++i) {
                DWORD v = static_cast<DWORD>(p * 1000 + i);
                std::wstring name = L"v" + std::to_wstring(p) + L"_" + std::to_wstring(i);
                ok = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) == ERROR_SUCCESS;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Race", 0, KEY_READ, &key), ERROR_SUCCESS);
    int count = 0;
    wchar_t name[32];
    for (DWORD i = 0;; ++i) {
        DWORD length = 32;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        ++count;
    }
    EXPECT_EQ(count, kProcesses * kValues);
    RegCloseKey(key);
}

}  // namespace
