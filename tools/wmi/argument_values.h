// Method arguments given on the command line ("Name=Value") turned into VARIANTs of the parameter's CIM type,
// with WMI's conventions (uint32 as VT_I4, 64-bit integers as text, booleans as VT_BOOL, arrays from
// comma-separated values).
#pragma once

#include "wbemcli.h"

#include <string>

namespace qv::wmi {

// Converts `text` to a VARIANT for a parameter of `type`. On failure returns the WMI code to report
// (WBEM_E_TYPE_MISMATCH for text that is not a value of the type, WBEM_E_VALUE_OUT_OF_RANGE for numbers out of
// range, WBEM_E_NOT_SUPPORTED for embedded objects) and leaves `value` empty.
HRESULT ArgumentValue(const std::wstring& text, CIMTYPE type, VARIANT* value);

}  // namespace qv::wmi
