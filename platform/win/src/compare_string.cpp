// Text comparison.

#include "windows.h"

#include <cwchar>
#include <cwctype>

int CompareStringW(LCID, DWORD flags, LPCWSTR text1, int length1, LPCWSTR text2, int length2) {
    if (text1 == nullptr || text2 == nullptr || (flags & ~static_cast<DWORD>(NORM_IGNORECASE)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n1 = length1 < 0 ? std::wcslen(text1) : static_cast<size_t>(length1);
    size_t n2 = length2 < 0 ? std::wcslen(text2) : static_cast<size_t>(length2);
    for (size_t i = 0; i < n1 && i < n2; ++i) {
        wint_t a = static_cast<wint_t>(text1[i]);
        wint_t b = static_cast<wint_t>(text2[i]);
        if (flags & NORM_IGNORECASE) {
            a = std::towlower(a);
            b = std::towlower(b);
        }
        if (a != b) return a < b ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    return n1 == n2 ? CSTR_EQUAL : n1 < n2 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}
