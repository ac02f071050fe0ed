// GUID text forms, ProgID lookup and task memory.

#include "objbase.h"
#include "windows.h"
#include "winreg.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" exactly.
bool ParseBraced(LPCOLESTR text, GUID* guid) {
    if (text == nullptr || std::wcslen(text) != 38 || text[0] != L'{' || text[37] != L'}') return false;
    static const int dashes[] = {9, 14, 19, 24};
    for (int d : dashes)
        if (text[d] != L'-') return false;
    auto hex = [&](int from, int count, uint64_t* value) {
        *value = 0;
        for (int i = 0; i < count; ++i) {
            int digit = HexDigit(text[from + i]);
            if (digit < 0) return false;
            *value = *value << 4 | static_cast<uint64_t>(digit);
        }
        return true;
    };
    uint64_t v = 0;
    if (!hex(1, 8, &v)) return false;
    guid->Data1 = static_cast<DWORD>(v);
    if (!hex(10, 4, &v)) return false;
    guid->Data2 = static_cast<WORD>(v);
    if (!hex(15, 4, &v)) return false;
    guid->Data3 = static_cast<WORD>(v);
    static const int bytes[] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hex(bytes[i], 2, &v)) return false;
        guid->Data4[i] = static_cast<BYTE>(v);
    }
    return true;
}

// Reads the default value of HKCR\<path> as text.
bool ReadClassesText(const std::wstring& path, std::wstring* text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    bool ok = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    if (ok) {
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        ok = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
             ERROR_SUCCESS;
        buffer.resize(size / sizeof(wchar_t));
        while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
        *text = buffer;
    }
    RegCloseKey(key);
    return ok;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
    if (text == nullptr || size < 39) return 0;
    std::swprintf(text, static_cast<size_t>(size), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
    if (text == nullptr) return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (*text == nullptr) return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *text, 39);
    return S_OK;
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return StringFromCLSID(iid, text); }

HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
    if (iid == nullptr) return E_INVALIDARG;
    return ParseBraced(text, iid) ? S_OK : E_INVALIDARG;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (clsid == nullptr) return E_INVALIDARG;
    *clsid = CLSID_NULL;
    if (text == nullptr) return S_OK;
    if (ParseBraced(text, clsid)) return S_OK;
    if (text[0] == L'{') return CO_E_CLASSSTRING;
    return CLSIDFromProgID(text, clsid);
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    std::wstring name = progId;
    // Follow CurVer at most a few times: a version-independent ProgID may name its current version.
    for (int hop = 0; hop < 4 && !name.empty(); ++hop) {
        std::wstring text;
        if (ReadClassesText(name + L"\\CLSID", &text))
            return ParseBraced(text.c_str(), clsid) ? S_OK : CO_E_CLASSSTRING;
        if (!ReadClassesText(name + L"\\CurVer", &text)) break;
        name = text;
    }
    return CO_E_CLASSSTRING;
}

LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size == 0 ? 1 : size); }
LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size) { return std::realloc(block, size == 0 ? 1 : size); }
void CoTaskMemFree(LPVOID block) { std::free(block); }
