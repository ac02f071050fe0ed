// IWbemClassObject and IWbemQualifierSet over the plain CIM object model.
//
// A class object owns its CimObject; qualifier sets it hands out keep the object alive and see its changes.
// Objects are meant for one thread at a time, as WMI's are.
#pragma once

#include "qv_cim_object.h"

namespace qv::wbem {

// A new object (reference count 1) holding a copy of `object`. Never null.
IWbemClassObject* CreateClassObject(const CimObject& object);
// The same without a copy: the new object takes `object` over.
IWbemClassObject* CreateClassObject(CimObject&& object);

// The CIM data inside one of our objects, or null when `object` is not one of ours (or null). The pointer
// stays valid while the caller holds a reference to the object.
CimObject* CimObjectOf(IUnknown* object);

// Object text as GetObjectText writes it: MOF for a class ("class X : Y { ... };") or an instance
// ("instance of X { ... };"). Qualifiers propagated from elsewhere are left out, so that compiling the
// text again gives the same object. An instance lists every property, NULL ones included, since its class
// may have a default where the instance has none.
std::wstring ObjectText(const CimObject& object, LONG flags = 0);

// A value in MOF syntax ("text" with escapes, numbers, TRUE/FALSE, {arrays}, NULL, instance of ...).
std::wstring ValueText(const CimValue& value);

}  // namespace qv::wbem
