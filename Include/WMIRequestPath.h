// What the request frame needs from an object path and from a query text: the class and the keys of a path
// (in the parser's order), the class named by a query.
#pragma once

#include "atlbase.h"
#include "oleauto.h"

#include <string>
#include <utility>
#include <vector>

struct WMIRequestPath {
    WMIRequestPath() = default;
    WMIRequestPath(const WMIRequestPath&) = delete;
    WMIRequestPath& operator=(const WMIRequestPath&) = delete;

    std::wstring className;
    // Key name (empty for the unnamed key of "Class=value") and value.
    std::vector<std::pair<std::wstring, CComVariant>> keys;
};

// Parses an object path with WMIObjectPathParser; false when the parser refuses it or it names no class (out
// is then empty). Server and namespaces, when given, are not used.
bool ParseRequestPath(LPCWSTR text, WMIRequestPath* out);

// The lower-case class name a query selects from, possibly empty (ParseQueryClass); throws
// std::out_of_range, not an HRESULT, on a query that ends right after "from".
std::wstring RequestQueryClass(BSTR query);
