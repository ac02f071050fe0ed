// MOF literals converted to CIM values within the limits of their types.
#include "mof_values.h"

#include "qv_cim_variant.h"
#include "qv_object_path.h"
#include "qv_system_root.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>

namespace qv::wbem::mof {

namespace {

struct IntegerRange {
    CIMTYPE type;
    uint64_t maxPositive;
    uint64_t maxNegative;  // magnitude of the most negative value
};

constexpr IntegerRange kIntegerRanges[] = {
    {CIM_UINT8, UINT8_MAX, 0},
    {CIM_UINT16, UINT16_MAX, 0},
    {CIM_UINT32, UINT32_MAX, 0},
    {CIM_UINT64, UINT64_MAX, 0},
    {CIM_CHAR16, UINT16_MAX, 0},
    {CIM_SINT8, INT8_MAX, uint64_t{1} << 7},
    {CIM_SINT16, INT16_MAX, uint64_t{1} << 15},
    {CIM_SINT32, INT32_MAX, uint64_t{1} << 31},
    {CIM_SINT64, INT64_MAX, uint64_t{1} << 63},
};

const IntegerRange* RangeOf(CIMTYPE type) {
    for (const IntegerRange& r : kIntegerRanges)
        if (r.type == type) return &r;
    return nullptr;
}

bool IsSigned(CIMTYPE type) {
    return type == CIM_SINT8 || type == CIM_SINT16 || type == CIM_SINT32 || type == CIM_SINT64;
}

std::string TypeName(CIMTYPE type) { return qv::win::ToUtf8(CimTypeName(type)); }

bool OutOfRange(CIMTYPE type, HRESULT* code, std::string* reason) {
    *code = WBEM_E_VALUE_OUT_OF_RANGE;
    *reason = "out of range for " + TypeName(type);
    return false;
}

bool Mismatch(CIMTYPE type, HRESULT* code, std::string* reason) {
    *code = WBEM_E_TYPE_MISMATCH;
    *reason = "does not fit type " + TypeName(type);
    return false;
}

// Real literals are read in the "C" locale whatever the process's locale is.
locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

// The literal rounded to the nearest value of real32 or real64; false when it overflows the type.
bool RoundReal(const std::wstring& literal, CIMTYPE type, double* out) {
    std::string text = qv::win::ToUtf8(literal);
    errno = 0;
    char* end = nullptr;
    if (type == CIM_REAL32) {
        float value = strtof_l(text.c_str(), &end, CLocale());
        if (errno == ERANGE && std::isinf(value)) return false;
        *out = value;
    } else {
        double value = strtod_l(text.c_str(), &end, CLocale());
        if (errno == ERANGE && std::isinf(value)) return false;
        *out = value;
    }
    // Underflow (ERANGE with a subnormal or zero result) is rounding, not an error.
    return end != nullptr && *end == '\0';
}

}  // namespace

bool IntegerFits(CIMTYPE type, bool negative, uint64_t magnitude) {
    const IntegerRange* range = RangeOf(type);
    if (!range) return false;
    return magnitude <= (negative && magnitude != 0 ? range->maxNegative : range->maxPositive);
}

bool ConvertLiteral(const Value& v, CIMTYPE t, CimScalar* out, HRESULT* code, std::string* reason) {
    switch (v.kind) {
    case Value::Kind::Integer:
        if (t == CIM_REAL32 || t == CIM_REAL64) {
            // Rounded once, from the integer to the target type (through double first, a real32 could land
            // on the wrong side of a tie).
            double value = t == CIM_REAL32 ? static_cast<double>(static_cast<float>(v.magnitude))
                                           : static_cast<double>(v.magnitude);
            *out = v.negative ? -value : value;
            return true;
        }
        if (!RangeOf(t)) return Mismatch(t, code, reason);
        if (!IntegerFits(t, v.negative, v.magnitude)) return OutOfRange(t, code, reason);
        if (IsSigned(t))
            *out = v.negative ? static_cast<int64_t>(0 - v.magnitude) : static_cast<int64_t>(v.magnitude);
        else
            *out = v.magnitude;
        return true;
    case Value::Kind::Real: {
        if (t != CIM_REAL32 && t != CIM_REAL64) return Mismatch(t, code, reason);
        double value = 0;
        if (!RoundReal(v.text, t, &value)) return OutOfRange(t, code, reason);
        *out = value;
        return true;
    }
    case Value::Kind::Bool:
        if (t != CIM_BOOLEAN) return Mismatch(t, code, reason);
        *out = v.boolean;
        return true;
    case Value::Kind::Char:
        if (t == CIM_CHAR16) {
            if (v.magnitude > UINT16_MAX) return OutOfRange(t, code, reason);
            *out = v.magnitude;
            return true;
        }
        if (t == CIM_STRING) {
            *out = v.text;
            return true;
        }
        return Mismatch(t, code, reason);
    case Value::Kind::String:
        if (t == CIM_STRING) {
            *out = v.text;
            return true;
        }
        if (t == CIM_DATETIME) {
            if (!IsDmtfDatetime(v.text)) {
                *code = WBEM_E_TYPE_MISMATCH;
                *reason = "is not a DMTF datetime (yyyymmddhhmmss.mmmmmmsutc or ddddddddhhmmss.mmmmmm:000)";
                return false;
            }
            *out = v.text;
            return true;
        }
        if (t == CIM_REFERENCE) {
            if (!ParseObjectPath(v.text)) {
                *code = WBEM_E_INVALID_OBJECT_PATH;
                *reason = "is not an object path";
                return false;
            }
            *out = v.text;
            return true;
        }
        return Mismatch(t, code, reason);
    default: return Mismatch(t, code, reason);
    }
}

}  // namespace qv::wbem::mof
