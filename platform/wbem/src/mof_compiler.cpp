// Applying parsed MOF to a repository: types, qualifiers, inheritance, values, aliases and pragmas.
#include "qv_mof_compiler.h"

#include "mof_parser.h"
#include "qv_cim_variant.h"
#include "qv_object_path.h"
#include "qv_system_root.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace qv::wbem {

namespace {

using namespace mof;

struct Error {
    int line;
    HRESULT code;
    std::string reason;
};

std::string Q(const std::wstring& name) { return "'" + qv::win::ToUtf8(name) + "'"; }

[[noreturn]] void Fail(int line, HRESULT code, const std::string& reason) { throw Error{line, code, reason}; }

CIMTYPE ScalarTypeByName(const std::wstring& name) {
    static const std::pair<const wchar_t*, CIMTYPE> table[] = {
        {L"string", CIM_STRING},     {L"boolean", CIM_BOOLEAN}, {L"uint8", CIM_UINT8},   {L"sint8", CIM_SINT8},
        {L"uint16", CIM_UINT16},     {L"sint16", CIM_SINT16},   {L"uint32", CIM_UINT32}, {L"sint32", CIM_SINT32},
        {L"uint64", CIM_UINT64},     {L"sint64", CIM_SINT64},   {L"real32", CIM_REAL32}, {L"real64", CIM_REAL64},
        {L"datetime", CIM_DATETIME}, {L"char16", CIM_CHAR16},   {L"object", CIM_OBJECT}};
    for (const auto& [n, t] : table)
        if (NamesEqual(n, name)) return t;
    return CIM_EMPTY;
}

bool InRange(CIMTYPE t, bool negative, uint64_t magnitude) {
    switch (t) {
    case CIM_UINT8: return !negative && magnitude <= UINT8_MAX;
    case CIM_UINT16:
    case CIM_CHAR16: return !negative && magnitude <= UINT16_MAX;
    case CIM_UINT32: return !negative && magnitude <= UINT32_MAX;
    case CIM_UINT64: return !negative;
    case CIM_SINT8: return magnitude <= (negative ? 128u : 127u);
    case CIM_SINT16: return magnitude <= (negative ? 32768u : 32767u);
    case CIM_SINT32: return magnitude <= (negative ? 2147483648u : 2147483647u);
    case CIM_SINT64: return magnitude <= (negative ? 9223372036854775808u : 9223372036854775807u);
    default: return false;
    }
}

class Compiler {
public:
    Compiler(Repository& repository, const MofOptions& options, MofResult* result)
        : repo_(repository), options_(options), result_(result), ns_(NormalizeNamespace(options.defaultNamespace)) {}

    void Run(const std::vector<Statement>& statements) {
        for (const Statement& s : statements) {
            switch (s.kind) {
            case Statement::Kind::Pragma: PragmaStatement(s.pragma); break;
            case Statement::Kind::Class: ClassStatement(*s.cls); break;
            case Statement::Kind::Instance: InstanceStatement(*s.instance); break;
            }
        }
    }

private:
    // --- pragmas ---
    std::wstring PragmaText(const Pragma& p, size_t index) {
        if (index >= p.arguments.size())
            Fail(p.line, WBEM_E_INVALID_SYNTAX, "#pragma " + qv::win::ToUtf8(p.name) + " needs an argument");
        return p.arguments[index].text;
    }

    void PragmaStatement(const Pragma& p) {
        if (p.name == L"namespace") {
            std::wstring target = PragmaText(p, 0);
            std::wstring absolute;
            bool fromServer = target.size() >= 2 && (target[0] == L'\\' || target[0] == L'/');
            bool fromRoot = NamesEqual(target.substr(0, 4), L"root") &&
                            (target.size() == 4 || target[4] == L'\\' || target[4] == L'/');
            if (fromServer || fromRoot)
                absolute = NormalizeNamespace(target);
            else
                absolute = ns_ + L"\\" + NormalizeNamespace(target);
            if (absolute.empty() || !repo_.NamespaceExists(absolute))
                Fail(p.line, WBEM_E_INVALID_NAMESPACE, "namespace " + Q(target) + " does not exist");
            ns_ = absolute;
        } else if (p.name == L"classflags" || p.name == L"instanceflags") {
            LONG flags = 0;
            for (size_t i = 0; i < p.arguments.size(); ++i) {
                std::wstring f = LowerName(p.arguments[i].text);
                if (f == L"forceupdate")
                    flags |= WBEM_FLAG_UPDATE_FORCE_MODE;
                else if (f == L"safeupdate")
                    flags |= WBEM_FLAG_UPDATE_SAFE_MODE;
                else if (f == L"updateonly")
                    flags |= WBEM_FLAG_UPDATE_ONLY;
                else if (f == L"createonly")
                    flags |= WBEM_FLAG_CREATE_ONLY;
                else
                    Fail(p.line, WBEM_E_INVALID_PARAMETER, "unknown flag " + Q(p.arguments[i].text));
            }
            if ((flags & WBEM_FLAG_UPDATE_ONLY) && (flags & WBEM_FLAG_CREATE_ONLY))
                Fail(p.line, WBEM_E_INVALID_PARAMETER, "'updateonly' and 'createonly' exclude each other");
            (p.name == L"classflags" ? classFlags_ : instanceFlags_) = flags;
        } else if (p.name == L"deleteclass") {
            std::wstring name = PragmaText(p, 0);
            bool mustExist = p.arguments.size() < 2 || !NamesEqual(p.arguments[1].text, L"NOFAIL");
            HRESULT hr = repo_.DeleteClass(ns_, name);
            if (hr == WBEM_E_NOT_FOUND && !mustExist) return;
            if (FAILED(hr)) Fail(p.line, hr, "cannot delete class " + Q(name));
            result_->stored.push_back(L"deleted class " + name + L" in " + ns_);
        } else if (p.name == L"autorecover" || p.name == L"locale" || p.name == L"source" || p.name == L"nonlocal" ||
                   p.name == L"nonlocaltype" || p.name == L"amendment") {
            // Recorded by WMI for its own bookkeeping; nothing to store here.
        } else {
            Fail(p.line, WBEM_E_NOT_SUPPORTED, "unsupported #pragma " + qv::win::ToUtf8(p.name));
        }
    }

    // --- qualifiers ---
    CimValue QualifierValue(const QualifierDecl& q) {
        if (!q.hasValue) return CimValue::Bool(true);
        auto scalarType = [&](const Value& v) -> CIMTYPE {
            switch (v.kind) {
            case Value::Kind::Bool: return CIM_BOOLEAN;
            case Value::Kind::Integer: return CIM_SINT32;
            case Value::Kind::Real: return CIM_REAL64;
            case Value::Kind::String:
            case Value::Kind::Char: return CIM_STRING;
            case Value::Kind::Null: return CIM_EMPTY;
            default:
                Fail(v.line, WBEM_E_INVALID_QUALIFIER_TYPE,
                     "qualifier " + Q(q.name) + " has a value of a kind qualifiers cannot hold");
            }
        };
        if (q.value.kind == Value::Kind::Null) return CimValue::Null(CIM_STRING);
        if (q.value.kind != Value::Kind::Array) {
            CIMTYPE t = scalarType(q.value);
            if (t == CIM_SINT32 && !InRange(CIM_SINT32, q.value.negative, q.value.magnitude)) t = CIM_REAL64;
            return Convert(q.value, t, L"qualifier " + q.name);
        }
        CIMTYPE t = q.value.elements.empty() ? CIM_STRING : CIM_EMPTY;
        for (const Value& e : q.value.elements) {
            CIMTYPE et = scalarType(e);
            if (et == CIM_SINT32 && !InRange(CIM_SINT32, e.negative, e.magnitude)) et = CIM_REAL64;
            if (t == CIM_EMPTY || (t == CIM_SINT32 && et == CIM_REAL64))
                t = et;
            else if (!(t == CIM_REAL64 && et == CIM_SINT32) && et != t)
                Fail(e.line, WBEM_E_INVALID_QUALIFIER_TYPE, "qualifier " + Q(q.name) + " mixes value types");
        }
        return Convert(q.value, t | CIM_FLAG_ARRAY, L"qualifier " + q.name);
    }

    // Applies declared qualifiers onto `list` (which may hold propagated ones). Local duplicates and
    // overrides of DisableOverride qualifiers are errors.
    void ApplyQualifiers(QualifierList* list, const std::vector<QualifierDecl>& decls) {
        for (size_t i = 0; i < decls.size(); ++i) {
            const QualifierDecl& d = decls[i];
            for (size_t k = 0; k < i; ++k)
                if (NamesEqual(decls[k].name, d.name))
                    Fail(d.line, WBEM_E_INVALID_QUALIFIER, "duplicate qualifier " + Q(d.name));
            LONG flavor = DefaultFlavor(d.name);
            flavor = (flavor & ~d.flavorMask) | (d.flavor & d.flavorMask);
            Qualifier q{d.name, QualifierValue(d), flavor};
            if (Qualifier* existing = FindQualifier(*list, d.name)) {
                if ((existing->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) &&
                    (existing->flavor & WBEM_FLAVOR_NOT_OVERRIDABLE) && !(existing->value == q.value))
                    Fail(d.line, WBEM_E_OVERRIDE_NOT_ALLOWED, "qualifier " + Q(d.name) + " cannot be overridden");
                q.name = existing->name;
                *existing = std::move(q);
            } else {
                list->push_back(std::move(q));
            }
        }
    }

    // --- values ---
    CimValue Convert(const Value& v, CIMTYPE type, const std::wstring& what) {
        if (v.kind == Value::Kind::Null) return CimValue::Null(type);
        CimValue out{type, false, {}};
        if (type & CIM_FLAG_ARRAY) {
            if (v.kind != Value::Kind::Array)
                Fail(v.line, WBEM_E_TYPE_MISMATCH, "expected an array value for " + Q(what));
            for (const Value& e : v.elements) out.elements.push_back(Scalar(e, type & ~CIM_FLAG_ARRAY, what));
            return out;
        }
        if (v.kind == Value::Kind::Array) Fail(v.line, WBEM_E_TYPE_MISMATCH, "array value for non-array " + Q(what));
        out.elements.push_back(Scalar(v, type, what));
        return out;
    }

    [[noreturn]] static void Mismatch(const Value& v, CIMTYPE t, const std::wstring& what) {
        Fail(v.line, WBEM_E_TYPE_MISMATCH,
             "value of " + Q(what) + " does not fit type " + qv::win::ToUtf8(CimTypeName(t)));
    }

    CimScalar Scalar(const Value& v, CIMTYPE t, const std::wstring& what) {
        switch (v.kind) {
        case Value::Kind::Integer:
            if (t == CIM_REAL32 || t == CIM_REAL64)
                return v.negative ? -static_cast<double>(v.magnitude) : static_cast<double>(v.magnitude);
            if (!InRange(t, v.negative, v.magnitude)) {
                if (ScalarTypeByName(CimTypeName(t)) != CIM_EMPTY && t != CIM_STRING && t != CIM_BOOLEAN &&
                    t != CIM_DATETIME && t != CIM_OBJECT)
                    Fail(v.line, WBEM_E_VALUE_OUT_OF_RANGE,
                         "value of " + Q(what) + " out of range for " + qv::win::ToUtf8(CimTypeName(t)));
                Mismatch(v, t, what);
            }
            if (t == CIM_SINT8 || t == CIM_SINT16 || t == CIM_SINT32 || t == CIM_SINT64)
                return v.negative ? static_cast<int64_t>(0 - v.magnitude) : static_cast<int64_t>(v.magnitude);
            return v.magnitude;
        case Value::Kind::Real:
            if (t != CIM_REAL32 && t != CIM_REAL64) Mismatch(v, t, what);
            return v.real;
        case Value::Kind::Bool:
            if (t != CIM_BOOLEAN) Mismatch(v, t, what);
            return v.boolean;
        case Value::Kind::Char:
            if (t == CIM_CHAR16) return v.magnitude;
            if (t == CIM_STRING) return v.text;
            Mismatch(v, t, what);
        case Value::Kind::String:
            if (t == CIM_STRING) return v.text;
            if (t == CIM_DATETIME) {
                if (!IsDmtfDatetime(v.text))
                    Fail(v.line, WBEM_E_TYPE_MISMATCH, "value of " + Q(what) + " is not a DMTF datetime");
                return v.text;
            }
            if (t == CIM_REFERENCE) {
                if (!ParseObjectPath(v.text))
                    Fail(v.line, WBEM_E_INVALID_OBJECT_PATH, "value of " + Q(what) + " is not an object path");
                return v.text;
            }
            Mismatch(v, t, what);
        case Value::Kind::Alias: {
            if (t != CIM_REFERENCE) Mismatch(v, t, what);
            auto it = aliases_.find(LowerName(v.text));
            if (it == aliases_.end()) Fail(v.line, WBEM_E_NOT_FOUND, "undefined alias $" + qv::win::ToUtf8(v.text));
            if (NamesEqual(it->second.first, ns_)) return it->second.second;
            return L"\\\\.\\" + it->second.first + L":" + it->second.second;
        }
        case Value::Kind::Instance:
            if (t != CIM_OBJECT) Mismatch(v, t, what);
            return std::make_shared<CimObject>(BuildInstance(*v.instance));
        default: Mismatch(v, t, what);
        }
    }

    // --- classes ---
    CIMTYPE ResolveType(const TypeDecl& type, bool isArray, int line, std::wstring* refClass) {
        CIMTYPE t;
        if (type.isRef) {
            t = CIM_REFERENCE;
            *refClass = type.name;
            if (NamesEqual(type.name, L"object")) refClass->clear();
        } else {
            t = ScalarTypeByName(type.name);
            if (t == CIM_EMPTY) Fail(line, WBEM_E_INVALID_PROPERTY_TYPE, "unknown type " + Q(type.name));
        }
        return isArray ? (t | CIM_FLAG_ARRAY) : t;
    }

    void ApplyProperty(CimObject* cls, const PropertyDecl& d, bool isParameter) {
        std::wstring refClass;
        CIMTYPE type = ResolveType(d.type, d.isArray, d.line, &refClass);
        if (NamesEqual(d.type.name, L"void")) Fail(d.line, WBEM_E_INVALID_PROPERTY_TYPE, "a property cannot be void");
        Property* p = FindProperty(*cls, d.name);
        if (p && !isParameter) {
            if (p->type != type)
                Fail(d.line, WBEM_E_TYPE_MISMATCH, "property " + Q(d.name) + " redeclared with a different type");
        } else if (!p) {
            cls->properties.push_back({});
            p = &cls->properties.back();
            p->name = d.name;
            p->type = type;
            p->origin = cls->className;
            p->value = CimValue::Null(type);
            if ((type & ~CIM_FLAG_ARRAY) == CIM_REFERENCE)
                p->qualifiers.push_back({L"CIMTYPE", CimValue::String(L"ref:" + refClass), DefaultFlavor(L"CIMTYPE")});
        }
        ApplyQualifiers(&p->qualifiers, d.qualifiers);
        if (d.arraySize >= 0) {
            Qualifier max{L"MAX", CimValue::Sint(CIM_SINT32, d.arraySize), WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS};
            if (Qualifier* existing = FindQualifier(p->qualifiers, L"MAX"))
                *existing = max;
            else
                p->qualifiers.push_back(max);
        }
        if (d.hasDefault) p->value = Convert(d.defaultValue, type, d.name);
    }

    std::shared_ptr<CimObject> Signature() {
        auto sig = std::make_shared<CimObject>();
        sig->className = L"__PARAMETERS";
        return sig;
    }

    void ApplyMethod(CimObject* cls, const MethodDecl& d) {
        auto in = Signature();
        auto out = Signature();
        int64_t nextId = 0;
        for (size_t i = 0; i < d.parameters.size(); ++i) {
            const PropertyDecl& pd = d.parameters[i];
            for (size_t k = 0; k < i; ++k)
                if (NamesEqual(d.parameters[k].name, pd.name))
                    Fail(pd.line, WBEM_E_INVALID_DUPLICATE_PARAMETER, "duplicate parameter " + Q(pd.name));
            bool isIn = false, isOut = false;
            for (const QualifierDecl& q : pd.qualifiers) {
                if (NamesEqual(q.name, L"in")) isIn = !q.hasValue || q.value.boolean;
                if (NamesEqual(q.name, L"out")) isOut = !q.hasValue || q.value.boolean;
            }
            if (!isIn && !isOut)
                Fail(pd.line, WBEM_E_INVALID_METHOD_PARAMETERS,
                     "parameter " + Q(pd.name) + " is neither [in] nor [out]");
            PropertyDecl withId = pd;
            bool hasId = false;
            for (const QualifierDecl& q : pd.qualifiers)
                if (NamesEqual(q.name, L"ID")) hasId = true;
            if (!hasId) {
                QualifierDecl id;
                id.name = L"ID";
                id.hasValue = true;
                id.value.kind = Value::Kind::Integer;
                id.value.magnitude = static_cast<uint64_t>(nextId);
                id.line = pd.line;
                withId.qualifiers.push_back(id);
            }
            ++nextId;
            if (isIn) ApplyProperty(in.get(), withId, true);
            if (isOut) ApplyProperty(out.get(), withId, true);
        }
        if (!NamesEqual(d.returnType.name, L"void")) {
            PropertyDecl ret;
            ret.type = d.returnType;
            ret.name = L"ReturnValue";
            ret.line = d.line;
            QualifierDecl outQ;
            outQ.name = L"out";
            ret.qualifiers.push_back(outQ);
            ApplyProperty(out.get(), ret, true);
        }
        for (CimObject* sig : {in.get(), out.get()})
            for (Property& p : sig->properties) p.origin = L"__PARAMETERS";
        Method* m = FindMethod(*cls, d.name);
        if (!m) {
            cls->methods.push_back({});
            m = &cls->methods.back();
            m->name = d.name;
            m->origin = cls->className;
        }
        m->in = in->properties.empty() ? nullptr : in;
        m->out = out->properties.empty() ? nullptr : out;
        ApplyQualifiers(&m->qualifiers, d.qualifiers);
    }

    void ClassStatement(const ClassDecl& d) {
        if (!options_.allowSystemClasses && d.name.size() >= 2 && d.name.compare(0, 2, L"__") == 0)
            Fail(d.line, WBEM_E_ACCESS_DENIED, "class names beginning with __ are reserved: " + Q(d.name));
        CimObject cls;
        if (!d.superclass.empty()) {
            CimObject base;
            HRESULT hr = repo_.GetClass(ns_, d.superclass, &base);
            if (hr == WBEM_E_NOT_FOUND)
                Fail(d.line, WBEM_E_INVALID_SUPERCLASS,
                     "unknown superclass " + Q(d.superclass) + " of class " + Q(d.name));
            if (FAILED(hr)) Fail(d.line, hr, "cannot read superclass " + Q(d.superclass));
            cls = DeriveClass(base, d.name);
        } else {
            cls.className = d.name;
        }
        ApplyQualifiers(&cls.qualifiers, d.qualifiers);
        for (size_t i = 0; i < d.properties.size(); ++i) {
            for (size_t k = 0; k < i; ++k)
                if (NamesEqual(d.properties[k].name, d.properties[i].name))
                    Fail(d.properties[i].line, WBEM_E_INVALID_PROPERTY,
                         "duplicate property " + Q(d.properties[i].name) + " in class " + Q(d.name));
            ApplyProperty(&cls, d.properties[i], false);
        }
        for (size_t i = 0; i < d.methods.size(); ++i) {
            for (size_t k = 0; k < i; ++k)
                if (NamesEqual(d.methods[k].name, d.methods[i].name))
                    Fail(d.methods[i].line, WBEM_E_INVALID_METHOD,
                         "duplicate method " + Q(d.methods[i].name) + " in class " + Q(d.name));
            if (FindProperty(cls, d.methods[i].name))
                Fail(d.methods[i].line, WBEM_E_INVALID_METHOD,
                     "method " + Q(d.methods[i].name) + " has the name of a property");
            ApplyMethod(&cls, d.methods[i]);
        }
        bool created = false;
        HRESULT hr = repo_.PutClass(ns_, cls, classFlags_ & (WBEM_FLAG_CREATE_ONLY | WBEM_FLAG_UPDATE_ONLY), &created);
        if (FAILED(hr)) Fail(d.line, hr, ClassFailure(hr, d.name));
        result_->stored.push_back(L"class " + cls.className + L" in " + ns_);
    }

    std::string ClassFailure(HRESULT hr, const std::wstring& name) {
        switch (hr) {
        case WBEM_E_CLASS_HAS_CHILDREN: return "class " + Q(name) + " has subclasses and cannot be changed";
        case WBEM_E_CLASS_HAS_INSTANCES: return "class " + Q(name) + " has instances and cannot change its properties";
        case WBEM_E_ALREADY_EXISTS: return "class " + Q(name) + " already exists";
        case WBEM_E_NOT_FOUND: return "class " + Q(name) + " does not exist (updateonly)";
        default: return "cannot store class " + Q(name);
        }
    }

    // --- instances ---
    CimObject BuildInstance(const InstanceDecl& d) {
        CimObject cls;
        HRESULT hr = repo_.GetClass(ns_, d.className, &cls);
        if (hr == WBEM_E_NOT_FOUND) Fail(d.line, WBEM_E_INVALID_CLASS, "unknown class " + Q(d.className));
        if (FAILED(hr)) Fail(d.line, hr, "cannot read class " + Q(d.className));
        if (HasTrueQualifier(cls.qualifiers, L"abstract"))
            Fail(d.line, WBEM_E_INVALID_OPERATION,
                 "class " + Q(d.className) + " is abstract and cannot have instances");
        CimObject instance = SpawnInstanceOf(cls);
        ApplyQualifiers(&instance.qualifiers, d.qualifiers);
        for (size_t i = 0; i < d.values.size(); ++i) {
            const PropertyValue& pv = d.values[i];
            for (size_t k = 0; k < i; ++k)
                if (NamesEqual(d.values[k].name, pv.name))
                    Fail(pv.line, WBEM_E_INVALID_PROPERTY, "property " + Q(pv.name) + " set twice");
            Property* p = FindProperty(instance, pv.name);
            if (!p) Fail(pv.line, WBEM_E_NOT_FOUND, "unknown property " + Q(pv.name) + " of class " + Q(d.className));
            p->value = Convert(pv.value, p->type, pv.name);
            ApplyQualifiers(&p->qualifiers, pv.qualifiers);
        }
        return instance;
    }

    void InstanceStatement(const InstanceDecl& d) {
        CimObject instance = BuildInstance(d);
        HRESULT hr = repo_.PutInstance(ns_, instance, instanceFlags_, nullptr);
        std::wstring rel = RelativePath(instance);
        if (FAILED(hr)) {
            std::string why;
            switch (hr) {
            case WBEM_E_ILLEGAL_NULL: why = "a key property of " + Q(d.className) + " has no value"; break;
            case WBEM_E_NO_KEY: why = "class " + Q(d.className) + " has no key property"; break;
            case WBEM_E_INVALID_OPERATION: why = "class " + Q(d.className) + " cannot have static instances"; break;
            case WBEM_E_INVALID_NAMESPACE: why = "invalid namespace name"; break;
            case WBEM_E_ALREADY_EXISTS: why = "instance " + Q(rel) + " already exists"; break;
            default: why = "cannot store instance of " + Q(d.className);
            }
            Fail(d.line, hr, why);
        }
        if (!d.alias.empty()) {
            std::wstring key = LowerName(d.alias);
            if (aliases_.count(key))
                Fail(d.line, WBEM_E_ALREADY_EXISTS, "alias $" + qv::win::ToUtf8(d.alias) + " defined twice");
            aliases_[key] = {ns_, rel};
        }
        result_->stored.push_back(L"instance " + rel + L" in " + ns_);
    }

    Repository& repo_;
    const MofOptions& options_;
    MofResult* result_;
    std::wstring ns_;
    LONG classFlags_ = 0;
    LONG instanceFlags_ = 0;
    // alias -> (namespace, relative path). A reference made in the alias's own namespace is the relative
    // path; one made after a namespace switch names the namespace too.
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> aliases_;
};

}  // namespace

MofResult CompileMofText(const std::wstring& text, const std::string& fileName, Repository& repository,
                         const MofOptions& options) {
    MofResult result;
    result.file = fileName;
    std::vector<Statement> statements;
    ParseError parseError;
    if (!Parse(text, &statements, &parseError)) {
        result.line = parseError.line;
        result.reason = parseError.reason;
        result.code = WBEM_E_INVALID_SYNTAX;
        return result;
    }
    Repository::Transaction transaction(repository);
    if (FAILED(transaction.Begin())) {
        result.code = transaction.Begin();
        result.reason = "the repository is busy or cannot be written";
        return result;
    }
    try {
        Compiler(repository, options, &result).Run(statements);
    } catch (const Error& e) {
        result.line = e.line;
        result.code = e.code;
        result.reason = e.reason;
        result.stored.clear();
        return result;  // the transaction rolls back
    }
    HRESULT hr = transaction.Commit();
    if (FAILED(hr)) {
        result.code = hr;
        result.reason = "cannot commit to the repository";
        result.stored.clear();
        return result;
    }
    result.ok = true;
    return result;
}

std::wstring DecodeMofBytes(const std::string& bytes) {
    std::wstring text;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        for (size_t i = 2; i + 1 < n; i += 2) {
            uint32_t unit = b[i] | (b[i + 1] << 8);
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < n) {
                uint32_t low = b[i + 2] | (b[i + 3] << 8);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    text += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    i += 2;
                    continue;
                }
            }
            text += static_cast<wchar_t>(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
        }
        return text;
    }
    size_t i = (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) ? 3 : 0;
    static const wchar_t kCp1252High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                            0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    auto fallback = [&](unsigned char c) {
        text += c < 0x80 ? c : c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<wchar_t>(c);
    };
    while (i < n) {
        unsigned char c = b[i];
        int extra = (c >= 0xC2 && c < 0xE0) ? 1 : (c >= 0xE0 && c < 0xF0) ? 2 : (c >= 0xF0 && c < 0xF5) ? 3 : 0;
        bool valid = extra > 0 && i + static_cast<size_t>(extra) < n;
        uint32_t cp = c & (0x3F >> extra);
        for (int k = 1; valid && k <= extra; ++k) {
            if ((b[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if (valid && (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (extra == 2 && cp < 0x800) ||
                      (extra == 3 && cp < 0x10000)))
            valid = false;
        if (!valid) {
            fallback(c);
            ++i;
            continue;
        }
        text += static_cast<wchar_t>(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return text;
}

MofResult CompileMofFile(const std::filesystem::path& file, Repository& repository, const MofOptions& options) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        MofResult result;
        result.file = file.string();
        result.code = WBEM_E_NOT_FOUND;
        result.reason = "cannot open the file";
        return result;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return CompileMofText(DecodeMofBytes(bytes.str()), file.string(), repository, options);
}

std::string FormatMofError(const MofResult& result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result.code));
    return result.file + "(" + std::to_string(result.line) + "): error " + code + ": " + result.reason;
}

}  // namespace qv::wbem
