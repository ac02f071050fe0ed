// A parsed WMI object path: where the object lives (server, namespaces), its class and its keys.
//
// Produced by WMIObjectPathParser (WMIObjectPathParser.h) and written back as text by FormatObjectPath
// (WMIObjectPathFormatter.h). The object owns everything it holds: the key values are VARIANTs that it
// clears on destruction and deep-copies on copy.
#pragma once

#include "atlbase.h"
#include "oleauto.h"

#include <optional>
#include <string>
#include <vector>

// One key of an object path: a property name (absent for the unnamed key of "Class=value") and its value.
// The parser produces values of type VT_BSTR (quoted strings, never a null BSTR) and VT_I4 (numbers, TRUE,
// FALSE).
class WMIPathKey {
public:
    WMIPathKey() = default;
    // Takes ownership of *value and leaves it VT_EMPTY.
    WMIPathKey(std::optional<std::wstring> name, VARIANT* value);
    WMIPathKey(const WMIPathKey& other);
    WMIPathKey(WMIPathKey&& other) noexcept;
    WMIPathKey& operator=(WMIPathKey other) noexcept;

    const std::optional<std::wstring>& Name() const { return name_; }
    // The value stays owned by the key; copy it (VariantCopy) to keep it beyond the key's life.
    const VARIANT& Value() const { return value_; }

    // Same name (exact spelling) and same value (same type; BSTRs compared by content, a null BSTR being
    // the empty text).
    bool operator==(const WMIPathKey& other) const;

private:
    std::optional<std::wstring> name_;
    CComVariant value_;
};

struct WMIParsedObjectPath {
    std::optional<std::wstring> server;    // absent unless the path began with "\\server" or "//server"
    std::vector<std::wstring> namespaces;  // in path order; empty for a path relative to the namespace
    std::optional<std::wstring> className;
    std::vector<WMIPathKey> keys;  // two or more keys are sorted by name without regard to case
    bool singleton = false;        // the path ended in "=@"

    bool operator==(const WMIParsedObjectPath& other) const = default;
};

// Compares key names the way key lists are ordered: character by character after lower-casing both
// (CharLowerBuffW). Returns -1, 0 or 1.
int CompareKeyNames(const std::wstring& a, const std::wstring& b);
