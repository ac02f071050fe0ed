// WMI object paths: [\\server\namespace:]Class[.Key=Value[,Key=Value...] | =@ | =Value].
//
// Key values are quoted strings (with \" and \\ escapes), integers (decimal, signed or not) or TRUE/FALSE.
// Parsing refuses anything else; it never throws.
#pragma once

#include "qv_cim_object.h"

#include <optional>
#include <string>
#include <vector>

namespace qv::wbem {

struct ObjectPath {
    struct Key {
        std::wstring name;  // empty for the one unnamed key of Class=Value
        CimValue value;
    };
    std::wstring server;
    std::wstring nameSpace;
    std::wstring className;
    std::vector<Key> keys;
    bool singleton = false;

    bool IsClassPath() const { return keys.empty() && !singleton; }
    // Class.Key="v",... with keys in the order held; Class=@ for a singleton; Class for a class.
    std::wstring RelativeText() const;
    // A comparison key for instance lookups: class and keys lowered, keys sorted by name.
    std::wstring CanonicalKey() const;
};

std::optional<ObjectPath> ParseObjectPath(const std::wstring& text);

// A key value as a path writes it: "text" with escapes, numbers in decimal, TRUE/FALSE.
std::wstring PathValueText(const CimValue& value);

}  // namespace qv::wbem
