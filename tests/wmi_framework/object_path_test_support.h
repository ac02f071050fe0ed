// Expected parsed object paths written as plain data, for the parser and formatter tables.
#pragma once

#include "WMIObjectPath.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

struct ExpectedKey {
    const wchar_t* name;  // null: the unnamed key
    VARTYPE vt;
    LONG number = 0;         // VT_I4
    std::wstring text = {};  // VT_BSTR
};

struct ExpectedPath {
    std::optional<std::wstring> server;
    std::vector<std::wstring> namespaces;
    std::optional<std::wstring> className;
    std::vector<ExpectedKey> keys;
    bool singleton = false;
};

inline WMIPathKey MakeKey(const ExpectedKey& k) {
    VARIANT v;
    VariantInit(&v);
    v.vt = k.vt;
    if (k.vt == VT_BSTR) {
        v.bstrVal = SysAllocStringLen(k.text.data(), static_cast<UINT>(k.text.size()));
    } else {
        v.lVal = k.number;
    }
    return WMIPathKey(k.name ? std::optional<std::wstring>(k.name) : std::nullopt, &v);
}

inline WMIParsedObjectPath MakePath(const ExpectedPath& e) {
    WMIParsedObjectPath path;
    path.server = e.server;
    path.namespaces = e.namespaces;
    path.className = e.className;
    for (const ExpectedKey& k : e.keys) path.keys.push_back(MakeKey(k));
    path.singleton = e.singleton;
    return path;
}

inline void PrintTo(const WMIParsedObjectPath& p, std::ostream* os) {
    auto narrow = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
    *os << "server=" << (p.server ? narrow(*p.server) : "(none)") << " ns=[";
    for (const auto& n : p.namespaces) *os << narrow(n) << ";";
    *os << "] class=" << (p.className ? narrow(*p.className) : "(none)") << " keys=[";
    for (const auto& k : p.keys) {
        *os << (k.Name() ? narrow(*k.Name()) : "(unnamed)") << ":vt" << k.Value().vt << "=";
        if (k.Value().vt == VT_I4) *os << k.Value().lVal;
        if (k.Value().vt == VT_BSTR) *os << narrow(std::wstring(k.Value().bstrVal, SysStringLen(k.Value().bstrVal)));
        *os << ";";
    }
    *os << "] singleton=" << p.singleton;
}
