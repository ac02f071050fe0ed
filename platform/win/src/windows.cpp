// Windows that are never drawn: window classes, creation and destruction, titles.

#include "qv_module_unload.h"
#include "windows.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Window {
    WNDPROC procedure;
    std::wstring title;
};

std::mutex window_mutex;
std::map<std::wstring, WNDCLASSW>& Classes() {
    static auto* classes = qv::win::KeepUntilUnload(new std::map<std::wstring, WNDCLASSW>());
    return *classes;
}
std::map<HWND, Window>& Windows() {
    static auto* windows = qv::win::KeepUntilUnload(new std::map<HWND, Window>());
    return *windows;
}
ULONG_PTR next_window = 0x10000;

std::wstring Lower(LPCWSTR text) {
    std::wstring lower = text;
    for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return lower;
}

}  // namespace

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(window_mutex);
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
    std::lock_guard lock(window_mutex);
    if (Classes().erase(Lower(className)) == 0) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    return TRUE;
}

HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                     LPVOID) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HWND window;
    WNDPROC procedure;
    {
        std::lock_guard lock(window_mutex);
        auto it = Classes().find(Lower(className));
        if (it == Classes().end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        procedure = it->second.lpfnWndProc;
        window = reinterpret_cast<HWND>(next_window);
        next_window += 4;
        Windows()[window] = Window{procedure, windowName != nullptr ? windowName : L""};
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
        std::lock_guard lock(window_mutex);
        auto it = Windows().find(window);
        if (it == Windows().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        procedure = it->second.procedure;
    }
    procedure(window, WM_DESTROY, 0, 0);
    std::lock_guard lock(window_mutex);
    Windows().erase(window);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    std::lock_guard lock(window_mutex);
    return Windows().count(window) != 0 ? TRUE : FALSE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int size) {
    std::lock_guard lock(window_mutex);
    auto it = Windows().find(window);
    if (it == Windows().end() || buffer == nullptr || size <= 0) return 0;
    size_t n = std::min(it->second.title.size(), static_cast<size_t>(size - 1));
    it->second.title.copy(buffer, n);
    buffer[n] = L'\0';
    return static_cast<int>(n);
}
