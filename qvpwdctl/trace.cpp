#include "trace.h"

#include "windows.h"

#include <cstdarg>
#include <cwchar>

namespace qvpwdctl {

void Trace(const wchar_t* format, ...) {
    wchar_t line[1024] = L"qvpwdctl: ";
    size_t prefix = std::wcslen(line);
    va_list args;
    va_start(args, format);
    std::vswprintf(line + prefix, 1024 - prefix - 2, format, args);
    va_end(args);
    std::wcscat(line, L"\n");
    OutputDebugStringW(line);
}

}  // namespace qvpwdctl
