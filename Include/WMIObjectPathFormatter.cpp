// Canonical object path text.

#include "WMIObjectPathFormatter.h"

#include "WMIObjectPathLexer.h"

#include <algorithm>
#include <cwchar>
#include <numeric>
#include <vector>

namespace {

bool IsIdentifier(const std::wstring& name) {
    if (name.empty() || !IsPathIdentifierStart(name[0])) return false;
    return std::all_of(name.begin() + 1, name.end(), IsPathIdentifierPart);
}

bool IsServerName(const std::wstring& server) {
    return !server.empty() && server.find_first_of(std::wstring(L"\\/\0", 3)) == std::wstring::npos;
}

bool AppendValue(const VARIANT& value, std::wstring& out) {
    if (value.vt == VT_I4) {
        out += std::to_wstring(value.lVal);
        return true;
    }
    if (value.vt != VT_BSTR) return false;
    UINT length = SysStringLen(value.bstrVal);
    out += L'"';
    for (UINT i = 0; i < length; ++i) {
        wchar_t c = value.bstrVal[i];
        if (c == L'\0') return false;  // the parser reads a path only up to its first NUL
        if (c == L'\\' || c == L'"') out += L'\\';
        out += c;
    }
    out += L'"';
    return true;
}

}  // namespace

bool FormatObjectPath(const WMIParsedObjectPath& path, std::wstring& text) {
    std::wstring out;
    if (path.server.has_value() != !path.namespaces.empty()) return false;
    if (path.server) {
        if (!IsServerName(*path.server)) return false;
        out += L"\\\\";
        out += *path.server;
        for (const std::wstring& name : path.namespaces) {
            if (!IsIdentifier(name)) return false;
            out += L'\\';
            out += name;
        }
    }

    if (!path.className) {
        if (!path.keys.empty() || path.singleton || out.empty()) return false;
        text = std::move(out);
        return true;
    }
    if (!IsIdentifier(*path.className)) return false;
    if (path.server) out += L':';
    out += *path.className;

    if (path.singleton) {
        if (!path.keys.empty()) return false;
        out += L"=@";
    } else if (path.keys.size() == 1 && !path.keys[0].Name()) {
        out += L'=';
        if (!AppendValue(path.keys[0].Value(), out)) return false;
    } else if (!path.keys.empty()) {
        std::vector<size_t> order(path.keys.size());
        std::iota(order.begin(), order.end(), size_t{0});
        for (const WMIPathKey& key : path.keys) {
            if (!key.Name() || !IsIdentifier(*key.Name())) return false;
        }
        std::stable_sort(order.begin(), order.end(), [&path](size_t a, size_t b) {
            return CompareKeyNames(*path.keys[a].Name(), *path.keys[b].Name()) < 0;
        });
        const wchar_t* separator = L".";
        for (size_t index : order) {
            const WMIPathKey& key = path.keys[index];
            out += separator;
            out += *key.Name();
            out += L'=';
            if (!AppendValue(key.Value(), out)) return false;
            separator = L",";
        }
    }
    text = std::move(out);
    return true;
}
