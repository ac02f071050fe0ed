// How the client tool shows WMI objects: a table, a property list, or JSON.
//
// Properties are shown in the order the object enumerates them, system properties (__CLASS, __PATH, ...)
// left out. Text output is UTF-8.
#pragma once

#include "wbemcli.h"
#include "wrl/client.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace qv::wmi {

enum class Format { kTable, kList, kJson };

// A value as text: NULL is empty, booleans TRUE/FALSE, uint32 unsigned, arrays "{a, b}", embedded objects
// "instance of Class".
std::string ValueText(const VARIANT& value, CIMTYPE type);

// A value as JSON: null, booleans, numbers with the sign of their CIM type (64-bit values too), arrays,
// embedded objects as nested objects, everything else as strings.
nlohmann::json ValueJson(const VARIANT& value, CIMTYPE type, int depth = 0);

// An object's non-system properties as a JSON object, in enumeration order.
nlohmann::json ObjectJson(IWbemClassObject* object, int depth = 0);

// Writes the objects in the given format. The table's columns are the properties of all objects, in order
// of first appearance; JSON is an array of objects.
void WriteObjects(std::ostream& out, const std::vector<Microsoft::WRL::ComPtr<IWbemClassObject>>& objects,
                  Format format);

}  // namespace qv::wmi
