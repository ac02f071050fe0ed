// Thread message queues and message-only windows.

#include "qv_system_root.h"
#include "windows.h"

#include <algorithm>
#include <condition_variable>
#include <cwctype>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct Queue {
    std::deque<MSG> messages;
    bool quit = false;
    int quit_code = 0;
};

struct Window {
    DWORD thread;
    WNDPROC procedure;
    std::wstring title;
};

std::mutex queue_mutex;
std::condition_variable queue_changed;
std::map<DWORD, Queue>& Queues() {
    static auto* queues = new std::map<DWORD, Queue>();
    return *queues;
}
std::map<std::wstring, WNDCLASSW>& Classes() {
    static auto* classes = new std::map<std::wstring, WNDCLASSW>();
    return *classes;
}
std::map<HWND, Window>& Windows() {
    static auto* windows = new std::map<HWND, Window>();
    return *windows;
}
ULONG_PTR next_window = 0x10000;

std::wstring Lower(LPCWSTR text) {
    std::wstring lower = text;
    for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return lower;
}

bool Matches(const MSG& m, HWND window, UINT low, UINT high) {
    if (window != nullptr && m.hwnd != window) return false;
    if (low == 0 && high == 0) return true;
    return m.message >= low && m.message <= high;
}

// Takes the first matching message of the calling thread's queue (lock held). WM_QUIT comes when the queue
// holds nothing else that matches, as on Windows.
bool Take(Queue& q, LPMSG msg, HWND window, UINT low, UINT high, bool remove) {
    auto it = std::find_if(q.messages.begin(), q.messages.end(),
                           [&](const MSG& m) { return Matches(m, window, low, high); });
    if (it != q.messages.end()) {
        *msg = *it;
        if (remove) q.messages.erase(it);
        return true;
    }
    if (q.quit) {
        *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quit_code), 0, GetTickCount(), {0, 0}};
        if (remove) q.quit = false;
        return true;
    }
    return false;
}

}  // namespace

BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::unique_lock lock(queue_mutex);
    if (window != nullptr && Windows().count(window) == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    Queue& q = Queues()[GetCurrentThreadId()];
    queue_changed.wait(lock, [&] { return Take(q, msg, window, filterMin, filterMax, true); });
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (msg == nullptr) return FALSE;
    std::lock_guard lock(queue_mutex);
    return Take(Queues()[GetCurrentThreadId()], msg, window, filterMin, filterMax, (remove & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(queue_mutex);
        Queue& q = Queues()[threadId];
        if (message == WM_QUIT) {
            // Posted WM_QUIT is an ordinary message; PostQuitMessage sets the flag instead.
            q.messages.push_back(MSG{nullptr, WM_QUIT, wParam, lParam, GetTickCount(), {0, 0}});
        } else {
            q.messages.push_back(MSG{nullptr, message, wParam, lParam, GetTickCount(), {0, 0}});
        }
    }
    queue_changed.notify_all();
    return TRUE;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(queue_mutex);
        auto it = Windows().find(window);
        if (it == Windows().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        Queues()[it->second.thread].messages.push_back(MSG{window, message, wParam, lParam, GetTickCount(), {0, 0}});
    }
    queue_changed.notify_all();
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    {
        std::lock_guard lock(queue_mutex);
        Queue& q = Queues()[GetCurrentThreadId()];
        q.quit = true;
        q.quit_code = exitCode;
    }
    queue_changed.notify_all();
}

BOOL TranslateMessage(const MSG*) { return FALSE; }  // no keyboard input reaches these queues

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) return 0;
    WNDPROC procedure = nullptr;
    {
        std::lock_guard lock(queue_mutex);
        auto it = Windows().find(msg->hwnd);
        if (it == Windows().end()) return 0;
        procedure = it->second.procedure;
    }
    return procedure != nullptr ? procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(queue_mutex);
    auto [it, added] = Classes().emplace(Lower(windowClass->lpszClassName), *windowClass);
    if (!added) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    it->second.lpszClassName = nullptr;  // the caller's text need not outlive the call
    it->second.lpszMenuName = nullptr;
    return static_cast<ATOM>(0xC000 + Classes().size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    if (className == nullptr) return FALSE;
    std::lock_guard lock(queue_mutex);
    if (Classes().erase(Lower(className)) == 0) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    return TRUE;
}

HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD, int, int, int, int, HWND, HMENU,
                     HINSTANCE, LPVOID) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HWND window;
    WNDPROC procedure;
    {
        std::lock_guard lock(queue_mutex);
        auto it = Classes().find(Lower(className));
        if (it == Classes().end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        procedure = it->second.lpfnWndProc;
        window = reinterpret_cast<HWND>(next_window);
        next_window += 4;
        Windows()[window] = Window{GetCurrentThreadId(), procedure, windowName != nullptr ? windowName : L""};
    }
    if (procedure(window, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    return window;
}

BOOL DestroyWindow(HWND window) {
    WNDPROC procedure = nullptr;
    {
        std::lock_guard lock(queue_mutex);
        auto it = Windows().find(window);
        if (it == Windows().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        procedure = it->second.procedure;
    }
    procedure(window, WM_DESTROY, 0, 0);
    std::lock_guard lock(queue_mutex);
    Windows().erase(window);
    for (auto& [thread, q] : Queues())
        std::erase_if(q.messages, [&](const MSG& m) { return m.hwnd == window; });
    return TRUE;
}

BOOL IsWindow(HWND window) {
    std::lock_guard lock(queue_mutex);
    return Windows().count(window) != 0 ? TRUE : FALSE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int size) {
    std::lock_guard lock(queue_mutex);
    auto it = Windows().find(window);
    if (it == Windows().end() || buffer == nullptr || size <= 0) return 0;
    size_t n = std::min(it->second.title.size(), static_cast<size_t>(size - 1));
    it->second.title.copy(buffer, n);
    buffer[n] = L'\0';
    return static_cast<int>(n);
}
