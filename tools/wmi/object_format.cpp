#include "object_format.h"

#include "atlbase.h"
#include "qv_system_root.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace qv::wmi {
namespace {

using Microsoft::WRL::ComPtr;

constexpr int kMaxDepth = 8;  // embedded objects nested deeper are shown by class name only

std::string Utf8(BSTR text) {
    return text == nullptr ? std::string() : qv::win::ToUtf8(std::wstring(text, SysStringLen(text)));
}

std::string ClassOf(IUnknown* unknown) {
    ComPtr<IWbemClassObject> object;
    if (unknown == nullptr ||
        FAILED(unknown->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(object.GetAddressOf()))))
        return "object";
    CComVariant v;
    std::string name = "object";
    if (SUCCEEDED(object->Get(L"__CLASS", 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR) name = Utf8(v.bstrVal);
    return name;
}

// One element of an array as a scalar VARIANT (borrowed for BSTR and IUnknown elements).
bool Element(SAFEARRAY* array, LONG index, VARIANT* element) {
    VARTYPE vt = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(array, &vt))) return false;
    VariantInit(element);
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return false;
    LONG lower = 0;
    SafeArrayGetLBound(array, 1, &lower);
    auto* at = static_cast<unsigned char*>(data) + static_cast<size_t>(index - lower) * array->cbElements;
    if (vt == VT_VARIANT)
        *element = *reinterpret_cast<VARIANT*>(at);
    else {
        element->vt = vt;
        std::memcpy(&element->llVal, at, array->cbElements);
    }
    SafeArrayUnaccessData(array);
    return true;
}

template <typename F>
void ForEachElement(SAFEARRAY* array, F each) {
    if (array == nullptr || SafeArrayGetDim(array) != 1) return;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        VARIANT element;
        if (Element(array, i, &element)) each(element);
    }
}

}  // namespace

std::string ValueText(const VARIANT& value, CIMTYPE type) {
    CIMTYPE scalar = type & ~CIM_FLAG_ARRAY;
    if (value.vt & VT_ARRAY) {
        std::string text = "{";
        bool first = true;
        ForEachElement(value.parray, [&](const VARIANT& element) {
            text += (first ? "" : ", ") + ValueText(element, scalar);
            first = false;
        });
        return text + "}";
    }
    char buffer[64];
    switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL: return "";
    case VT_BSTR: return Utf8(value.bstrVal);
    case VT_BOOL: return value.boolVal != VARIANT_FALSE ? "TRUE" : "FALSE";
    case VT_UI1: return std::to_string(value.bVal);
    case VT_I1: return std::to_string(value.cVal);
    case VT_I2:
        if (scalar == CIM_CHAR16) return qv::win::ToUtf8(std::wstring(1, static_cast<wchar_t>(value.uiVal)));
        return scalar == CIM_UINT16 ? std::to_string(value.uiVal) : std::to_string(value.iVal);
    case VT_UI2: return std::to_string(value.uiVal);
    case VT_I4:
        return scalar == CIM_UINT32 ? std::to_string(static_cast<uint32_t>(value.lVal)) : std::to_string(value.lVal);
    case VT_UI4: return std::to_string(value.ulVal);
    case VT_I8: return std::to_string(value.llVal);
    case VT_UI8: return std::to_string(value.ullVal);
    case VT_R4: std::snprintf(buffer, sizeof buffer, "%.9g", value.fltVal); return buffer;
    case VT_R8: std::snprintf(buffer, sizeof buffer, "%.17g", value.dblVal); return buffer;
    case VT_UNKNOWN: return "instance of " + ClassOf(value.punkVal);
    default: return "<unsupported>";
    }
}

nlohmann::json ValueJson(const VARIANT& value, CIMTYPE type, int depth) {
    CIMTYPE scalar = type & ~CIM_FLAG_ARRAY;
    if (value.vt & VT_ARRAY) {
        auto array = nlohmann::json::array();
        ForEachElement(value.parray,
                       [&](const VARIANT& element) { array.push_back(ValueJson(element, scalar, depth)); });
        return array;
    }
    switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL: return nullptr;
    case VT_BOOL: return value.boolVal != VARIANT_FALSE;
    case VT_BSTR: {
        std::string text = Utf8(value.bstrVal);
        // 64-bit integers travel as text; JSON shows them as the numbers they are.
        if (scalar == CIM_SINT64 || scalar == CIM_UINT64) {
            char* end = nullptr;
            errno = 0;
            if (scalar == CIM_SINT64) {
                long long n = std::strtoll(text.c_str(), &end, 10);
                if (!text.empty() && *end == '\0' && errno == 0) return static_cast<int64_t>(n);
            } else if (!text.empty() && text[0] != '-') {
                unsigned long long n = std::strtoull(text.c_str(), &end, 10);
                if (*end == '\0' && errno == 0) return static_cast<uint64_t>(n);
            }
        }
        return text;
    }
    case VT_UNKNOWN: {
        ComPtr<IWbemClassObject> object;
        if (depth >= kMaxDepth || value.punkVal == nullptr ||
            FAILED(
                value.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(object.GetAddressOf()))))
            return ValueText(value, type);
        return ObjectJson(object.Get(), depth + 1);
    }
    case VT_R4: return static_cast<double>(value.fltVal);
    case VT_R8: return value.dblVal;
    case VT_I1: return static_cast<int64_t>(value.cVal);
    case VT_UI1: return static_cast<uint64_t>(value.bVal);
    case VT_I2:
        if (scalar == CIM_CHAR16) return ValueText(value, type);
        return scalar == CIM_UINT16 ? nlohmann::json(static_cast<uint64_t>(value.uiVal))
                                    : nlohmann::json(static_cast<int64_t>(value.iVal));
    case VT_UI2: return static_cast<uint64_t>(value.uiVal);
    case VT_I4:
        return scalar == CIM_UINT32 ? nlohmann::json(static_cast<uint64_t>(static_cast<uint32_t>(value.lVal)))
                                    : nlohmann::json(static_cast<int64_t>(value.lVal));
    case VT_UI4: return static_cast<uint64_t>(value.ulVal);
    case VT_I8: return static_cast<int64_t>(value.llVal);
    case VT_UI8: return static_cast<uint64_t>(value.ullVal);
    default: return ValueText(value, type);
    }
}

nlohmann::json ObjectJson(IWbemClassObject* object, int depth) {
    auto json = nlohmann::json::object();
    if (object == nullptr || FAILED(object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY))) return json;
    for (;;) {
        CComBSTR name;
        CComVariant value;
        CIMTYPE type = 0;
        if (object->Next(0, &name, &value, &type, nullptr) != WBEM_S_NO_ERROR) break;
        json[Utf8(name)] = ValueJson(value, type, depth);
    }
    object->EndEnumeration();
    return json;
}

void WriteObjects(std::ostream& out, const std::vector<ComPtr<IWbemClassObject>>& objects, Format format) {
    if (format == Format::kJson) {
        auto array = nlohmann::json::array();
        for (const auto& object : objects) array.push_back(ObjectJson(object.Get()));
        out << array.dump(2) << '\n';
        return;
    }
    // Text forms: each object as (column, text) cells in its own order; a column is a property name, numbered
    // as first seen, so that a cell is found by index and each text's width is counted once.
    struct Cell {
        size_t column;
        std::string text;
        size_t width;
    };
    auto width = [](const std::string& s) {  // in characters, not bytes
        return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    std::vector<std::vector<Cell>> rows;
    rows.reserve(objects.size());
    std::vector<std::string> columns;
    std::vector<size_t> widths;
    std::unordered_map<std::string, size_t> column_of;
    for (const auto& object : objects) {
        auto& row = rows.emplace_back();
        if (FAILED(object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY))) continue;
        for (;;) {
            CComBSTR name;
            CComVariant value;
            CIMTYPE type = 0;
            if (object->Next(0, &name, &value, &type, nullptr) != WBEM_S_NO_ERROR) break;
            std::string column = Utf8(name);
            auto [at, added] = column_of.try_emplace(column, columns.size());
            if (added) {
                widths.push_back(width(column));
                columns.push_back(std::move(column));
            }
            std::string text = ValueText(value, type);
            size_t w = width(text);
            widths[at->second] = std::max(widths[at->second], w);
            row.push_back({at->second, std::move(text), w});
        }
        object->EndEnumeration();
    }
    if (format == Format::kList) {
        std::string text;
        for (size_t r = 0; r < rows.size(); ++r) {
            if (r > 0) text += '\n';
            for (const Cell& cell : rows[r]) {
                text += columns[cell.column];
                text += " = ";
                text += cell.text;
                text += '\n';
            }
        }
        out << text;
        return;
    }
    // Table: one column per property, as wide as its widest cell.
    if (columns.empty()) return;
    std::string text;
    auto put = [&](const std::string& cell, size_t cell_width, size_t c) {
        text += cell;
        if (c + 1 < columns.size()) text.append(widths[c] - cell_width + 2, ' ');
    };
    for (size_t c = 0; c < columns.size(); ++c) put(columns[c], width(columns[c]), c);
    text += '\n';
    for (size_t c = 0; c < columns.size(); ++c) put(std::string(widths[c], '-'), widths[c], c);
    text += '\n';
    std::vector<const Cell*> by_column(columns.size());
    const std::string none;
    for (const auto& row : rows) {
        std::fill(by_column.begin(), by_column.end(), nullptr);
        for (const Cell& cell : row) by_column[cell.column] = &cell;
        for (size_t c = 0; c < columns.size(); ++c) {
            if (by_column[c] != nullptr)
                put(by_column[c]->text, by_column[c]->width, c);
            else
                put(none, 0, c);
        }
        text += '\n';
    }
    out << text;
}

}  // namespace qv::wmi
