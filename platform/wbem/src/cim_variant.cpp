// Conversion between CIM values and VARIANTs.
#include "qv_cim_variant.h"

#include "qv_class_object.h"

#include <cmath>
#include <cwctype>
#include <limits>

namespace qv::wbem {

namespace {

CIMTYPE Base(CIMTYPE t) { return t & ~CIM_FLAG_ARRAY; }

bool IsSigned(CIMTYPE t) { return t == CIM_SINT8 || t == CIM_SINT16 || t == CIM_SINT32 || t == CIM_SINT64; }
bool IsUnsigned(CIMTYPE t) {
    return t == CIM_UINT8 || t == CIM_UINT16 || t == CIM_UINT32 || t == CIM_UINT64 || t == CIM_CHAR16;
}

void Range(CIMTYPE t, int64_t* lo, uint64_t* hi) {
    switch (t) {
    case CIM_SINT8:
        *lo = -128;
        *hi = 127;
        break;
    case CIM_UINT8:
        *lo = 0;
        *hi = 255;
        break;
    case CIM_SINT16:
        *lo = -32768;
        *hi = 32767;
        break;
    case CIM_UINT16:
    case CIM_CHAR16:
        *lo = 0;
        *hi = 65535;
        break;
    case CIM_SINT32:
        *lo = INT32_MIN;
        *hi = INT32_MAX;
        break;
    case CIM_UINT32:
        *lo = INT32_MIN;
        *hi = UINT32_MAX;
        break;  // uint32 travels as VT_I4: negative wraps
    case CIM_SINT64:
        *lo = INT64_MIN;
        *hi = INT64_MAX;
        break;
    default:
        *lo = 0;
        *hi = UINT64_MAX;
        break;
    }
}

bool ParseDecimal(const std::wstring& s, bool* negative, uint64_t* magnitude) {
    size_t i = 0;
    *negative = !s.empty() && s[0] == L'-';
    if (*negative || (!s.empty() && s[0] == L'+')) i = 1;
    if (i >= s.size()) return false;
    *magnitude = 0;
    for (; i < s.size(); ++i) {
        if (!std::iswdigit(s[i])) return false;
        uint64_t d = static_cast<uint64_t>(s[i] - L'0');
        if (*magnitude > (UINT64_MAX - d) / 10) return false;
        *magnitude = *magnitude * 10 + d;
    }
    return true;
}

// One element from a VARIANT holding a scalar of type vt at `data`.
HRESULT ElementFrom(VARTYPE vt, const void* data, CIMTYPE t, CimScalar* out) {
    bool isInt = false, negative = false;
    uint64_t magnitude = 0;
    int64_t signedValue = 0;
    switch (vt) {
    case VT_I1:
        signedValue = *static_cast<const CHAR*>(data);
        isInt = true;
        break;
    case VT_I2:
        signedValue = *static_cast<const SHORT*>(data);
        isInt = true;
        break;
    case VT_I4:
    case VT_INT:
        signedValue = *static_cast<const LONG*>(data);
        isInt = true;
        break;
    case VT_I8:
        signedValue = *static_cast<const LONGLONG*>(data);
        isInt = true;
        break;
    case VT_UI1:
        magnitude = *static_cast<const BYTE*>(data);
        isInt = true;
        break;
    case VT_UI2:
        magnitude = *static_cast<const USHORT*>(data);
        isInt = true;
        break;
    case VT_UI4:
    case VT_UINT:
        magnitude = *static_cast<const ULONG*>(data);
        isInt = true;
        break;
    case VT_UI8:
        magnitude = *static_cast<const ULONGLONG*>(data);
        isInt = true;
        break;
    default: break;
    }
    if (isInt && (vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_INT || vt == VT_I8)) {
        negative = signedValue < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(signedValue) : static_cast<uint64_t>(signedValue);
    }
    if (vt == VT_BSTR && (t == CIM_SINT64 || t == CIM_UINT64)) {
        BSTR s = *static_cast<const BSTR*>(data);
        if (!ParseDecimal(s ? std::wstring(s, SysStringLen(s)) : L"", &negative, &magnitude))
            return WBEM_E_TYPE_MISMATCH;
        isInt = true;
    }
    if (IsSigned(t) || IsUnsigned(t)) {
        if (!isInt) return WBEM_E_TYPE_MISMATCH;
        int64_t lo;
        uint64_t hi;
        Range(t, &lo, &hi);
        if (negative) {
            if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return WBEM_E_TYPE_MISMATCH;
            int64_t v = static_cast<int64_t>(0 - magnitude);
            if (v < lo) return WBEM_E_TYPE_MISMATCH;
            if (t == CIM_UINT32)
                *out = static_cast<uint64_t>(static_cast<uint32_t>(v));
            else if (IsUnsigned(t))
                return WBEM_E_TYPE_MISMATCH;
            else
                *out = v;
            return S_OK;
        }
        if (magnitude > hi) return WBEM_E_TYPE_MISMATCH;
        if (IsSigned(t))
            *out = static_cast<int64_t>(magnitude);
        else
            *out = magnitude;
        return S_OK;
    }
    switch (t) {
    case CIM_REAL32:
    case CIM_REAL64:
        if (vt == VT_R4)
            *out = static_cast<double>(*static_cast<const FLOAT*>(data));
        else if (vt == VT_R8)
            *out = *static_cast<const DOUBLE*>(data);
        else if (isInt)
            *out = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
        else
            return WBEM_E_TYPE_MISMATCH;
        return S_OK;
    case CIM_BOOLEAN:
        if (vt != VT_BOOL) return WBEM_E_TYPE_MISMATCH;
        *out = *static_cast<const VARIANT_BOOL*>(data) != VARIANT_FALSE;
        return S_OK;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE: {
        if (vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
        BSTR s = *static_cast<const BSTR*>(data);
        std::wstring text = s ? std::wstring(s, SysStringLen(s)) : L"";
        if (t == CIM_DATETIME && !IsDmtfDatetime(text)) return WBEM_E_TYPE_MISMATCH;
        *out = text;
        return S_OK;
    }
    case CIM_OBJECT: {
        if (vt != VT_UNKNOWN) return WBEM_E_TYPE_MISMATCH;
        IUnknown* unknown = *static_cast<IUnknown* const*>(data);
        const CimObject* object = unknown ? CimObjectOf(unknown) : nullptr;
        if (!object) return WBEM_E_TYPE_MISMATCH;
        *out = std::make_shared<CimObject>(*object);
        return S_OK;
    }
    default: return WBEM_E_TYPE_MISMATCH;
    }
}

HRESULT ElementTo(const CimScalar& e, CIMTYPE t, VARTYPE vt, VARIANT* v) {
    v->vt = vt;
    switch (vt) {
    case VT_I2:
        v->iVal = static_cast<SHORT>(std::holds_alternative<int64_t>(e) ? std::get<int64_t>(e)
                                                                        : static_cast<int64_t>(std::get<uint64_t>(e)));
        return S_OK;
    case VT_UI1: v->bVal = static_cast<BYTE>(std::get<uint64_t>(e)); return S_OK;
    case VT_I4:
        v->lVal = static_cast<LONG>(std::holds_alternative<int64_t>(e) ? std::get<int64_t>(e)
                                                                       : static_cast<int64_t>(std::get<uint64_t>(e)));
        return S_OK;
    case VT_R4: v->fltVal = static_cast<FLOAT>(std::get<double>(e)); return S_OK;
    case VT_R8: v->dblVal = std::get<double>(e); return S_OK;
    case VT_BOOL: v->boolVal = std::get<bool>(e) ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_BSTR: {
        std::wstring text;
        if (t == CIM_SINT64)
            text = std::to_wstring(std::get<int64_t>(e));
        else if (t == CIM_UINT64)
            text = std::to_wstring(std::get<uint64_t>(e));
        else
            text = std::get<std::wstring>(e);
        v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return v->bstrVal ? S_OK : WBEM_E_OUT_OF_MEMORY;
    }
    case VT_UNKNOWN: {
        const auto& object = std::get<std::shared_ptr<CimObject>>(e);
        v->punkVal = object ? CreateClassObject(*object) : nullptr;
        return S_OK;
    }
    default: return WBEM_E_TYPE_MISMATCH;
    }
}

}  // namespace

namespace {

// One field of a datetime text: its digits within [low, high], or (where allowed) only asterisks, which
// mark a field that is not significant. Microseconds may end in asterisks digit by digit ("125***").
bool DatetimeField(const std::wstring& s, size_t at, size_t width, unsigned low, unsigned high, bool partial) {
    size_t stars = 0;
    while (stars < width && s[at + width - 1 - stars] == L'*') ++stars;
    if (stars == width) return true;
    if (stars > 0 && !partial) return false;
    unsigned value = 0;
    for (size_t i = at; i < at + width - stars; ++i) {
        if (s[i] < L'0' || s[i] > L'9') return false;
        value = value * 10 + static_cast<unsigned>(s[i] - L'0');
    }
    return stars > 0 || (value >= low && value <= high);
}

}  // namespace

bool IsDmtfDatetime(const std::wstring& s) {
    if (s.size() != 25 || s[14] != L'.') return false;
    bool interval = s[21] == L':';
    if (!interval && s[21] != L'+' && s[21] != L'-') return false;
    if (interval) {
        // ddddddddhhmmss.mmmmmm:000
        return DatetimeField(s, 0, 8, 0, 99999999, false) && DatetimeField(s, 8, 2, 0, 23, false) &&
               DatetimeField(s, 10, 2, 0, 59, false) && DatetimeField(s, 12, 2, 0, 59, false) &&
               DatetimeField(s, 15, 6, 0, 999999, true) && s.compare(22, 3, L"000") == 0;
    }
    // yyyymmddhhmmss.mmmmmmsutc (utc: the offset in minutes)
    return DatetimeField(s, 0, 4, 0, 9999, false) && DatetimeField(s, 4, 2, 1, 12, false) &&
           DatetimeField(s, 6, 2, 1, 31, false) && DatetimeField(s, 8, 2, 0, 23, false) &&
           DatetimeField(s, 10, 2, 0, 59, false) && DatetimeField(s, 12, 2, 0, 59, false) &&
           DatetimeField(s, 15, 6, 0, 999999, true) && DatetimeField(s, 22, 3, 0, 999, false);
}

VARTYPE VarTypeOf(CIMTYPE type) {
    VARTYPE array = (type & CIM_FLAG_ARRAY) ? VT_ARRAY : 0;
    switch (Base(type)) {
    case CIM_SINT8:
    case CIM_SINT16:
    case CIM_CHAR16: return VT_I2 | array;
    case CIM_UINT8: return VT_UI1 | array;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32: return VT_I4 | array;
    case CIM_SINT64:
    case CIM_UINT64:
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE: return VT_BSTR | array;
    case CIM_REAL32: return VT_R4 | array;
    case CIM_REAL64: return VT_R8 | array;
    case CIM_BOOLEAN: return VT_BOOL | array;
    case CIM_OBJECT: return VT_UNKNOWN | array;
    default: return VT_EMPTY;
    }
}

HRESULT ToVariant(const CimValue& value, VARIANT* out) {
    VariantClear(out);
    if (value.null) {
        out->vt = VT_NULL;
        return S_OK;
    }
    VARTYPE vt = VarTypeOf(value.type);
    if (vt == VT_EMPTY) return WBEM_E_TYPE_MISMATCH;
    CIMTYPE base = Base(value.type);
    if (!value.IsArray()) {
        if (value.elements.size() != 1) return WBEM_E_INVALID_OBJECT;
        return ElementTo(value.elements[0], base, vt, out);
    }
    VARTYPE elementVt = vt & ~VT_ARRAY;
    SAFEARRAY* array = SafeArrayCreateVector(elementVt, 0, static_cast<ULONG>(value.elements.size()));
    if (!array) return WBEM_E_OUT_OF_MEMORY;
    for (LONG i = 0; i < static_cast<LONG>(value.elements.size()); ++i) {
        VARIANT element;
        VariantInit(&element);
        HRESULT hr = ElementTo(value.elements[i], base, elementVt, &element);
        if (SUCCEEDED(hr)) {
            void* slot = elementVt == VT_BSTR      ? static_cast<void*>(element.bstrVal)
                         : elementVt == VT_UNKNOWN ? static_cast<void*>(element.punkVal)
                                                   : static_cast<void*>(&element.llVal);
            hr = SafeArrayPutElement(array, &i, slot);
        }
        VariantClear(&element);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    out->vt = vt;
    out->parray = array;
    return S_OK;
}

HRESULT FromVariant(const VARIANT* in, CIMTYPE type, CimValue* out) {
    *out = CimValue::Null(type);
    if (!in || in->vt == VT_NULL || in->vt == VT_EMPTY) return S_OK;
    CIMTYPE base = Base(type);
    if (!(type & CIM_FLAG_ARRAY)) {
        if (in->vt & VT_ARRAY) return WBEM_E_TYPE_MISMATCH;
        CimScalar element;
        HRESULT hr = ElementFrom(in->vt, &in->llVal, base, &element);
        if (FAILED(hr)) return hr;
        out->null = false;
        out->elements.push_back(std::move(element));
        return S_OK;
    }
    if (!(in->vt & VT_ARRAY) || !in->parray || SafeArrayGetDim(in->parray) != 1) return WBEM_E_TYPE_MISMATCH;
    VARTYPE elementVt = in->vt & ~VT_ARRAY;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(in->parray, 1, &lo);
    SafeArrayGetUBound(in->parray, 1, &hi);
    std::vector<CimScalar> elements;
    for (LONG i = lo; i <= hi; ++i) {
        VARIANT element;
        VariantInit(&element);
        void* slot = elementVt == VT_VARIANT ? static_cast<void*>(&element) : static_cast<void*>(&element.llVal);
        HRESULT hr = SafeArrayGetElement(in->parray, &i, slot);
        if (SUCCEEDED(hr)) {
            if (elementVt != VT_VARIANT) element.vt = elementVt;
            CimScalar scalar;
            hr = (element.vt & VT_ARRAY) ? WBEM_E_TYPE_MISMATCH
                                         : ElementFrom(element.vt, &element.llVal, base, &scalar);
            if (SUCCEEDED(hr)) elements.push_back(std::move(scalar));
        }
        VariantClear(&element);
        if (FAILED(hr)) return hr == WBEM_E_TYPE_MISMATCH ? hr : WBEM_E_TYPE_MISMATCH;
    }
    out->null = false;
    out->elements = std::move(elements);
    return S_OK;
}

CIMTYPE CimTypeOfVariant(const VARIANT* in) {
    if (!in) return CIM_EMPTY;
    CIMTYPE array = (in->vt & VT_ARRAY) ? CIM_FLAG_ARRAY : 0;
    switch (in->vt & VT_TYPEMASK) {
    case VT_I1:
    case VT_I2: return CIM_SINT16 | array;
    case VT_UI1: return CIM_UINT8 | array;
    case VT_I4:
    case VT_INT: return CIM_SINT32 | array;
    case VT_UI2:
    case VT_UI4:
    case VT_UINT: return CIM_UINT32 | array;
    case VT_I8: return CIM_SINT64 | array;
    case VT_UI8: return CIM_UINT64 | array;
    case VT_R4: return CIM_REAL32 | array;
    case VT_R8: return CIM_REAL64 | array;
    case VT_BOOL: return CIM_BOOLEAN | array;
    case VT_BSTR: return CIM_STRING | array;
    case VT_UNKNOWN: return CIM_OBJECT | array;
    default: return CIM_EMPTY;
    }
}

}  // namespace qv::wbem
