#include "argument_values.h"

#include "atlbase.h"

#include <cerrno>
#include <cstdlib>
#include <cwctype>
#include <limits>
#include <utility>
#include <vector>

namespace qv::wmi {
namespace {

bool ParseSigned(const std::wstring& text, long long min, long long max, long long* out) {
    if (text.empty() || std::iswspace(static_cast<wint_t>(text[0]))) return false;
    wchar_t* end = nullptr;
    errno = 0;
    long long v = std::wcstoll(text.c_str(), &end, 0);
    if (*end != L'\0') return false;
    if (errno == ERANGE || v < min || v > max) {
        errno = ERANGE;
        return false;
    }
    *out = v;
    return true;
}

bool ParseUnsigned(const std::wstring& text, unsigned long long max, unsigned long long* out) {
    if (text.empty() || text[0] == L'-' || std::iswspace(static_cast<wint_t>(text[0]))) return false;
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long long v = std::wcstoull(text.c_str(), &end, 0);
    if (*end != L'\0') return false;
    if (errno == ERANGE || v > max) {
        errno = ERANGE;
        return false;
    }
    *out = v;
    return true;
}

HRESULT Failure() { return errno == ERANGE ? WBEM_E_VALUE_OUT_OF_RANGE : WBEM_E_TYPE_MISMATCH; }

HRESULT Scalar(const std::wstring& text, CIMTYPE type, VARIANT* v) {
    long long s = 0;
    unsigned long long u = 0;
    errno = 0;
    switch (type) {
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
        v->vt = VT_BSTR;
        v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return v->bstrVal != nullptr ? S_OK : WBEM_E_OUT_OF_MEMORY;
    case CIM_BOOLEAN: {
        std::wstring lower;
        for (wchar_t c : text) lower += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        if (lower != L"true" && lower != L"false" && lower != L"1" && lower != L"0") return WBEM_E_TYPE_MISMATCH;
        v->vt = VT_BOOL;
        v->boolVal = (lower == L"true" || lower == L"1") ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    case CIM_SINT8:
        if (!ParseSigned(text, INT8_MIN, INT8_MAX, &s)) return Failure();
        v->vt = VT_I2, v->iVal = static_cast<SHORT>(s);
        return S_OK;
    case CIM_UINT8:
        if (!ParseUnsigned(text, UINT8_MAX, &u)) return Failure();
        v->vt = VT_UI1, v->bVal = static_cast<BYTE>(u);
        return S_OK;
    case CIM_SINT16:
        if (!ParseSigned(text, INT16_MIN, INT16_MAX, &s)) return Failure();
        v->vt = VT_I2, v->iVal = static_cast<SHORT>(s);
        return S_OK;
    case CIM_UINT16:
        if (!ParseUnsigned(text, UINT16_MAX, &u)) return Failure();
        v->vt = VT_I4, v->lVal = static_cast<LONG>(u);
        return S_OK;
    case CIM_SINT32:
        if (!ParseSigned(text, INT32_MIN, INT32_MAX, &s)) return Failure();
        v->vt = VT_I4, v->lVal = static_cast<LONG>(s);
        return S_OK;
    case CIM_UINT32:
        if (!ParseUnsigned(text, UINT32_MAX, &u)) return Failure();
        v->vt = VT_I4, v->lVal = static_cast<LONG>(static_cast<uint32_t>(u));
        return S_OK;
    case CIM_SINT64:
    case CIM_UINT64: {
        // Checked here, carried as decimal text.
        std::wstring decimal;
        if (type == CIM_SINT64) {
            if (!ParseSigned(text, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), &s))
                return Failure();
            decimal = std::to_wstring(s);
        } else {
            if (!ParseUnsigned(text, std::numeric_limits<unsigned long long>::max(), &u)) return Failure();
            decimal = std::to_wstring(u);
        }
        v->vt = VT_BSTR;
        v->bstrVal = SysAllocString(decimal.c_str());
        return S_OK;
    }
    case CIM_REAL32:
    case CIM_REAL64: {
        wchar_t* end = nullptr;
        double d = std::wcstod(text.c_str(), &end);
        if (text.empty() || *end != L'\0') return WBEM_E_TYPE_MISMATCH;
        if (type == CIM_REAL32)
            v->vt = VT_R4, v->fltVal = static_cast<float>(d);
        else
            v->vt = VT_R8, v->dblVal = d;
        return S_OK;
    }
    case CIM_CHAR16:
        if (text.size() != 1) return WBEM_E_TYPE_MISMATCH;
        v->vt = VT_I2, v->iVal = static_cast<SHORT>(text[0]);
        return S_OK;
    default: return WBEM_E_NOT_SUPPORTED;
    }
}

}  // namespace

HRESULT ArgumentValue(const std::wstring& text, CIMTYPE type, VARIANT* value) {
    VariantInit(value);
    if ((type & CIM_FLAG_ARRAY) == 0) {
        CComVariant scalar;
        HRESULT hr = Scalar(text, type, &scalar);
        return FAILED(hr) ? hr : scalar.Detach(value);
    }
    std::vector<CComVariant> elements;
    size_t start = 0;
    while (!text.empty()) {
        size_t comma = text.find(L',', start);
        CComVariant element;
        HRESULT hr = Scalar(text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start),
                            type & ~CIM_FLAG_ARRAY, &element);
        if (FAILED(hr)) return hr;
        elements.push_back(std::move(element));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    VARTYPE vt = elements.empty() ? static_cast<VARTYPE>(VT_BSTR) : elements[0].vt;
    SAFEARRAY* array = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(elements.size()));
    for (LONG i = 0; array != nullptr && i < static_cast<LONG>(elements.size()); ++i) {
        CComVariant& e = elements[static_cast<size_t>(i)];
        void* source = vt == VT_BSTR ? static_cast<void*>(e.bstrVal) : static_cast<void*>(&e.llVal);
        SafeArrayPutElement(array, &i, source);
    }
    if (array == nullptr) return WBEM_E_OUT_OF_MEMORY;
    value->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    value->parray = array;
    return S_OK;
}

}  // namespace qv::wmi
