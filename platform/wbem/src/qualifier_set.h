// IWbemQualifierSet over one qualifier list of a class object: the object's own, a property's or a method's.
#pragma once

#include "qv_cim_object.h"

#include <memory>

namespace qv::wbem {

enum class QualifierTarget { Object, Property, Method };

// The set resolves its list on every call, so that it keeps working while the object changes; a call after
// the property or method was deleted answers WBEM_E_NOT_FOUND. `owner` is held (AddRef) for the set's life.
IWbemQualifierSet* CreateQualifierSet(IUnknown* owner, CimObject* object, QualifierTarget target,
                                      const std::wstring& name);

// Converts a VARIANT into a qualifier value (sint32, real64, boolean, string, or arrays of them).
HRESULT QualifierValueFromVariant(const VARIANT* in, CimValue* out);

}  // namespace qv::wbem
