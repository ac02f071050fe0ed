// VARIANT lifetime and conversion.

#include "oleauto.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <string>

void VariantInit(VARIANT* v) {
    if (v == nullptr) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) return E_INVALIDARG;
    if (v->vt & VT_BYREF) {
        // By-reference variants point at storage owned elsewhere.
    } else if (v->vt & VT_ARRAY) {
        HRESULT hr = SafeArrayDestroy(v->parray);
        if (FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
        SysFreeString(v->bstrVal);
    } else if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
        if (v->punkVal != nullptr) v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
    if (target == nullptr || source == nullptr) return E_INVALIDARG;
    if (target == source) return S_OK;
    VARIANT copy;
    VariantInit(&copy);
    copy.vt = source->vt;
    copy.llVal = source->llVal;
    if (!(source->vt & VT_BYREF)) {
        if (source->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        } else if (source->vt == VT_BSTR) {
            if (source->bstrVal != nullptr) {
                copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
                if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
            }
        } else if (source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) {
            if (source->punkVal != nullptr) source->punkVal->AddRef();
        }
    }
    HRESULT hr = VariantClear(target);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *target = copy;
    return S_OK;
}

namespace {

bool IsSigned(VARTYPE vt) { return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT; }
bool IsUnsigned(VARTYPE vt) { return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT; }
bool IsReal(VARTYPE vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

// A numeric value held as the widest type that represents it exactly.
struct Number {
    enum { kSigned, kUnsigned, kReal } kind;
    int64_t s = 0;
    uint64_t u = 0;
    double r = 0;
};

bool ReadNumber(const VARIANT* v, Number* n) {
    switch (v->vt) {
    case VT_I1: *n = {Number::kSigned, v->cVal}; return true;
    case VT_I2: *n = {Number::kSigned, v->iVal}; return true;
    case VT_I4:
    case VT_INT: *n = {Number::kSigned, v->lVal}; return true;
    case VT_I8: *n = {Number::kSigned, v->llVal}; return true;
    case VT_BOOL: *n = {Number::kSigned, v->boolVal ? -1 : 0}; return true;
    case VT_UI1: *n = {Number::kUnsigned, 0, v->bVal}; return true;
    case VT_UI2: *n = {Number::kUnsigned, 0, v->uiVal}; return true;
    case VT_UI4:
    case VT_UINT: *n = {Number::kUnsigned, 0, v->ulVal}; return true;
    case VT_UI8: *n = {Number::kUnsigned, 0, v->ullVal}; return true;
    case VT_R4: *n = {Number::kReal, 0, 0, v->fltVal}; return true;
    case VT_R8:
    case VT_DATE: *n = {Number::kReal, 0, 0, v->dblVal}; return true;
    default: return false;
    }
}

// Parses text in the invariant locale: optional sign, decimal digits, or a real number.
HRESULT ParseNumber(BSTR text, Number* n) {
    std::wstring s = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    while (!s.empty() && std::iswspace(static_cast<wint_t>(s.back()))) s.pop_back();
    size_t start = 0;
    while (start < s.size() && std::iswspace(static_cast<wint_t>(s[start]))) ++start;
    s = s.substr(start);
    if (s.empty()) return DISP_E_TYPEMISMATCH;
    std::string narrow;
    for (wchar_t c : s) {
        if (c > 0x7F) return DISP_E_TYPEMISMATCH;
        narrow.push_back(static_cast<char>(c));
    }
    const char* begin = narrow.c_str();
    char* end = nullptr;
    errno = 0;
    if (narrow.find_first_of(".eE") == std::string::npos) {
        if (narrow[0] == '-') {
            long long value = std::strtoll(begin, &end, 10);
            if (*end != '\0') return DISP_E_TYPEMISMATCH;
            if (errno == ERANGE) return DISP_E_OVERFLOW;
            *n = {Number::kSigned, value};
        } else {
            unsigned long long value = std::strtoull(begin, &end, 10);
            if (*end != '\0') return DISP_E_TYPEMISMATCH;
            if (errno == ERANGE) return DISP_E_OVERFLOW;
            *n = {Number::kUnsigned, 0, value};
        }
        return S_OK;
    }
    double value = std::strtod(begin, &end);
    if (*end != '\0') return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE || !std::isfinite(value)) return DISP_E_OVERFLOW;
    *n = {Number::kReal, 0, 0, value};
    return S_OK;
}

// Automation rounds reals to the nearest integer, halves to even.
HRESULT ToSigned(const Number& n, int64_t min, int64_t max, int64_t* out) {
    if (n.kind == Number::kReal) {
        double r = std::nearbyint(n.r);
        if (!(r >= static_cast<double>(min) && r <= static_cast<double>(max))) return DISP_E_OVERFLOW;
        *out = static_cast<int64_t>(r);
        return S_OK;
    }
    if (n.kind == Number::kUnsigned) {
        if (n.u > static_cast<uint64_t>(max)) return DISP_E_OVERFLOW;
        *out = static_cast<int64_t>(n.u);
        return S_OK;
    }
    if (n.s < min || n.s > max) return DISP_E_OVERFLOW;
    *out = n.s;
    return S_OK;
}

HRESULT ToUnsigned(const Number& n, uint64_t max, uint64_t* out) {
    if (n.kind == Number::kReal) {
        double r = std::nearbyint(n.r);
        if (!(r >= 0 && r <= static_cast<double>(max))) return DISP_E_OVERFLOW;
        *out = static_cast<uint64_t>(r);
        return S_OK;
    }
    if (n.kind == Number::kSigned) {
        if (n.s < 0 || static_cast<uint64_t>(n.s) > max) return DISP_E_OVERFLOW;
        *out = static_cast<uint64_t>(n.s);
        return S_OK;
    }
    if (n.u > max) return DISP_E_OVERFLOW;
    *out = n.u;
    return S_OK;
}

BSTR FormatNumber(const Number& n) {
    char buffer[64];
    if (n.kind == Number::kSigned)
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(n.s));
    else if (n.kind == Number::kUnsigned)
        std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(n.u));
    else
        std::snprintf(buffer, sizeof buffer, "%.15g", n.r);
    std::wstring wide(buffer, buffer + std::strlen(buffer));
    return SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
}

bool EqualsIgnoreCase(BSTR text, const wchar_t* word) {
    UINT length = SysStringLen(text);
    if (length != std::wcslen(word)) return false;
    for (UINT i = 0; i < length; ++i)
        if (std::towlower(static_cast<wint_t>(text[i])) != static_cast<wint_t>(word[i])) return false;
    return true;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, USHORT flags, VARTYPE vt) {
    if (target == nullptr || source == nullptr) return E_INVALIDARG;
    if (source->vt == vt) return VariantCopy(target, source);
    if ((source->vt & (VT_ARRAY | VT_BYREF)) || (vt & (VT_ARRAY | VT_BYREF))) return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) return VariantClear(target);
    if (source->vt == VT_NULL) return vt == VT_NULL ? VariantClear(target) : DISP_E_TYPEMISMATCH;

    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    Number n{};
    HRESULT hr = S_OK;
    if (source->vt == VT_EMPTY) {
        n = {Number::kSigned, 0};
    } else if (source->vt == VT_BSTR) {
        if (vt == VT_BOOL) {
            if (EqualsIgnoreCase(source->bstrVal, L"true"))
                n = {Number::kSigned, -1};
            else if (EqualsIgnoreCase(source->bstrVal, L"false"))
                n = {Number::kSigned, 0};
            else
                hr = ParseNumber(source->bstrVal, &n);
        } else {
            hr = ParseNumber(source->bstrVal, &n);
        }
    } else if (!ReadNumber(source, &n)) {
        return DISP_E_TYPEMISMATCH;
    }
    if (FAILED(hr)) return hr;

    if (vt == VT_BSTR) {
        if (source->vt == VT_BOOL)
            result.bstrVal = SysAllocString((flags & VARIANT_ALPHABOOL) ? (source->boolVal ? L"True" : L"False")
                                                                        : (source->boolVal ? L"-1" : L"0"));
        else
            result.bstrVal = FormatNumber(n);
        if (result.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if (vt == VT_BOOL) {
        bool nonzero = n.kind == Number::kReal ? n.r != 0 : n.kind == Number::kSigned ? n.s != 0 : n.u != 0;
        result.boolVal = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (IsReal(vt)) {
        double r = n.kind == Number::kReal     ? n.r
                   : n.kind == Number::kSigned ? static_cast<double>(n.s)
                                               : static_cast<double>(n.u);
        if (vt == VT_R4) {
            if (std::fabs(r) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
            result.fltVal = static_cast<float>(r);
        } else {
            result.dblVal = r;
        }
    } else if (IsSigned(vt)) {
        int64_t value = 0;
        int64_t max = vt == VT_I1 ? INT8_MAX : vt == VT_I2 ? INT16_MAX : vt == VT_I8 ? INT64_MAX : INT32_MAX;
        int64_t min = vt == VT_I1 ? INT8_MIN : vt == VT_I2 ? INT16_MIN : vt == VT_I8 ? INT64_MIN : INT32_MIN;
        hr = ToSigned(n, min, max, &value);
        if (FAILED(hr)) return hr;
        if (vt == VT_I1)
            result.cVal = static_cast<CHAR>(value);
        else if (vt == VT_I2)
            result.iVal = static_cast<SHORT>(value);
        else if (vt == VT_I8)
            result.llVal = value;
        else
            result.lVal = static_cast<LONG>(value);
    } else if (IsUnsigned(vt)) {
        uint64_t value = 0;
        uint64_t max = vt == VT_UI1 ? UINT8_MAX : vt == VT_UI2 ? UINT16_MAX : vt == VT_UI8 ? UINT64_MAX : UINT32_MAX;
        hr = ToUnsigned(n, max, &value);
        if (FAILED(hr)) return hr;
        if (vt == VT_UI1)
            result.bVal = static_cast<BYTE>(value);
        else if (vt == VT_UI2)
            result.uiVal = static_cast<USHORT>(value);
        else if (vt == VT_UI8)
            result.ullVal = value;
        else
            result.ulVal = static_cast<ULONG>(value);
    } else {
        return DISP_E_BADVARTYPE;
    }
    hr = VariantClear(target);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *target = result;
    return S_OK;
}
