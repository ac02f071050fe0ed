// Compiling MOF: the statements of every file of a compile are checked and built into classes and instances
// over a staged view of the repository (no lock held), then stored in one short write transaction.
#include "qv_mof_compiler.h"

#include "mof_parser.h"
#include "mof_sources.h"
#include "mof_staging.h"
#include "mof_values.h"
#include "qv_object_path.h"
#include "qv_system_root.h"
#include "system_classes.h"

#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace qv::wbem {

namespace {

using namespace mof;

struct Error {
    int file;
    int line;
    HRESULT code;
    std::string reason;
};

std::string Q(const std::wstring& name) { return "'" + qv::win::ToUtf8(name) + "'"; }

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

// Named items of one list (properties, methods, qualifiers) found by name in constant time, so that a class
// of n properties is built in time proportional to n. The list must change only through Add.
template <typename Item>
class NameIndex {
public:
    explicit NameIndex(std::vector<Item>& items) : items_(items) {
        index_.reserve(items.size());
        for (size_t i = 0; i < items.size(); ++i) index_.emplace(LowerName(items[i].name), i);
    }
    Item* Find(const std::wstring& name) {
        auto it = index_.find(LowerName(name));
        return it == index_.end() ? nullptr : &items_[it->second];
    }
    Item& Add(Item item) {
        index_.emplace(LowerName(item.name), items_.size());
        items_.push_back(std::move(item));
        return items_.back();
    }

private:
    std::vector<Item>& items_;
    std::unordered_map<std::wstring, size_t> index_;
};

// Names declared once each; Declare answers false for a repeat (without regard to case).
class NameSet {
public:
    bool Declare(const std::wstring& name) { return names_.insert(LowerName(name)).second; }

private:
    std::unordered_set<std::wstring> names_;
};

bool IsLocalServer(const std::wstring& server) {
    return server == L"." || NamesEqual(server, L"localhost") || NamesEqual(server, Repository::ServerName());
}

class Compiler {
public:
    Compiler(Staging& staging, const MofOptions& options, MofResult* result)
        : staging_(staging), options_(options), result_(result), ns_(NormalizeNamespace(options.defaultNamespace)) {}

    void Run(const std::vector<Statement>& statements) {
        for (const Statement& s : statements) {
            file_ = s.file;
            switch (s.kind) {
            case Statement::Kind::Pragma: PragmaStatement(s.pragma); break;
            case Statement::Kind::Class: ClassStatement(*s.cls); break;
            case Statement::Kind::Instance: InstanceStatement(*s.instance); break;
            }
        }
    }

private:
    [[noreturn]] void Fail(int line, HRESULT code, const std::string& reason) const {
        throw Error{file_, line, code, reason};
    }
    Origin At(int line) const { return {file_, line}; }

    // --- pragmas ---
    std::wstring PragmaText(const Pragma& p, size_t index) {
        if (index >= p.arguments.size())
            Fail(p.line, WBEM_E_INVALID_SYNTAX, "#pragma " + qv::win::ToUtf8(p.name) + " needs an argument");
        return p.arguments[index].text;
    }

    // "\\.\root\x", "//./root/x", "\root\x", "root\x" and "root/x" are absolute; anything else is relative to
    // the current namespace.
    void NamespacePragma(const Pragma& p) {
        std::wstring target = PragmaText(p, 0);
        auto separator = [&](size_t i) { return i < target.size() && (target[i] == L'\\' || target[i] == L'/'); };
        if (NormalizeNamespace(target).empty())
            Fail(p.line, WBEM_E_INVALID_NAMESPACE, "#pragma namespace names no namespace: " + Q(target));
        if (separator(0) && separator(1)) {
            size_t end = 2;
            while (end < target.size() && !separator(end)) ++end;
            std::wstring server = target.substr(2, end - 2);
            if (!IsLocalServer(server))
                Fail(p.line, WBEM_E_INVALID_NAMESPACE,
                     "namespace " + Q(target) + " is on another machine (" + Q(server) + ")");
        }
        bool fromRoot = NamesEqual(target.substr(0, 4), L"root") && (target.size() == 4 || separator(4));
        std::wstring absolute = separator(0) || fromRoot ? NormalizeNamespace(target)
                                                         : ns_ + L"\\" + NormalizeNamespace(target);
        if (!staging_.NamespaceExists(absolute))
            Fail(p.line, WBEM_E_INVALID_NAMESPACE, "namespace " + Q(target) + " does not exist");
        ns_ = absolute;
    }

    void FlagsPragma(const Pragma& p) {
        LONG flags = 0;
        for (const Value& argument : p.arguments) {
            std::wstring f = LowerName(argument.text);
            if (f == L"forceupdate")
                flags |= WBEM_FLAG_UPDATE_FORCE_MODE;
            else if (f == L"safeupdate")
                flags |= WBEM_FLAG_UPDATE_SAFE_MODE;
            else if (f == L"updateonly")
                flags |= WBEM_FLAG_UPDATE_ONLY;
            else if (f == L"createonly")
                flags |= WBEM_FLAG_CREATE_ONLY;
            else
                Fail(p.line, WBEM_E_INVALID_PARAMETER, "unknown flag " + Q(argument.text));
        }
        if ((flags & WBEM_FLAG_UPDATE_ONLY) && (flags & WBEM_FLAG_CREATE_ONLY))
            Fail(p.line, WBEM_E_INVALID_PARAMETER, "'updateonly' and 'createonly' exclude each other");
        (p.name == L"classflags" ? classFlags_ : instanceFlags_) = flags;
    }

    void PragmaStatement(const Pragma& p) {
        if (p.name == L"namespace") {
            NamespacePragma(p);
        } else if (p.name == L"classflags" || p.name == L"instanceflags") {
            FlagsPragma(p);
        } else if (p.name == L"deleteclass") {
            std::wstring name = PragmaText(p, 0);
            bool mustExist = p.arguments.size() < 2 || !NamesEqual(p.arguments[1].text, L"NOFAIL");
            bool deleted = false;
            HRESULT hr = staging_.DeleteClass(ns_, name, mustExist, At(p.line), &deleted);
            if (FAILED(hr)) Fail(p.line, hr, "cannot delete class " + Q(name));
            if (deleted) result_->stored.push_back(L"deleted class " + name + L" in " + ns_);
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
            case Value::Kind::Integer:
                return IntegerFits(CIM_SINT32, v.negative, v.magnitude) ? CIM_SINT32 : CIM_REAL64;
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
        if (q.value.kind != Value::Kind::Array) return Convert(q.value, scalarType(q.value), L"qualifier " + q.name);
        CIMTYPE t = q.value.elements.empty() ? CIM_STRING : CIM_EMPTY;
        for (const Value& e : q.value.elements) {
            CIMTYPE et = scalarType(e);
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
        if (decls.empty()) return;
        NameIndex<Qualifier> index(*list);
        NameSet declared;
        for (const QualifierDecl& d : decls) {
            if (!declared.Declare(d.name)) Fail(d.line, WBEM_E_INVALID_QUALIFIER, "duplicate qualifier " + Q(d.name));
            LONG flavor = DefaultFlavor(d.name);
            flavor = (flavor & ~d.flavorMask) | (d.flavor & d.flavorMask);
            Qualifier q{d.name, QualifierValue(d), flavor};
            if (Qualifier* existing = index.Find(d.name)) {
                if ((existing->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) &&
                    (existing->flavor & WBEM_FLAVOR_NOT_OVERRIDABLE) && !(existing->value == q.value))
                    Fail(d.line, WBEM_E_OVERRIDE_NOT_ALLOWED, "qualifier " + Q(d.name) + " cannot be overridden");
                q.name = existing->name;
                *existing = std::move(q);
            } else {
                index.Add(std::move(q));
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
            out.elements.reserve(v.elements.size());
            for (const Value& e : v.elements) out.elements.push_back(Scalar(e, type & ~CIM_FLAG_ARRAY, what));
            return out;
        }
        if (v.kind == Value::Kind::Array) Fail(v.line, WBEM_E_TYPE_MISMATCH, "array value for non-array " + Q(what));
        out.elements.push_back(Scalar(v, type, what));
        return out;
    }

    [[noreturn]] void Mismatch(const Value& v, CIMTYPE t, const std::wstring& what) const {
        Fail(v.line, WBEM_E_TYPE_MISMATCH,
             "value of " + Q(what) + " does not fit type " + qv::win::ToUtf8(CimTypeName(t)));
    }

    CimScalar Scalar(const Value& v, CIMTYPE t, const std::wstring& what) {
        switch (v.kind) {
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
        case Value::Kind::Null:
        case Value::Kind::Array: Mismatch(v, t, what);
        default: {
            CimScalar out;
            HRESULT code = S_OK;
            std::string why;
            if (!ConvertLiteral(v, t, &out, &code, &why)) Fail(v.line, code, "value of " + Q(what) + " " + why);
            return out;
        }
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

    void ApplyProperty(NameIndex<Property>& properties, const std::wstring& className, const PropertyDecl& d,
                       bool isParameter) {
        std::wstring refClass;
        CIMTYPE type = ResolveType(d.type, d.isArray, d.line, &refClass);
        if (NamesEqual(d.type.name, L"void")) Fail(d.line, WBEM_E_INVALID_PROPERTY_TYPE, "a property cannot be void");
        Property* p = properties.Find(d.name);
        if (p && !isParameter) {
            if (p->type != type)
                Fail(d.line, WBEM_E_TYPE_MISMATCH, "property " + Q(d.name) + " redeclared with a different type");
        } else if (!p) {
            Property added;
            added.name = d.name;
            added.type = type;
            added.origin = className;
            added.value = CimValue::Null(type);
            if ((type & ~CIM_FLAG_ARRAY) == CIM_REFERENCE)
                added.qualifiers.push_back(
                    {L"CIMTYPE", CimValue::String(L"ref:" + refClass), DefaultFlavor(L"CIMTYPE")});
            p = &properties.Add(std::move(added));
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

    static std::shared_ptr<CimObject> Signature() {
        auto sig = std::make_shared<CimObject>();
        sig->className = L"__PARAMETERS";
        return sig;
    }

    static bool FlagQualifier(const PropertyDecl& d, const wchar_t* name) {
        for (const QualifierDecl& q : d.qualifiers)
            if (NamesEqual(q.name, name)) return !q.hasValue || q.value.boolean;
        return false;
    }

    void ApplyMethod(NameIndex<Method>& methods, const std::wstring& className, const MethodDecl& d) {
        auto in = Signature();
        auto out = Signature();
        NameIndex<Property> inProperties(in->properties);
        NameIndex<Property> outProperties(out->properties);
        NameSet declared;
        int64_t nextId = 0;
        for (const PropertyDecl& pd : d.parameters) {
            if (!declared.Declare(pd.name))
                Fail(pd.line, WBEM_E_INVALID_DUPLICATE_PARAMETER, "duplicate parameter " + Q(pd.name));
            bool isIn = FlagQualifier(pd, L"in"), isOut = FlagQualifier(pd, L"out");
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
            if (isIn) ApplyProperty(inProperties, L"__PARAMETERS", withId, true);
            if (isOut) ApplyProperty(outProperties, L"__PARAMETERS", withId, true);
        }
        if (!NamesEqual(d.returnType.name, L"void")) {
            PropertyDecl ret;
            ret.type = d.returnType;
            ret.name = L"ReturnValue";
            ret.line = d.line;
            QualifierDecl outQ;
            outQ.name = L"out";
            ret.qualifiers.push_back(outQ);
            ApplyProperty(outProperties, L"__PARAMETERS", ret, true);
        }
        Method* m = methods.Find(d.name);
        if (!m) {
            Method added;
            added.name = d.name;
            added.origin = className;
            m = &methods.Add(std::move(added));
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
            HRESULT hr = S_OK;
            const CimObject* base = staging_.GetClass(ns_, d.superclass, &hr);
            if (!base && hr == WBEM_E_NOT_FOUND)
                Fail(d.line, WBEM_E_INVALID_SUPERCLASS,
                     "unknown superclass " + Q(d.superclass) + " of class " + Q(d.name));
            if (!base) Fail(d.line, hr, "cannot read superclass " + Q(d.superclass));
            // Redefining a class below itself would make it its own ancestor.
            if (IsA(*base, d.name))
                Fail(d.line, WBEM_E_INVALID_SUPERCLASS, "class " + Q(d.name) + " cannot derive from itself");
            cls = DeriveClass(*base, d.name);
        } else {
            cls.className = d.name;
        }
        ApplyQualifiers(&cls.qualifiers, d.qualifiers);
        NameIndex<Property> properties(cls.properties);
        NameSet declared;
        for (const PropertyDecl& p : d.properties) {
            if (!declared.Declare(p.name))
                Fail(p.line, WBEM_E_INVALID_PROPERTY, "duplicate property " + Q(p.name) + " in class " + Q(d.name));
            ApplyProperty(properties, cls.className, p, false);
        }
        NameIndex<Method> methods(cls.methods);
        NameSet declaredMethods;
        for (const MethodDecl& m : d.methods) {
            if (!declaredMethods.Declare(m.name))
                Fail(m.line, WBEM_E_INVALID_METHOD, "duplicate method " + Q(m.name) + " in class " + Q(d.name));
            if (properties.Find(m.name))
                Fail(m.line, WBEM_E_INVALID_METHOD, "method " + Q(m.name) + " has the name of a property");
            ApplyMethod(methods, cls.className, m);
        }
        std::wstring stored = L"class " + cls.className + L" in " + ns_;
        staging_.PutClass(ns_, std::move(cls), classFlags_ & (WBEM_FLAG_CREATE_ONLY | WBEM_FLAG_UPDATE_ONLY),
                          At(d.line));
        result_->stored.push_back(std::move(stored));
    }

    // --- instances ---
    CimObject BuildInstance(const InstanceDecl& d) {
        HRESULT hr = S_OK;
        const CimObject* cls = staging_.GetClass(ns_, d.className, &hr);
        if (!cls && hr == WBEM_E_NOT_FOUND) Fail(d.line, WBEM_E_INVALID_CLASS, "unknown class " + Q(d.className));
        if (!cls) Fail(d.line, hr, "cannot read class " + Q(d.className));
        if (HasTrueQualifier(cls->qualifiers, L"abstract"))
            Fail(d.line, WBEM_E_INVALID_OPERATION,
                 "class " + Q(d.className) + " is abstract and cannot have instances");
        CimObject instance = SpawnInstanceOf(*cls);
        ApplyQualifiers(&instance.qualifiers, d.qualifiers);
        NameIndex<Property> properties(instance.properties);
        NameSet assigned;
        for (const PropertyValue& pv : d.values) {
            if (!assigned.Declare(pv.name))
                Fail(pv.line, WBEM_E_INVALID_PROPERTY, "property " + Q(pv.name) + " set twice");
            Property* p = properties.Find(pv.name);
            if (!p) Fail(pv.line, WBEM_E_NOT_FOUND, "unknown property " + Q(pv.name) + " of class " + Q(d.className));
            p->value = Convert(pv.value, p->type, pv.name);
            ApplyQualifiers(&p->qualifiers, pv.qualifiers);
        }
        return instance;
    }

    void InstanceStatement(const InstanceDecl& d) {
        CimObject instance = BuildInstance(d);
        std::wstring rel = RelativePath(instance);
        HRESULT hr = staging_.PutInstance(ns_, std::move(instance), instanceFlags_, At(d.line));
        if (FAILED(hr)) Fail(d.line, hr, "invalid namespace name in an instance of " + Q(d.className));
        if (!d.alias.empty()) {
            std::wstring key = LowerName(d.alias);
            if (aliases_.count(key))
                Fail(d.line, WBEM_E_ALREADY_EXISTS, "alias $" + qv::win::ToUtf8(d.alias) + " defined twice");
            aliases_[key] = {ns_, rel};
        }
        result_->stored.push_back(L"instance " + rel + L" in " + ns_);
    }

    Staging& staging_;
    const MofOptions& options_;
    MofResult* result_;
    std::wstring ns_;
    int file_ = 0;
    LONG classFlags_ = 0;
    LONG instanceFlags_ = 0;
    // alias -> (namespace, relative path). A reference made in the alias's own namespace is the relative
    // path; one made after a namespace switch names the namespace too.
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> aliases_;
};

// The system classes a namespace starts with, built once: what a namespace made by an instance of
// __NAMESPACE holds before the compile that makes it has stored anything.
const ClassTable& SystemClassTemplate() {
    static const ClassTable table = [] {
        ClassTable classes;
        Staging staging(nullptr, nullptr);
        staging.AddNamespace(L"template");
        MofOptions options;
        options.defaultNamespace = L"template";
        options.allowSystemClasses = true;
        MofResult ignored;
        std::vector<Statement> statements;
        ParseError parseError;
        if (!Parse(SystemClassesMof(), &statements, &parseError)) return classes;
        try {
            Compiler(staging, options, &ignored).Run(statements);
        } catch (const Error&) {
            return classes;
        }
        for (const CimObject* c : staging.StagedClasses()) classes[LowerName(c->className)] = *c;
        return classes;
    }();
    return table;
}

// Checks and builds every statement into `staging`; false with the error (file, line, reason) in *result.
bool Check(const std::vector<Statement>& statements, const Sources& sources, Staging& staging,
           const MofOptions& options, MofResult* result) {
    result->stored.clear();
    try {
        Compiler(staging, options, result).Run(statements);
        return true;
    } catch (const Error& e) {
        result->file = sources.Files()[static_cast<size_t>(e.file)].name;
        result->line = e.line;
        result->code = e.code;
        result->reason = e.reason;
        result->stored.clear();
        return false;
    }
}

MofResult Compile(const std::wstring& text, const std::string& name, const std::filesystem::path& path,
                  Repository& repository, const MofOptions& options) {
    MofResult result;
    result.file = name;
    Sources sources(options.readFile ? options.readFile : FileReader(ReadHostFile));
    std::vector<Statement> statements;
    SourceError sourceError;
    if (!sources.Load(text, name, path, &statements, &sourceError)) {
        result.file = sources.Files()[static_cast<size_t>(sourceError.file)].name;
        result.line = sourceError.line;
        result.code = sourceError.code;
        result.reason = sourceError.reason;
        return result;
    }
    // Everything but the writes happens before the write lock is taken.
    auto staging = std::make_unique<Staging>(&repository, &SystemClassTemplate());
    if (!Check(statements, sources, *staging, options, &result)) return result;
    Repository::Transaction transaction(repository);
    if (FAILED(transaction.Begin())) {
        result.code = transaction.Begin();
        result.reason = "the repository is busy or cannot be written";
        result.stored.clear();
        return result;
    }
    if (!staging->StillCurrent()) {
        // Another writer changed what the compile was built on: build it again, now under the lock.
        staging = std::make_unique<Staging>(&repository, &SystemClassTemplate());
        if (!Check(statements, sources, *staging, options, &result)) return result;
    }
    StoreFailure failure;
    if (!staging->Store(&failure)) {
        result.file = sources.Files()[static_cast<size_t>(failure.where.file)].name;
        result.line = failure.where.line;
        result.code = failure.code;
        result.reason = failure.reason;
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

}  // namespace

MofResult CompileMofText(const std::wstring& text, const std::string& fileName, Repository& repository,
                         const MofOptions& options) {
    return Compile(text, fileName, std::filesystem::path(fileName), repository, options);
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

MofResult CompileMofFile(const std::filesystem::path& file, Repository& repository, const MofOptions& options,
                         const std::string& name) {
    std::string shown = name.empty() ? file.string() : name;
    std::string bytes, reason;
    FileReader read = options.readFile ? options.readFile : FileReader(ReadHostFile);
    if (!read(file, &bytes, &reason)) {
        MofResult result;
        result.file = shown;
        result.code = WBEM_E_NOT_FOUND;
        result.reason = reason;
        return result;
    }
    return Compile(DecodeMofBytes(bytes), shown, file, repository, options);
}

std::string FormatMofError(const MofResult& result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result.code));
    return result.file + "(" + std::to_string(result.line) + "): error " + code + ": " + result.reason;
}

}  // namespace qv::wbem
