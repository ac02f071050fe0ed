// CIM values <-> VARIANTs with WMI's conventions:
//   sint8, sint16, char16 -> VT_I2; uint8 -> VT_UI1; uint16, sint32, uint32 -> VT_I4; sint64, uint64 -> VT_BSTR
//   (decimal text); real32 -> VT_R4; real64 -> VT_R8; boolean -> VT_BOOL; string, datetime, reference ->
//   VT_BSTR; object -> VT_UNKNOWN (an IWbemClassObject); arrays -> VT_ARRAY|that in a one-dimensional
//   SAFEARRAY; a null value -> VT_NULL.
#pragma once

#include "qv_cim_object.h"

namespace qv::wbem {

// The VARTYPE a value of `type` travels as.
VARTYPE VarTypeOf(CIMTYPE type);

// Fills *out (initialised by the caller, cleared here) with a fresh VARIANT the caller owns.
HRESULT ToVariant(const CimValue& value, VARIANT* out);

// Converts a VARIANT into a value of `type`. Integers of any width are accepted when in range, 64-bit
// integers also as decimal text; datetime text must have the DMTF form. VT_NULL/VT_EMPTY or a null pointer
// give a null value. WBEM_E_TYPE_MISMATCH when the VARIANT cannot be such a value.
HRESULT FromVariant(const VARIANT* in, CIMTYPE type, CimValue* out);

// The CIM type a VARIANT naturally carries (used when a class gains a property without an explicit type).
CIMTYPE CimTypeOfVariant(const VARIANT* in);

// Whether `text` is a DMTF datetime or interval ("yyyymmddHHMMSS.mmmmmmsUUU" / "ddddddddHHMMSS.mmmmmm:000")
// with every field in its range (month 01-12, day 01-31, hour 00-23, minute and second 00-59, UUU the UTC
// offset in minutes). A field written as asterisks is not significant; microseconds may end in asterisks.
bool IsDmtfDatetime(const std::wstring& text);

}  // namespace qv::wbem
