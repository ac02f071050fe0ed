// What one compile is going to store, seen over what the repository holds.
//
// The compiler reads namespaces and classes through a Staging and hands it every change (classes,
// instances, class deletions) instead of writing them: a class it put is what later statements see, a
// namespace made by an instance of __NAMESPACE exists (with the system classes every namespace starts with),
// and a deleted class is gone together with its subclasses. So the whole compile, parsing and checking
// included, runs without the repository's write lock; Store takes it only to write what is staged.
//
// Every answer read from the repository is kept. StillCurrent, called under the write lock before Store,
// tells whether they all still hold (another writer may have changed a superclass meanwhile); when one does
// not, the compile must be checked again under the lock.
#pragma once

#include "qv_wbem_repository.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qv::wbem::mof {

struct Origin {
    int file = 0;
    int line = 0;
};

struct StoreFailure {
    Origin where;
    HRESULT code = S_OK;
    std::string reason;
};

// Classes by lower-case name.
using ClassTable = std::unordered_map<std::wstring, CimObject>;

class Staging {
public:
    // `repository` null: nothing below (used to build the system class template). `systemClasses`: the
    // classes a namespace made in this compile starts with (null: none).
    Staging(Repository* repository, const ClassTable* systemClasses);

    // A namespace made in this compile is empty but for the system classes.
    void AddNamespace(const std::wstring& ns);
    bool NamespaceExists(const std::wstring& ns);
    // The class as this compile sees it, or null with *hr (WBEM_E_NOT_FOUND, WBEM_E_INVALID_NAMESPACE, or
    // the repository's failure). The pointer stays valid until the next change of that class.
    const CimObject* GetClass(const std::wstring& ns, const std::wstring& name, HRESULT* hr);

    void PutClass(const std::wstring& ns, CimObject cls, LONG flags, Origin where);
    // Stages an instance; one of __NAMESPACE also makes its namespace (WBEM_E_INVALID_NAMESPACE for a name
    // that cannot be one).
    HRESULT PutInstance(const std::wstring& ns, CimObject instance, LONG flags, Origin where);
    // Deletes a class and its subclasses. *deleted false (and S_OK) when it does not exist and !mustExist.
    HRESULT DeleteClass(const std::wstring& ns, const std::wstring& name, bool mustExist, Origin where, bool* deleted);

    // The classes staged so far, in the order they were put.
    std::vector<const CimObject*> StagedClasses() const;

    // Under the caller's write transaction: whether every repository answer used so far still holds.
    bool StillCurrent();
    // Writes every staged change in order, in the caller's transaction; false at the first refusal.
    bool Store(StoreFailure* failure);

private:
    struct Step {
        enum class Kind { PutClass, PutInstance, DeleteClass } kind;
        std::wstring ns;
        std::shared_ptr<const CimObject> object;  // what PutClass/PutInstance write
        std::wstring name;                        // the class DeleteClass removes
        LONG flags = 0;
        Origin where;
        bool mustExist = true;  // DeleteClass: whether a class already gone is an error
    };
    struct ClassRead {
        std::wstring ns, name;
        std::optional<CimObject> found;
    };
    struct NamespaceRead {
        std::wstring ns;
        bool exists = false;
    };

    static std::wstring Key(const std::wstring& ns, const std::wstring& name);
    bool Hidden(const std::wstring& nsKey, const CimObject& cls) const;
    void CountDescendants(const std::wstring& ns, const CimObject& cls, int change);
    bool StoreStep(const Step& step, StoreFailure* failure);

    Repository* repository_;
    const ClassTable* systemClasses_;
    std::vector<Step> steps_;
    std::unordered_map<std::wstring, std::shared_ptr<CimObject>> staged_;  // Key(ns, class) -> class
    std::unordered_map<std::wstring, size_t> stagedDescendants_;           // Key(ns, class) -> its staged subclasses
    std::unordered_set<std::wstring> newNamespaces_;                       // lower case
    std::unordered_map<std::wstring, std::unordered_set<std::wstring>> deleted_;  // ns -> classes (lower)
    std::unordered_map<std::wstring, ClassRead> classReads_;                      // Key(ns, class)
    std::unordered_map<std::wstring, NamespaceRead> namespaceReads_;              // lower ns
};

}  // namespace qv::wbem::mof
