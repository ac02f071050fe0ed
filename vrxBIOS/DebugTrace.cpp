#include "DebugTrace.h"

#include <cstdarg>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// Rewrites a format of Windows' wide printf into the C library's: there %s and %c take wide arguments, %S,
// %hs, %C and %hc narrow ones, %ws/%wc wide ones and I64 means a 64-bit integer.
std::wstring HostFormat(LPCWSTR format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out += *p;
        if (*p != L'%') continue;
        ++p;
        if (*p == L'%') {
            out += L'%';
            continue;
        }
        while (*p != L'\0' && std::wcschr(L"-+ #0", *p) != nullptr) out += *p++;
        while (*p != L'\0' && (std::iswdigit(static_cast<wint_t>(*p)) || *p == L'*')) out += *p++;
        if (*p == L'.') {
            out += *p++;
            while (*p != L'\0' && (std::iswdigit(static_cast<wint_t>(*p)) || *p == L'*')) out += *p++;
        }
        std::wstring length;
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            length = L"ll";
            p += 3;
        } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
            p += 3;
        } else {
            while (*p != L'\0' && std::wcschr(L"hlLwzjt", *p) != nullptr) length += *p++;
        }
        wchar_t conversion = *p;
        if (conversion == L'\0') break;
        if (conversion == L's' || conversion == L'c') {
            out += (length == L"h") ? L"" : L"l";
        } else if (conversion == L'S' || conversion == L'C') {
            conversion = static_cast<wchar_t>(conversion == L'S' ? L's' : L'c');
            out += (length == L"l" || length == L"w") ? L"l" : L"";
        } else {
            out += length;
        }
        out += conversion;
    }
    return out;
}

}  // namespace

void DebugTrace(LPCWSTR format, ...) {
    if (format == nullptr) return;
    size_t length = std::wcslen(format);
    size_t size = length <= 256 ? 4 * (length + 255) : 2 * length + 510;
    std::vector<wchar_t> buffer(size, L'\0');
    std::wstring host_format = HostFormat(format);
    va_list args;
    va_start(args, format);
    std::vswprintf(buffer.data(), size, host_format.c_str(), args);
    va_end(args);
    buffer[size - 1] = L'\0';
    OutputDebugStringW(buffer.data());
}

void ReportLastError(DWORD code) {
    if (code == 0) code = GetLastError();
    if (code == 0) return;
    LPWSTR text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                   code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (text != nullptr && *text != L'\0') OutputDebugStringW(text);
    LocalFree(text);
}
