// The staged changes of one compile over the repository, and storing them in one transaction.
#include "mof_staging.h"

#include "qv_object_path.h"
#include "qv_system_root.h"

namespace qv::wbem::mof {

namespace {

std::string Q(const std::wstring& name) { return "'" + qv::win::ToUtf8(name) + "'"; }

bool IsSystemName(const std::wstring& name) { return name.size() >= 2 && name.compare(0, 2, L"__") == 0; }

std::string ClassFailure(HRESULT hr, const std::wstring& name) {
    switch (hr) {
    case WBEM_E_CLASS_HAS_CHILDREN: return "class " + Q(name) + " has subclasses and cannot be changed";
    case WBEM_E_CLASS_HAS_INSTANCES: return "class " + Q(name) + " has instances and cannot change its properties";
    case WBEM_E_ALREADY_EXISTS: return "class " + Q(name) + " already exists";
    case WBEM_E_NOT_FOUND: return "class " + Q(name) + " does not exist (updateonly)";
    case WBEM_E_INVALID_SUPERCLASS: return "the superclass of " + Q(name) + " does not exist or derives from it";
    default: return "cannot store class " + Q(name);
    }
}

std::string InstanceFailure(HRESULT hr, const CimObject& instance) {
    const std::wstring& cls = instance.className;
    switch (hr) {
    case WBEM_E_ILLEGAL_NULL: return "a key property of " + Q(cls) + " has no value";
    case WBEM_E_NO_KEY: return "class " + Q(cls) + " has no key property";
    case WBEM_E_INVALID_OPERATION: return "class " + Q(cls) + " cannot have static instances";
    case WBEM_E_INVALID_NAMESPACE: return "invalid namespace name";
    case WBEM_E_ALREADY_EXISTS: return "instance " + Q(RelativePath(instance)) + " already exists";
    case WBEM_E_NOT_FOUND: return "instance " + Q(RelativePath(instance)) + " does not exist (updateonly)";
    default: return "cannot store instance of " + Q(cls);
    }
}

}  // namespace

Staging::Staging(Repository* repository, const ClassTable* systemClasses)
    : repository_(repository), systemClasses_(systemClasses) {}

std::wstring Staging::Key(const std::wstring& ns, const std::wstring& name) {
    return LowerName(NormalizeNamespace(ns)) + L"|" + LowerName(name);
}

void Staging::AddNamespace(const std::wstring& ns) { newNamespaces_.insert(LowerName(NormalizeNamespace(ns))); }

bool Staging::NamespaceExists(const std::wstring& nsText) {
    std::wstring ns = NormalizeNamespace(nsText);
    std::wstring key = LowerName(ns);
    if (key.empty()) return false;
    if (newNamespaces_.count(key)) return true;
    if (!repository_) return false;
    auto it = namespaceReads_.find(key);
    if (it == namespaceReads_.end())
        it = namespaceReads_.emplace(key, NamespaceRead{ns, repository_->NamespaceExists(ns)}).first;
    return it->second.exists;
}

// A class below the staged changes that a deletion in this compile took away (itself or a superclass).
bool Staging::Hidden(const std::wstring& nsKey, const CimObject& cls) const {
    auto it = deleted_.find(nsKey);
    if (it == deleted_.end()) return false;
    if (it->second.count(LowerName(cls.className))) return true;
    for (const std::wstring& base : cls.derivation)
        if (it->second.count(LowerName(base))) return true;
    return false;
}

const CimObject* Staging::GetClass(const std::wstring& nsText, const std::wstring& name, HRESULT* hr) {
    std::wstring ns = NormalizeNamespace(nsText);
    if (!NamespaceExists(ns)) {
        *hr = WBEM_E_INVALID_NAMESPACE;
        return nullptr;
    }
    std::wstring nsKey = LowerName(ns);
    std::wstring key = Key(ns, name);
    if (auto staged = staged_.find(key); staged != staged_.end()) return staged->second.get();
    const CimObject* below = nullptr;
    if (newNamespaces_.count(nsKey)) {
        if (systemClasses_)
            if (auto it = systemClasses_->find(LowerName(name)); it != systemClasses_->end()) below = &it->second;
    } else if (repository_) {
        auto it = classReads_.find(key);
        if (it == classReads_.end()) {
            CimObject cls;
            HRESULT got = repository_->GetClass(ns, name, &cls);
            if (FAILED(got) && got != WBEM_E_NOT_FOUND) {
                *hr = got;
                return nullptr;
            }
            ClassRead read{ns, name, std::nullopt};
            if (SUCCEEDED(got)) read.found = std::move(cls);
            it = classReads_.emplace(key, std::move(read)).first;
        }
        if (it->second.found) below = &*it->second.found;
    }
    if (!below || Hidden(nsKey, *below)) {
        *hr = WBEM_E_NOT_FOUND;
        return nullptr;
    }
    return below;
}

void Staging::CountDescendants(const std::wstring& ns, const CimObject& cls, int change) {
    for (const std::wstring& base : cls.derivation) stagedDescendants_[Key(ns, base)] += static_cast<size_t>(change);
}

void Staging::PutClass(const std::wstring& ns, CimObject cls, LONG flags, Origin where) {
    cls.nameSpace.clear();  // the repository stores objects without them; saves it a copy
    cls.server.clear();
    auto stored = std::make_shared<CimObject>(std::move(cls));
    std::shared_ptr<CimObject>& slot = staged_[Key(ns, stored->className)];
    if (slot) CountDescendants(ns, *slot, -1);
    slot = stored;
    CountDescendants(ns, *stored, +1);
    steps_.push_back({Step::Kind::PutClass, NormalizeNamespace(ns), stored, {}, flags, where});
}

HRESULT Staging::PutInstance(const std::wstring& nsText, CimObject instance, LONG flags, Origin where) {
    std::wstring ns = NormalizeNamespace(nsText);
    if (NamesEqual(instance.className, L"__NAMESPACE")) {
        const Property* name = FindProperty(instance, L"Name");
        if (name && !name->value.null && !name->value.elements.empty()) {
            const std::wstring* child = std::get_if<std::wstring>(&name->value.elements[0]);
            if (!child || !IsValidNamespaceName(*child)) return WBEM_E_INVALID_NAMESPACE;
            if (!NamespaceExists(ns + L"\\" + *child)) AddNamespace(ns + L"\\" + *child);
        }
    }
    instance.nameSpace.clear();
    instance.server.clear();
    steps_.push_back({Step::Kind::PutInstance, ns, std::make_shared<CimObject>(std::move(instance)), {}, flags, where});
    return S_OK;
}

HRESULT Staging::DeleteClass(const std::wstring& nsText, const std::wstring& name, bool mustExist, Origin where,
                             bool* deleted) {
    *deleted = false;
    std::wstring ns = NormalizeNamespace(nsText);
    HRESULT hr = S_OK;
    const CimObject* cls = GetClass(ns, name, &hr);
    if (!cls) return hr == WBEM_E_NOT_FOUND && !mustExist ? S_OK : hr;
    if (IsSystemName(cls->className)) return WBEM_E_ACCESS_DENIED;
    std::wstring canonical = cls->className;
    std::wstring nsKey = LowerName(ns);
    std::wstring lower = LowerName(canonical);
    deleted_[nsKey].insert(lower);
    // Staged classes of the namespace that are the class or derive from it go with it (looked for only when
    // there are any, so that "deleteclass X" before each "class X" stays cheap).
    std::wstring key = Key(ns, canonical);
    if (staged_.count(key) || stagedDescendants_[key] > 0) {
        for (auto it = staged_.begin(); it != staged_.end();) {
            bool doomed = it->first.compare(0, nsKey.size() + 1, nsKey + L"|") == 0 && Hidden(nsKey, *it->second);
            if (doomed) CountDescendants(ns, *it->second, -1);
            it = doomed ? staged_.erase(it) : std::next(it);
        }
    }
    steps_.push_back({Step::Kind::DeleteClass, ns, nullptr, canonical, 0, where, mustExist});
    *deleted = true;
    return S_OK;
}

std::vector<const CimObject*> Staging::StagedClasses() const {
    std::vector<const CimObject*> classes;
    for (const Step& step : steps_)
        if (step.kind == Step::Kind::PutClass) classes.push_back(step.object.get());
    return classes;
}

bool Staging::StillCurrent() {
    if (!repository_) return true;
    for (const auto& [key, read] : namespaceReads_)
        if (repository_->NamespaceExists(read.ns) != read.exists) return false;
    for (const auto& [key, read] : classReads_) {
        CimObject now;
        HRESULT hr = repository_->GetClass(read.ns, read.name, &now);
        if (SUCCEEDED(hr) != read.found.has_value()) return false;
        if (SUCCEEDED(hr) && !(now == *read.found)) return false;
        if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) return false;
    }
    return true;
}

bool Staging::StoreStep(const Step& step, StoreFailure* failure) {
    HRESULT hr = S_OK;
    std::string reason;
    switch (step.kind) {
    case Step::Kind::PutClass:
        hr = repository_->PutClass(step.ns, *step.object, step.flags);
        if (FAILED(hr)) reason = ClassFailure(hr, step.object->className);
        break;
    case Step::Kind::PutInstance:
        hr = repository_->PutInstance(step.ns, *step.object, step.flags);
        if (FAILED(hr)) reason = InstanceFailure(hr, *step.object);
        break;
    case Step::Kind::DeleteClass:
        hr = repository_->DeleteClass(step.ns, step.name);
        if (hr == WBEM_E_NOT_FOUND && !step.mustExist) hr = S_OK;
        if (FAILED(hr)) reason = "cannot delete class " + Q(step.name);
        break;
    }
    if (SUCCEEDED(hr)) return true;
    *failure = {step.where, hr, reason};
    return false;
}

bool Staging::Store(StoreFailure* failure) {
    if (!repository_) {
        *failure = {{}, WBEM_E_CRITICAL_ERROR, "no repository to store into"};
        return false;
    }
    for (const Step& step : steps_)
        if (!StoreStep(step, failure)) return false;
    return true;
}

}  // namespace qv::wbem::mof
