// GetObjectText: classes and instances written as MOF that the compiler reads back into the same object.
#include "qv_class_object.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace qv::wbem {

namespace {

std::wstring StringLiteral(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        switch (c) {
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        case L'\b': out += L"\\b"; break;
        case L'\f': out += L"\\f"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                wchar_t buf[16];
                std::swprintf(buf, 16, L"\\x%04X", static_cast<unsigned>(c));
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out + L"\"";
}

std::wstring RealText(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    std::string s = buf;
    if (s.find_first_of(".eEni") == std::string::npos) s += ".0";
    return std::wstring(s.begin(), s.end());
}

std::wstring ScalarText(const CimScalar& e, const std::wstring& indent) {
    if (auto* s = std::get_if<std::wstring>(&e)) return StringLiteral(*s);
    if (auto* b = std::get_if<bool>(&e)) return *b ? L"TRUE" : L"FALSE";
    if (auto* i = std::get_if<int64_t>(&e)) return std::to_wstring(*i);
    if (auto* u = std::get_if<uint64_t>(&e)) return std::to_wstring(*u);
    if (auto* d = std::get_if<double>(&e)) return RealText(*d);
    const auto& object = std::get<std::shared_ptr<CimObject>>(e);
    if (!object) return L"NULL";
    std::wstring text = ObjectText(*object);
    // Nested instance: drop the trailing ";\n" and indent its lines.
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, L";\n") == 0) text.resize(text.size() - 2);
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (c == L'\n') out += indent;
    }
    return out;
}

std::wstring ValueTextIndented(const CimValue& value, const std::wstring& indent) {
    if (value.null) return L"NULL";
    if (!value.IsArray()) return value.elements.empty() ? L"NULL" : ScalarText(value.elements[0], indent);
    std::wstring out = L"{";
    for (size_t i = 0; i < value.elements.size(); ++i) {
        if (i) out += L", ";
        out += ScalarText(value.elements[i], indent);
    }
    return out + L"}";
}

std::wstring FlavorText(const Qualifier& q) {
    std::wstring out;
    auto add = [&out](const wchar_t* word) {
        out += out.empty() ? std::wstring(L": ") + word : std::wstring(L" ") + word;
    };
    LONG usual = DefaultFlavor(q.name);
    if ((q.flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE) && !(usual & WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE))
        add(L"ToInstance");
    if ((q.flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS) &&
        !(usual & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS))
        add(L"ToSubclass");
    if (!(q.flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS) &&
        (usual & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS))
        add(L"Restricted");
    if (q.flavor & WBEM_FLAVOR_NOT_OVERRIDABLE) add(L"DisableOverride");
    if (q.flavor & WBEM_FLAVOR_AMENDED) add(L"Amended");
    return out;
}

// "[a, b(1): ToInstance] " for the local qualifiers; empty when there are none. CIMTYPE is implied by the
// declaration and never written.
// A local integer MAX on an array is written as the declared size instead (skipMax).
bool IsSizeQualifier(const Qualifier& q) {
    return NamesEqual(q.name, L"MAX") && !(q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) && !q.value.null &&
           !q.value.IsArray() && std::holds_alternative<int64_t>(q.value.elements[0]) &&
           q.flavor == WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
}

std::wstring QualifiersText(const QualifierList& list, LONG flags, bool includePropagated = false,
                            bool skipMax = false) {
    std::wstring out;
    for (const Qualifier& q : list) {
        if (!includePropagated && (q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED)) continue;
        if (NamesEqual(q.name, L"CIMTYPE")) continue;
        if (skipMax && IsSizeQualifier(q)) continue;
        out += out.empty() ? L"[" : L", ";
        out += q.name;
        bool isTrue = !q.value.null && q.value.type == CIM_BOOLEAN && std::get<bool>(q.value.elements[0]);
        if (q.value.IsArray())
            out += ValueTextIndented(q.value, L"");
        else if (!isTrue)
            out += L"(" + ValueTextIndented(q.value, L"") + L")";
        if (!(flags & WBEM_FLAG_NO_FLAVORS)) {
            std::wstring flavor = FlavorText(q);
            out += flavor;
        }
    }
    return out.empty() ? out : out + L"] ";
}

// "uint32", "string", "Class ref", "object" with the class named by the CIMTYPE qualifier where it has one.
std::wstring TypeText(CIMTYPE type, const QualifierList& qualifiers) {
    CIMTYPE base = type & ~CIM_FLAG_ARRAY;
    if (base == CIM_REFERENCE || base == CIM_OBJECT) {
        const Qualifier* q = FindQualifier(qualifiers, L"CIMTYPE");
        std::wstring target;
        if (q && !q->value.null && !q->value.IsArray()) {
            const std::wstring& text = std::get<std::wstring>(q->value.elements[0]);
            size_t colon = text.find(L':');
            if (colon != std::wstring::npos) target = text.substr(colon + 1);
        }
        if (base == CIM_REFERENCE) return (target.empty() ? L"object" : target) + L" ref";
        return target.empty() ? L"object" : target;
    }
    return CimTypeName(base);
}

std::wstring ArraySuffix(const Property& p) {
    if (!(p.type & CIM_FLAG_ARRAY)) return L"";
    const Qualifier* max = FindQualifier(p.qualifiers, L"MAX");
    if (max && IsSizeQualifier(*max)) return L"[" + std::to_wstring(std::get<int64_t>(max->value.elements[0])) + L"]";
    return L"[]";
}

bool IsLocalOrChanged(const Property& p, const std::wstring& className) {
    if (NamesEqual(p.origin, className)) return true;
    if (!p.value.null) return true;
    for (const Qualifier& q : p.qualifiers)
        if (!(q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED)) return true;
    return false;
}

std::wstring ParameterList(const Method& m, LONG flags) {
    struct Param {
        const Property* in = nullptr;
        const Property* out = nullptr;
        int64_t id = 0;
    };
    std::vector<Param> params;
    auto idOf = [](const Property& p) -> int64_t {
        const Qualifier* q = FindQualifier(p.qualifiers, L"ID");
        if (q && !q->value.null && std::holds_alternative<int64_t>(q->value.elements[0]))
            return std::get<int64_t>(q->value.elements[0]);
        return INT64_MAX;
    };
    auto addFrom = [&](const std::shared_ptr<CimObject>& sig, bool isIn) {
        if (!sig) return;
        for (const Property& p : sig->properties) {
            if (NamesEqual(p.name, L"ReturnValue")) continue;
            Param* found = nullptr;
            for (Param& existing : params) {
                const Property* e = existing.in ? existing.in : existing.out;
                if (NamesEqual(e->name, p.name)) found = &existing;
            }
            if (!found) {
                params.push_back({});
                found = &params.back();
                found->id = idOf(p);
            }
            (isIn ? found->in : found->out) = &p;
        }
    };
    addFrom(m.in, true);
    addFrom(m.out, false);
    std::stable_sort(params.begin(), params.end(), [](const Param& a, const Param& b) { return a.id < b.id; });
    std::wstring out;
    for (size_t i = 0; i < params.size(); ++i) {
        const Property& p = params[i].in ? *params[i].in : *params[i].out;
        // A parameter that is both in and out carries the union of both sides' qualifiers.
        QualifierList qualifiers = p.qualifiers;
        if (params[i].in && params[i].out) {
            for (const Qualifier& q : params[i].out->qualifiers)
                if (!FindQualifier(qualifiers, q.name)) qualifiers.push_back(q);
        }
        if (i) out += L", ";
        out += QualifiersText(qualifiers, flags, true, p.type & CIM_FLAG_ARRAY) + TypeText(p.type, p.qualifiers) +
               L" " + p.name + ArraySuffix(p);
        if (!p.value.null) out += L" = " + ValueTextIndented(p.value, L"\t");
    }
    return out;
}

std::wstring ClassText(const CimObject& o, LONG flags) {
    std::wstring out;
    std::wstring q = QualifiersText(o.qualifiers, flags);
    if (!q.empty()) out += q.substr(0, q.size() - 1) + L"\n";
    out += L"class " + o.className;
    if (!o.superclass.empty()) out += L" : " + o.superclass;
    out += L"\n{\n";
    for (const Property& p : o.properties) {
        if (!IsLocalOrChanged(p, o.className)) continue;
        out += L"\t" + QualifiersText(p.qualifiers, flags, false, p.type & CIM_FLAG_ARRAY) +
               TypeText(p.type, p.qualifiers) + L" " + p.name + ArraySuffix(p);
        if (!p.value.null) out += L" = " + ValueTextIndented(p.value, L"\t");
        out += L";\n";
    }
    for (const Method& m : o.methods) {
        bool local = NamesEqual(m.origin, o.className);
        bool hasLocalQualifier = false;
        for (const Qualifier& mq : m.qualifiers)
            if (!(mq.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED)) hasLocalQualifier = true;
        if (!local && !hasLocalQualifier) continue;
        const Property* ret = m.out ? FindProperty(*m.out, L"ReturnValue") : nullptr;
        std::wstring returnType = ret ? TypeText(ret->type, ret->qualifiers) : L"void";
        out += L"\t" + QualifiersText(m.qualifiers, flags) + returnType + L" " + m.name + L"(" +
               ParameterList(m, flags) + L");\n";
    }
    return out + L"};\n";
}

std::wstring InstanceText(const CimObject& o, LONG flags) {
    std::wstring out;
    std::wstring q = QualifiersText(o.qualifiers, flags);
    if (!q.empty()) out += q.substr(0, q.size() - 1) + L"\n";
    out += L"instance of " + o.className + L"\n{\n";
    for (const Property& p : o.properties) {
        out += L"\t" + QualifiersText(p.qualifiers, flags) + p.name + L" = " + ValueTextIndented(p.value, L"\t") +
               L";\n";
    }
    return out + L"};\n";
}

}  // namespace

std::wstring ValueText(const CimValue& value) { return ValueTextIndented(value, L""); }

std::wstring ObjectText(const CimObject& object, LONG flags) {
    return object.IsClass() ? ClassText(object, flags) : InstanceText(object, flags);
}

}  // namespace qv::wbem
