// Object paths and query texts as the framework needs them, read by the object path parser and
// ParseQueryClass.

#include "WMIRequestPath.h"

#include "WMIObjectPathParser.h"
#include "WMIQueryClass.h"

#include <memory>

WMIRequestPath::~WMIRequestPath() {
    for (auto& key : keys) VariantClear(&key.second);
}

bool ParseRequestPath(LPCWSTR text, WMIRequestPath* out) {
    if (out == nullptr) return false;
    std::unique_ptr<WMIParsedObjectPath> parsed;
    if (WMIObjectPathParser().Parse(text, parsed) != WMIPathParseNoError || !parsed || !parsed->className) return false;
    out->className = *parsed->className;
    for (const WMIPathKey& key : parsed->keys) {
        VARIANT value;
        VariantInit(&value);
        VariantCopy(&value, &key.Value());
        out->keys.emplace_back(key.Name().value_or(L""), value);
    }
    return true;
}

std::wstring RequestQueryClass(BSTR query) { return ParseQueryClass(query); }
