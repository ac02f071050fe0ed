// The CIM object model behind IWbemClassObject: classes and instances as plain, copyable values.
//
// A class holds every property and method it has, inherited ones included (each remembers the class that
// first declared it); qualifiers carry WMI flavors, and propagated ones are marked WBEM_FLAVOR_ORIGIN_PROPAGATED.
// An instance holds its class's properties with their current values and the qualifiers that propagate to
// instances. Names are compared without regard to case. Objects are not thread-safe; copy to share.
#pragma once

#include "wbemcli.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace qv::wbem {

struct CimObject;

// One element of a value. Per CIM type: boolean -> bool; sint8..sint64 -> int64_t; uint8..uint64, char16
// -> uint64_t; real32/real64 -> double; string, datetime, reference -> std::wstring; object -> the object.
using CimScalar = std::variant<bool, int64_t, uint64_t, double, std::wstring, std::shared_ptr<CimObject>>;

// A typed value: type is a CIMTYPE (with CIM_FLAG_ARRAY for arrays). A scalar holds one element.
struct CimValue {
    CIMTYPE type = CIM_EMPTY;
    bool null = true;
    std::vector<CimScalar> elements;

    static CimValue Null(CIMTYPE t) { return CimValue{t, true, {}}; }
    static CimValue String(const std::wstring& s) { return CimValue{CIM_STRING, false, {s}}; }
    static CimValue Uint(CIMTYPE t, uint64_t v) { return CimValue{t, false, {v}}; }
    static CimValue Sint(CIMTYPE t, int64_t v) { return CimValue{t, false, {v}}; }
    static CimValue Bool(bool v) { return CimValue{CIM_BOOLEAN, false, {v}}; }
    bool IsArray() const { return (type & CIM_FLAG_ARRAY) != 0; }
    bool operator==(const CimValue& other) const;
};

// Deep copy (embedded objects are copied too).
CimValue CopyValue(const CimValue& value);

struct Qualifier {
    std::wstring name;
    CimValue value;
    LONG flavor = WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
    bool operator==(const Qualifier&) const = default;
};
using QualifierList = std::vector<Qualifier>;

struct Property {
    std::wstring name;
    CIMTYPE type = CIM_STRING;
    CimValue value;  // default (class) or current value (instance); null when unset
    QualifierList qualifiers;
    std::wstring origin;  // the class that first declared it
    bool operator==(const Property&) const = default;
};

struct Method {
    std::wstring name;
    std::shared_ptr<CimObject> in;   // a "__PARAMETERS" class, or null when the method takes nothing in
    std::shared_ptr<CimObject> out;  // a "__PARAMETERS" class, or null when nothing comes out
    QualifierList qualifiers;
    std::wstring origin;
    bool operator==(const Method& other) const;
};

struct CimObject {
    LONG genus = WBEM_GENUS_CLASS;
    std::wstring className;
    std::wstring superclass;               // empty for a root class
    std::vector<std::wstring> derivation;  // superclass first, the root class last
    QualifierList qualifiers;
    std::vector<Property> properties;
    std::vector<Method> methods;  // classes only
    std::wstring nameSpace;       // set once the object came from or went to a repository
    std::wstring server;

    bool IsClass() const { return genus == WBEM_GENUS_CLASS; }
    bool operator==(const CimObject& other) const;
};

// Lookups by name without regard to case; null when absent.
bool NamesEqual(const std::wstring& a, const std::wstring& b);
std::wstring LowerName(const std::wstring& name);
Property* FindProperty(CimObject& object, const std::wstring& name);
const Property* FindProperty(const CimObject& object, const std::wstring& name);
Qualifier* FindQualifier(QualifierList& list, const std::wstring& name);
const Qualifier* FindQualifier(const QualifierList& list, const std::wstring& name);
Method* FindMethod(CimObject& object, const std::wstring& name);
const Method* FindMethod(const CimObject& object, const std::wstring& name);

// A new class derived from `base`: properties, methods and the qualifiers that propagate to subclasses,
// marked as propagated. `name` is the new class's name (may be empty until Put sets __CLASS).
CimObject DeriveClass(const CimObject& base, const std::wstring& name);
// Whether `object` is of class `name` or derives from it.
bool IsA(const CimObject& object, const std::wstring& name);
// A new instance of `cls`: its properties with their defaults and the qualifiers that propagate to instances.
CimObject SpawnInstanceOf(const CimObject& cls);

// The flavor a qualifier gets when its declaration names none: "abstract" is never inherited; "key" and
// "CIMTYPE" also reach instances; every other qualifier reaches subclasses only.
LONG DefaultFlavor(const std::wstring& qualifierName);

// Whether the (class-level) qualifier `name` is present and true.
bool HasTrueQualifier(const QualifierList& list, const std::wstring& name);

// Key properties of a class or instance (qualifier "key" true), in declaration order.
std::vector<const Property*> KeyProperties(const CimObject& object);

// __RELPATH: a class's name; Class.Key1="v",Key2=3 for an instance with keys; Class=@ for a singleton
// instance without keys. Empty for an instance whose keys are not all set.
std::wstring RelativePath(const CimObject& object);
// __PATH: \\server\namespace:relpath; empty when the object has no namespace or relpath.
std::wstring FullPath(const CimObject& object);

// Whether `value` may be stored in a property of type `type` (same CIMTYPE, or a null value).
bool ValueFitsType(const CimValue& value, CIMTYPE type);

// The CIM type name of `type` as MOF writes it ("uint32", "string", "object"...), without array brackets.
std::wstring CimTypeName(CIMTYPE type);
// The same as static text, or null for a type that is not a CIM type (for checks that must not allocate).
const wchar_t* CimTypeKeyword(CIMTYPE type);

}  // namespace qv::wbem
