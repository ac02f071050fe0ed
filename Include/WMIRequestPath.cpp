// Object paths and query texts as the framework needs them, read by the object path parser and
// ParseQueryClass.

#include "WMIRequestPath.h"

#include "WMIObjectPathParser.h"
#include "WMIQueryClass.h"

#include <memory>

bool ParseRequestPath(LPCWSTR text, WMIRequestPath* out) {
    if (out == nullptr) return false;
    std::unique_ptr<WMIParsedObjectPath> parsed;
    if (WMIObjectPathParser().Parse(text, parsed) != WMIPathParseNoError || !parsed || !parsed->className) return false;
    out->className = *parsed->className;
    for (const WMIPathKey& key : parsed->keys) out->keys.emplace_back(key.Name().value_or(L""), key.Value());
    return true;
}

std::wstring RequestQueryClass(BSTR query) { return ParseQueryClass(query); }
