// Message boxes, windows, system message texts.

#include "windows.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

namespace {

TEST(MessageBoxTest, PresetAnswersAreUsedInOrderThenTheNegativeAnswer) {
    setenv("QV_MESSAGEBOX_ANSWERS", "yes,No,ok", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxW(nullptr, L"Continue?", L"vrxBIOS", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, L"Continue?", L"vrxBIOS", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, L"Failed.", L"vrxBIOS", MB_OK), IDOK);
    // Answers exhausted and standard input no terminal: No.
    bool terminal = isatty(STDIN_FILENO) != 0;
    if (!terminal) {
        EXPECT_EQ(MessageBoxW(nullptr, L"Again?", L"vrxBIOS", MB_YESNO), IDNO);
    }
    std::string shown = testing::internal::GetCapturedStderr();
    unsetenv("QV_MESSAGEBOX_ANSWERS");
    EXPECT_NE(shown.find("[vrxBIOS] Continue? [Yes/No] Yes"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[vrxBIOS] Failed. [OK] OK"), std::string::npos) << shown;
    if (!terminal) {
        EXPECT_NE(shown.find("[vrxBIOS] Again? [Yes/No] No"), std::string::npos) << shown;
    }
}

int created = 0;
int destroyed = 0;
LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) ++created;
    if (message == WM_DESTROY) ++destroyed;
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(WindowTest, ClassesAndWindowsThatAreNeverDrawn) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = CountingProcedure;
    wc.lpszClassName = L"WindowTestClass";
    ASSERT_NE(RegisterClassW(&wc), 0);
    EXPECT_EQ(RegisterClassW(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"x", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
    HWND window = CreateWindowExW(0, L"windowtestclass", L"Hidden", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(created, 1);
    wchar_t title[16];
    EXPECT_EQ(GetWindowTextW(window, title, 16), 6);
    EXPECT_STREQ(title, L"Hidden");
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(destroyed, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_TRUE(UnregisterClassW(L"WindowTestClass", nullptr));
}

TEST(FormatMessageTest, SystemTextsAndUnknownCodes) {
    LPWSTR text = nullptr;
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    ASSERT_GT(FormatMessageW(flags, nullptr, ERROR_DISK_FULL, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr), 0u);
    EXPECT_STREQ(text, L"There is not enough space on the disk.\r\n");
    LocalFree(text);
    text = nullptr;
    EXPECT_EQ(FormatMessageW(flags, nullptr, 0x1234567, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(text, nullptr);
}

}  // namespace
