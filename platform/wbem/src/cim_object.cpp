// Plain CIM objects: comparison, derivation, instance spawning and paths.
#include "qv_cim_object.h"

#include "qv_object_path.h"

#include <algorithm>
#include <cwctype>

namespace qv::wbem {

namespace {

bool ScalarEqual(const CimScalar& a, const CimScalar& b) {
    if (a.index() != b.index()) return false;
    if (auto* pa = std::get_if<std::shared_ptr<CimObject>>(&a)) {
        const auto& pb = std::get<std::shared_ptr<CimObject>>(b);
        if (!*pa || !pb) return !*pa && !pb;
        return **pa == *pb;
    }
    return a == b;
}

bool SignatureEqual(const std::shared_ptr<CimObject>& a, const std::shared_ptr<CimObject>& b) {
    if (!a || !b) return !a && !b;
    return *a == *b;
}

QualifierList Propagate(const QualifierList& list, LONG needed) {
    QualifierList result;
    for (const Qualifier& q : list) {
        if (!(q.flavor & needed)) continue;
        Qualifier copy = q;
        copy.value = CopyValue(q.value);
        copy.flavor |= WBEM_FLAVOR_ORIGIN_PROPAGATED;
        result.push_back(std::move(copy));
    }
    return result;
}

}  // namespace

bool CimValue::operator==(const CimValue& other) const {
    if (type != other.type || null != other.null) return false;
    if (null) return true;
    if (elements.size() != other.elements.size()) return false;
    for (size_t i = 0; i < elements.size(); ++i)
        if (!ScalarEqual(elements[i], other.elements[i])) return false;
    return true;
}

CimValue CopyValue(const CimValue& value) {
    CimValue copy = value;
    for (CimScalar& e : copy.elements)
        if (auto* p = std::get_if<std::shared_ptr<CimObject>>(&e); p && *p) *p = std::make_shared<CimObject>(**p);
    return copy;
}

bool Method::operator==(const Method& other) const {
    return NamesEqual(name, other.name) && SignatureEqual(in, other.in) && SignatureEqual(out, other.out) &&
           qualifiers == other.qualifiers && origin == other.origin;
}

bool CimObject::operator==(const CimObject& other) const {
    return genus == other.genus && className == other.className && superclass == other.superclass &&
           derivation == other.derivation && qualifiers == other.qualifiers && properties == other.properties &&
           methods == other.methods;
}

bool NamesEqual(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

std::wstring LowerName(const std::wstring& name) {
    std::wstring lower = name;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    return lower;
}

template <typename List>
static auto FindByName(List& list, const std::wstring& name) -> decltype(&list[0]) {
    for (auto& item : list)
        if (NamesEqual(item.name, name)) return &item;
    return nullptr;
}

Property* FindProperty(CimObject& o, const std::wstring& n) { return FindByName(o.properties, n); }
const Property* FindProperty(const CimObject& o, const std::wstring& n) { return FindByName(o.properties, n); }
Qualifier* FindQualifier(QualifierList& l, const std::wstring& n) { return FindByName(l, n); }
const Qualifier* FindQualifier(const QualifierList& l, const std::wstring& n) { return FindByName(l, n); }
Method* FindMethod(CimObject& o, const std::wstring& n) { return FindByName(o.methods, n); }
const Method* FindMethod(const CimObject& o, const std::wstring& n) { return FindByName(o.methods, n); }

bool IsA(const CimObject& object, const std::wstring& name) {
    if (NamesEqual(object.className, name)) return true;
    for (const std::wstring& d : object.derivation)
        if (NamesEqual(d, name)) return true;
    return false;
}

CimObject DeriveClass(const CimObject& base, const std::wstring& name) {
    CimObject derived;
    derived.genus = WBEM_GENUS_CLASS;
    derived.className = name;
    derived.superclass = base.className;
    derived.derivation.push_back(base.className);
    derived.derivation.insert(derived.derivation.end(), base.derivation.begin(), base.derivation.end());
    derived.qualifiers = Propagate(base.qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
    for (const Property& p : base.properties) {
        Property copy = p;
        copy.value = CopyValue(p.value);
        copy.qualifiers = Propagate(p.qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
        derived.properties.push_back(std::move(copy));
    }
    for (const Method& m : base.methods) {
        Method copy = m;
        if (m.in) copy.in = std::make_shared<CimObject>(*m.in);
        if (m.out) copy.out = std::make_shared<CimObject>(*m.out);
        copy.qualifiers = Propagate(m.qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
        derived.methods.push_back(std::move(copy));
    }
    derived.nameSpace = base.nameSpace;
    derived.server = base.server;
    return derived;
}

CimObject SpawnInstanceOf(const CimObject& cls) {
    CimObject instance;
    instance.genus = WBEM_GENUS_INSTANCE;
    instance.className = cls.className;
    instance.superclass = cls.superclass;
    instance.derivation = cls.derivation;
    instance.qualifiers = Propagate(cls.qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE);
    for (const Property& p : cls.properties) {
        Property copy = p;
        copy.value = CopyValue(p.value);
        copy.qualifiers = Propagate(p.qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE);
        instance.properties.push_back(std::move(copy));
    }
    instance.nameSpace = cls.nameSpace;
    instance.server = cls.server;
    return instance;
}

LONG DefaultFlavor(const std::wstring& name) {
    if (NamesEqual(name, L"abstract")) return WBEM_FLAVOR_DONT_PROPAGATE;
    if (NamesEqual(name, L"key") || NamesEqual(name, L"CIMTYPE"))
        return WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
    return WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
}

bool HasTrueQualifier(const QualifierList& list, const std::wstring& name) {
    const Qualifier* q = FindQualifier(list, name);
    if (!q || q->value.null || q->value.elements.empty()) return false;
    const bool* b = std::get_if<bool>(&q->value.elements[0]);
    return b && *b;
}

std::vector<const Property*> KeyProperties(const CimObject& object) {
    std::vector<const Property*> keys;
    for (const Property& p : object.properties)
        if (HasTrueQualifier(p.qualifiers, L"key")) keys.push_back(&p);
    return keys;
}

std::wstring RelativePath(const CimObject& object) {
    if (object.IsClass()) return object.className;
    ObjectPath path;
    path.className = object.className;
    auto keys = KeyProperties(object);
    if (keys.empty()) {
        path.singleton = true;
        return path.RelativeText();
    }
    for (const Property* key : keys) {
        if (key->value.null || key->value.IsArray() || key->value.elements.empty()) return L"";
        path.keys.push_back({key->name, key->value});
    }
    return path.RelativeText();
}

std::wstring FullPath(const CimObject& object) {
    std::wstring rel = RelativePath(object);
    if (object.nameSpace.empty() || rel.empty()) return L"";
    return L"\\\\" + object.server + L"\\" + object.nameSpace + L":" + rel;
}

bool ValueFitsType(const CimValue& value, CIMTYPE type) {
    if (value.null) return true;
    return value.type == type;
}

const wchar_t* CimTypeKeyword(CIMTYPE type) {
    switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8: return L"sint8";
    case CIM_UINT8: return L"uint8";
    case CIM_SINT16: return L"sint16";
    case CIM_UINT16: return L"uint16";
    case CIM_SINT32: return L"sint32";
    case CIM_UINT32: return L"uint32";
    case CIM_SINT64: return L"sint64";
    case CIM_UINT64: return L"uint64";
    case CIM_REAL32: return L"real32";
    case CIM_REAL64: return L"real64";
    case CIM_BOOLEAN: return L"boolean";
    case CIM_STRING: return L"string";
    case CIM_DATETIME: return L"datetime";
    case CIM_REFERENCE: return L"ref";
    case CIM_CHAR16: return L"char16";
    case CIM_OBJECT: return L"object";
    default: return nullptr;
    }
}

std::wstring CimTypeName(CIMTYPE type) {
    const wchar_t* keyword = CimTypeKeyword(type);
    return keyword != nullptr ? keyword : L"";
}

}  // namespace qv::wbem
