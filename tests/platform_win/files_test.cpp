#include "qv_temp_root.h"
#include "windows.h"

#include <fstream>

namespace fs = std::filesystem;

namespace {

using Files = TempRootTest;

TEST_F(Files, WriteReadAndDeleteThroughWindowsPaths) {
    ASSERT_TRUE(CreateDirectoryW(L"C:\\WINDOWS\\TEMP\\vrxBIOS", nullptr));
    EXPECT_FALSE(CreateDirectoryW(L"C:\\WINDOWS\\TEMP\\vrxBIOS", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE file = CreateFileW(L"C:\\WINDOWS\\TEMP\\vrxBIOS\\a.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(GetFileSize(file, nullptr), 5u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(fs::exists(root_ / "drive_c/WINDOWS/TEMP/vrxBIOS/a.bin"));

    file = CreateFileW(L"C:\\WINDOWS\\TEMP\\vrxBIOS\\a.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "hello");
    CloseHandle(file);

    EXPECT_FALSE(RemoveDirectoryW(L"C:\\WINDOWS\\TEMP\\vrxBIOS"));  // not empty
    EXPECT_TRUE(DeleteFileW(L"C:\\WINDOWS\\TEMP\\vrxBIOS\\a.bin"));
    EXPECT_TRUE(RemoveDirectoryW(L"C:\\WINDOWS\\TEMP\\vrxBIOS"));
    EXPECT_EQ(GetFileAttributesW(L"C:\\WINDOWS\\TEMP\\vrxBIOS"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, OpenFailuresCarryWin32Codes) {
    EXPECT_EQ(CreateFileW(L"C:\\missing\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE file = CreateFileW(L"C:\\n", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(CreateFileW(L"C:\\n", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(CreateFileW(L"C:\\WINDOWS", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(0x1234), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Modules, LoadLibraryGetProcAddressAndFileName) {
    HMODULE libc = LoadLibraryW(L"libm.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(GetProcAddress(libc, "cos"), nullptr);
    EXPECT_EQ(GetProcAddress(libc, "no_such_export"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    wchar_t name[MAX_PATH];
    EXPECT_GT(GetModuleFileNameW(libc, name, MAX_PATH), 0u);
    EXPECT_NE(std::wstring(name).find(L"libm"), std::wstring::npos);
    EXPECT_TRUE(FreeLibrary(libc));
    EXPECT_EQ(LoadLibraryW(L"/nonexistent/lib.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    wchar_t small[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);  // truncated: the buffer size, NUL-terminated
    EXPECT_EQ(small[3], L'\0');
}

}  // namespace
