// Class name extraction from a query text.

#include "WMIQueryClass.h"

#include "windows.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

std::wstring ParseQueryClass(BSTR query) {
    size_t length = 0;
    if (query != nullptr) {
        const UINT limit = SysStringLen(query);
        while (length < limit && query[length] != L'\0') ++length;
    }
    std::wstring text(query == nullptr ? L"" : query, length);
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));

    size_t from = text.find(L"from");
    if (from == std::wstring::npos) return std::wstring();
    size_t where = text.find(L"where");
    if (where == std::wstring::npos) where = text.size();

    size_t start = from + 5;
    if (start > text.size()) throw std::out_of_range("query ends with \"from\"");
    size_t end = where < start ? text.size() : where;

    std::wstring name = text.substr(start, end - start);
    name.erase(std::remove(name.begin(), name.end(), L' '), name.end());
    return name;
}
