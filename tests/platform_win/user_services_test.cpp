// Message boxes, thread message queues and windows, system message texts.

#include "windows.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <thread>

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

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static int* counter = nullptr;
    if (message == WM_CREATE) return 0;
    if (message == WM_USER) counter = reinterpret_cast<int*>(lParam);
    if (message == WM_USER + 1 && counter != nullptr) *counter += static_cast<int>(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(MessageQueueTest, WindowMessagesDispatchUntilQuit) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = CountingProcedure;
    wc.lpszClassName = L"QueueTestWindow";
    ASSERT_NE(RegisterClassW(&wc), 0);
    EXPECT_EQ(RegisterClassW(&wc), 0);
    HWND window = CreateWindowExW(0, L"queuetestwindow", L"Hidden", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                  nullptr);
    ASSERT_NE(window, nullptr);
    wchar_t title[16];
    EXPECT_EQ(GetWindowTextW(window, title, 16), 6);
    EXPECT_STREQ(title, L"Hidden");

    int counter = 0;
    DWORD self = GetCurrentThreadId();
    PostMessageW(window, WM_USER, 0, reinterpret_cast<LPARAM>(&counter));
    // Messages from another thread reach this thread's queue; WM_QUIT ends the loop.
    std::thread other([&] {
        PostMessageW(window, WM_USER + 1, 2, 0);
        PostMessageW(window, WM_USER + 1, 3, 0);
        PostThreadMessageW(self, WM_QUIT, 0, 0);
    });
    MSG msg;
    int loops = 0;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
        ++loops;
    }
    other.join();
    EXPECT_EQ(loops, 3);
    EXPECT_EQ(counter, 5);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(UnregisterClassW(L"QueueTestWindow", nullptr));
}

TEST(MessageQueueTest, PostQuitMessageComesAfterPendingMessages) {
    PostThreadMessageW(GetCurrentThreadId(), WM_USER, 7, 0);
    PostQuitMessage(0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
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
