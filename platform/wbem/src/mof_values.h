// MOF literals against the CIM types they are assigned to.
//
// Each literal form is checked against the limits of its target type: integers (any base, either sign) must
// lie in the type's range (char16: 0 to 0xFFFF; "-0" is 0 for every type); an integer given to a real type
// becomes the nearest value of that type. A real literal is rounded once, from its text, to the nearest
// value of the target type (real32 or real64), subnormal values included; only a literal whose magnitude
// rounds past the type's largest finite value is refused. Char literals fit char16 when they are in the
// Basic Multilingual Plane and are also accepted as one-character strings. Strings fit string, datetime
// (when they are DMTF datetime or interval texts) and reference (when they parse as object paths).
#pragma once

#include "mof_parser.h"
#include "qv_cim_object.h"

#include <string>

namespace qv::wbem::mof {

// Whether an integer literal of this sign and magnitude lies in the range of an integer type or char16.
bool IntegerFits(CIMTYPE type, bool negative, uint64_t magnitude);

// Converts an integer, real, boolean, char or string literal to one element of the scalar `type`. False when
// it cannot, with *code (WBEM_E_VALUE_OUT_OF_RANGE, WBEM_E_TYPE_MISMATCH, WBEM_E_INVALID_OBJECT_PATH) and
// *reason (to follow "value of 'X' ", e.g. "out of range for uint8").
bool ConvertLiteral(const Value& literal, CIMTYPE type, CimScalar* out, HRESULT* code, std::string* reason);

}  // namespace qv::wbem::mof
