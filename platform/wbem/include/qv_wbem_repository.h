// The WMI repository: namespaces, classes, static instances and provider registrations of one system root.
//
// Stored in SQLite at <root>/drive_c/WINDOWS/system32/wbem/Repository/repository.db. Any number of processes
// may open it at once: every change runs in an immediate (write-locking) transaction, and a process that
// finds the database locked waits up to 60 seconds before giving up with WBEM_E_TIMED_OUT.
//
// A fresh repository holds the namespaces "root", "root\cimv2" and "root\default". Every namespace carries
// the system classes (__SystemClass, __NAMESPACE, __Provider, __Win32Provider, the provider registrations,
// __Event and its kin, MSFT_DecoupledProvider); an instance of __NAMESPACE put into a namespace creates the
// child namespace, and deleting it removes the child with everything below it.
//
// What else a new repository holds comes from seeds (AddRepositorySeed): the WMI layer seeds "root\WMI" with
// what the machine's Windows and firmware define there.
//
// Names of namespaces, classes and properties are compared without regard to case. Results are copies; the
// object a call returns carries __NAMESPACE and __SERVER. One Repository object belongs to one thread.
#pragma once

#include "qv_cim_object.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace qv::wbem {

class Repository {
public:
    // Opens (creating when needed) the repository of `systemRoot`. Null with *result set on failure.
    static std::unique_ptr<Repository> Open(const std::filesystem::path& systemRoot, HRESULT* result = nullptr);
    // The repository of the current system root (QV_SYSTEM_ROOT).
    static std::unique_ptr<Repository> OpenDefault(HRESULT* result = nullptr);
    ~Repository();
    Repository(const Repository&) = delete;
    Repository& operator=(const Repository&) = delete;

    // A scope in which all changes happen together. Without one, each change is its own transaction.
    // Scopes nest: an inner scope left without Commit takes back only its own changes; only the outermost
    // Commit makes them durable. Commit returns the outcome.
    class Transaction {
    public:
        explicit Transaction(Repository& repository);
        ~Transaction();
        HRESULT Begin() const { return begun_; }
        HRESULT Commit();

    private:
        Repository& repository_;
        HRESULT begun_;
        bool done_ = false;
    };

    // --- namespaces ("root\QV"; without a leading "\\server\") ---
    bool NamespaceExists(const std::wstring& ns);
    std::vector<std::wstring> Namespaces();  // every namespace, parents before children

    // --- classes ---
    HRESULT GetClass(const std::wstring& ns, const std::wstring& name, CimObject* out);
    // flags: WBEM_FLAG_CREATE_ONLY, WBEM_FLAG_UPDATE_ONLY (else create or update). The superclass must
    // exist and the derivation must match it. An update that changes nothing succeeds; one that changes a
    // class with subclasses fails with WBEM_E_CLASS_HAS_CHILDREN; one that changes the properties of a class
    // with instances fails with WBEM_E_CLASS_HAS_INSTANCES. `created` tells whether the class was new.
    HRESULT PutClass(const std::wstring& ns, const CimObject& cls, LONG flags, bool* created = nullptr);
    // Removes the class, its subclasses and their static instances.
    HRESULT DeleteClass(const std::wstring& ns, const std::wstring& name);
    // The subclasses of `superclass` (every class when empty): only direct ones with WBEM_FLAG_SHALLOW.
    HRESULT EnumClasses(const std::wstring& ns, const std::wstring& superclass, LONG flags,
                        std::vector<CimObject>* out);

    // --- static instances ---
    // `path` is an object path relative to `ns` (Class.Key="v", Class=@, Class="v").
    HRESULT GetInstance(const std::wstring& ns, const std::wstring& path, CimObject* out);
    // flags as for PutClass. The class must exist, be neither abstract nor dynamic, and every key be set.
    HRESULT PutInstance(const std::wstring& ns, const CimObject& instance, LONG flags, bool* created = nullptr);
    HRESULT DeleteInstance(const std::wstring& ns, const std::wstring& path);
    // Instances of `className` and (unless WBEM_FLAG_SHALLOW) of its subclasses.
    HRESULT EnumInstances(const std::wstring& ns, const std::wstring& className, LONG flags,
                          std::vector<CimObject>* out);

    // --- provider registrations ---
    // The __Win32Provider instances (MSFT_DecoupledProvider included) of a namespace.
    HRESULT Providers(const std::wstring& ns, std::vector<CimObject>* out);
    // The registrations (instances of __ProviderRegistration's subclasses) of a namespace.
    HRESULT Registrations(const std::wstring& ns, std::vector<CimObject>* out);

    // The server name that objects report in __SERVER.
    static std::wstring ServerName();

private:
    explicit Repository(sqlite3* db);
    HRESULT Initialize(const std::filesystem::path& systemRoot);
    HRESULT Exec(const char* sql);
    HRESULT BeginWrite();
    HRESULT EndWrite(bool commit);
    HRESULT CreateNamespace(const std::wstring& ns);
    HRESULT DeleteNamespaceTree(const std::wstring& ns);
    HRESULT SubclassNames(const std::wstring& ns, const std::wstring& name, bool deep, std::vector<std::wstring>* out);
    HRESULT LoadObjects(const char* sql, const std::vector<std::string>& args, std::vector<CimObject>* out);
    bool HasRows(const char* sql, const std::vector<std::string>& args);
    void Stamp(CimObject* object, const std::wstring& ns);

    sqlite3* db_;
    int depth_ = 0;
};

// Seeds a new repository: runs once, inside the transaction that creates the repository, with the system root
// the repository belongs to; a failure fails the creation. Seeds run in the order they were added.
using RepositorySeed = HRESULT (*)(Repository& repository, const std::filesystem::path& systemRoot);
void AddRepositorySeed(RepositorySeed seed);

// Namespace text helpers: "\\.\root\QV" and "//./root/QV" give "root\QV"; "" stays "".
std::wstring NormalizeNamespace(const std::wstring& ns);
// Whether `name` may name a child namespace (letters, digits and '_'; not empty).
bool IsValidNamespaceName(const std::wstring& name);

}  // namespace qv::wbem
