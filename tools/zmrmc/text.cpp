#include "text.h"

#include "qv_system_root.h"
#include "windows.h"
#include "winuser.h"

#include <string>

std::string Utf8FromAnsi(std::string_view ansi) {
    if (ansi.empty()) return {};
    int length = static_cast<int>(ansi.size());
    int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), size);
    return qv::win::ToUtf8(wide);
}

std::string AnsiFromUtf8(std::string_view utf8) {
    std::wstring wide = qv::win::FromUtf8(std::string(utf8));
    if (wide.empty()) return {};
    int length = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, "?", nullptr);
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, ansi.data(), size, "?", nullptr);
    return ansi;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    std::wstring x = qv::win::FromUtf8(std::string(a)), y = qv::win::FromUtf8(std::string(b));
    if (x.size() != y.size()) return false;
    CharLowerBuffW(x.data(), static_cast<DWORD>(x.size()));
    CharLowerBuffW(y.data(), static_cast<DWORD>(y.size()));
    return x == y;
}

std::string_view Trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}
