// The repository in SQLite: tables, transactions, namespaces, classes and static instances.
#include "qv_wbem_repository.h"

#include "qv_module_unload.h"
#include "qv_mof_compiler.h"
#include "qv_private_files.h"
#include "qv_object_codec.h"
#include "qv_object_path.h"
#include "qv_system_root.h"
#include "repository_cache.h"
#include "system_classes.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace qv::wbem {

namespace {

std::mutex seeds_mutex;
std::vector<RepositorySeed>& Seeds() {
    static auto* seeds = qv::win::KeepUntilUnload(new std::vector<RepositorySeed>());
    return *seeds;
}

constexpr int kBusyTimeoutMs = 60000;

std::string U8(const std::wstring& s) { return qv::win::ToUtf8(s); }

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS namespaces(name TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS classes(ns TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
    " superclass TEXT NOT NULL COLLATE NOCASE, data BLOB NOT NULL, PRIMARY KEY(ns, name));"
    "CREATE TABLE IF NOT EXISTS instances(ns TEXT NOT NULL COLLATE NOCASE, class TEXT NOT NULL COLLATE NOCASE,"
    " path TEXT NOT NULL, data BLOB NOT NULL, PRIMARY KEY(ns, path));"
    "CREATE INDEX IF NOT EXISTS instances_by_class ON instances(ns, class);";

// A prepared statement with its arguments bound as text or blob; finalised on scope exit.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return ok_; }
    void Text(int i, const std::string& s) {
        sqlite3_bind_text(stmt_, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void Blob(int i, const std::vector<uint8_t>& b) {
        sqlite3_bind_blob(stmt_, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
    }
    void Args(const std::vector<std::string>& args) {
        for (size_t i = 0; i < args.size(); ++i) Text(static_cast<int>(i + 1), args[i]);
    }
    int Step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    std::string ColumnText(int i) {
        const unsigned char* t = sqlite3_column_text(stmt_, i);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    std::vector<uint8_t> ColumnBlob(int i) {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, i));
        int n = sqlite3_column_bytes(stmt_, i);
        return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>{};
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
};

HRESULT FromSqlite(int rc) {
    switch (rc) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return S_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return WBEM_E_TIMED_OUT;
    case SQLITE_FULL: return WBEM_E_OUT_OF_DISK_SPACE;
    case SQLITE_NOMEM: return WBEM_E_OUT_OF_MEMORY;
    default: return WBEM_E_CRITICAL_ERROR;
    }
}

// Whether two versions of a class have the same properties (names, types, keys), so instances stay valid.
bool SameShape(const CimObject& a, const CimObject& b) {
    if (a.properties.size() != b.properties.size()) return false;
    for (size_t i = 0; i < a.properties.size(); ++i) {
        const Property& pa = a.properties[i];
        const Property& pb = b.properties[i];
        if (!NamesEqual(pa.name, pb.name) || pa.type != pb.type ||
            HasTrueQualifier(pa.qualifiers, L"key") != HasTrueQualifier(pb.qualifiers, L"key"))
            return false;
    }
    return true;
}

// The object as stored: without __NAMESPACE and __SERVER. Copies into *copy only when the object has them.
const CimObject& Unstamped(const CimObject& object, CimObject* copy) {
    if (object.nameSpace.empty() && object.server.empty()) return object;
    *copy = object;
    copy->nameSpace.clear();
    copy->server.clear();
    return *copy;
}

}  // namespace

bool IsValidNamespaceName(const std::wstring& name) {
    if (name.empty()) return false;
    for (wchar_t c : name)
        if (!(std::iswalnum(c) || c == L'_')) return false;
    return true;
}

std::wstring NormalizeNamespace(const std::wstring& ns) {
    std::wstring t = ns;
    std::replace(t.begin(), t.end(), L'/', L'\\');
    if (t.size() >= 2 && t[0] == L'\\' && t[1] == L'\\') {
        size_t end = t.find(L'\\', 2);
        t = end == std::wstring::npos ? L"" : t.substr(end + 1);
    }
    while (!t.empty() && t.back() == L'\\') t.pop_back();
    while (!t.empty() && t.front() == L'\\') t.erase(t.begin());
    return t;
}

std::wstring Repository::ServerName() {
    // Asked for every object a read returns: the host's name is looked up once per process.
    static const std::wstring name = [] {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) != 0 || !host[0]) return std::wstring(L".");
        std::wstring text = qv::win::FromUtf8(host);
        size_t dot = text.find(L'.');
        if (dot != std::wstring::npos) text.resize(dot);
        for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
        return text;
    }();
    return name;
}

// --- opening -------------------------------------------------------------------------------------------------

Repository::Repository(sqlite3* db) : db_(db) {}
Repository::~Repository() {
    cache_.reset();  // its statement goes before the connection
    sqlite3_close(db_);
}

std::unique_ptr<Repository> Repository::Open(const std::filesystem::path& systemRoot, HRESULT* result) {
    HRESULT ignored;
    if (!result) result = &ignored;
    std::filesystem::path folder = systemRoot / "drive_c" / "WINDOWS" / "system32" / "wbem" / "Repository";
    // The repository and its journals are the owner's only, as every file of the root.
    if (qv::win::CreatePrivateFolders(folder) || qv::win::CreatePrivateFile(folder / "repository.db")) {
        *result = WBEM_E_CRITICAL_ERROR;
        return nullptr;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2((folder / "repository.db").c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        *result = WBEM_E_CRITICAL_ERROR;
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::unique_ptr<Repository> repository(new Repository(db));
    *result = repository->Initialize(systemRoot);
    if (FAILED(*result)) return nullptr;
    return repository;
}

std::unique_ptr<Repository> Repository::OpenDefault(HRESULT* result) { return Open(qv::win::SystemRoot(), result); }

HRESULT Repository::Exec(const char* sql) { return FromSqlite(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

void AddRepositorySeed(RepositorySeed seed) {
    std::lock_guard lock(seeds_mutex);
    Seeds().push_back(seed);
}

HRESULT Repository::Initialize(const std::filesystem::path& systemRoot) {
    Transaction transaction(*this);
    if (FAILED(transaction.Begin())) return transaction.Begin();
    HRESULT hr = Exec(kSchema);
    if (FAILED(hr)) return hr;
    if (!HasRows("SELECT 1 FROM namespaces LIMIT 1", {})) {
        hr = CreateNamespace(L"root");
        if (FAILED(hr)) return hr;
        CimObject namespaceClass;
        hr = GetClass(L"root", L"__NAMESPACE", &namespaceClass);
        if (FAILED(hr)) return hr;
        for (const wchar_t* child : {L"cimv2", L"default"}) {
            CimObject instance = SpawnInstanceOf(namespaceClass);
            FindProperty(instance, L"Name")->value = CimValue::String(child);
            hr = PutInstance(L"root", instance, WBEM_FLAG_CREATE_ONLY);
            if (FAILED(hr)) return hr;
        }
        std::vector<RepositorySeed> seeds;
        {
            std::lock_guard lock(seeds_mutex);
            seeds = Seeds();
        }
        for (RepositorySeed seed : seeds)
            if (FAILED(hr = seed(*this, systemRoot))) return hr;
    }
    return transaction.Commit();
}

// --- transactions --------------------------------------------------------------------------------------------

// The outermost scope is an immediate transaction; nested scopes are savepoints, so that a failed inner
// step takes back only its own changes.
HRESULT Repository::BeginWrite() {
    ++localWrites_;  // whatever the scope does, cached reads are not trusted after it
    if (depth_ > 0) {
        std::string sql = "SAVEPOINT s" + std::to_string(depth_);
        HRESULT hr = Exec(sql.c_str());
        if (SUCCEEDED(hr)) ++depth_;
        return hr;
    }
    HRESULT hr = Exec("BEGIN IMMEDIATE");
    if (SUCCEEDED(hr)) depth_ = 1;
    return hr;
}

HRESULT Repository::EndWrite(bool commit) {
    if (depth_ == 0) return WBEM_E_UNEXPECTED;
    if (--depth_ > 0) {
        std::string name = "s" + std::to_string(depth_);
        if (!commit) Exec(("ROLLBACK TO " + name).c_str());
        return Exec(("RELEASE " + name).c_str());
    }
    if (commit) {
        HRESULT hr = Exec("COMMIT");
        if (SUCCEEDED(hr)) return S_OK;
    }
    Exec("ROLLBACK");
    return commit ? WBEM_E_CRITICAL_ERROR : S_OK;
}

Repository::Transaction::Transaction(Repository& repository) : repository_(repository) {
    begun_ = repository_.BeginWrite();
}

Repository::Transaction::~Transaction() {
    if (SUCCEEDED(begun_) && !done_) repository_.EndWrite(false);
}

HRESULT Repository::Transaction::Commit() {
    if (FAILED(begun_)) return begun_;
    if (done_) return WBEM_E_UNEXPECTED;
    done_ = true;
    return repository_.EndWrite(true);
}

// --- helpers -------------------------------------------------------------------------------------------------

bool Repository::HasRows(const char* sql, const std::vector<std::string>& args) {
    Statement s(db_, sql);
    s.Args(args);
    return s.Step() == SQLITE_ROW;
}

void Repository::Stamp(CimObject* object, const std::wstring& ns) {
    object->nameSpace = ns;
    object->server = ServerName();
}

HRESULT Repository::LoadObjects(const char* sql, const std::vector<std::string>& args, std::vector<CimObject>* out) {
    Statement s(db_, sql);
    if (!s.ok()) return WBEM_E_CRITICAL_ERROR;
    s.Args(args);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        std::vector<uint8_t> data = s.ColumnBlob(1);
        CimObject object;
        if (FAILED(DecodeObject(data.data(), data.size(), &object))) return WBEM_E_CRITICAL_ERROR;
        Stamp(&object, qv::win::FromUtf8(s.ColumnText(0)));
        out->push_back(std::move(object));
    }
    return FromSqlite(rc);
}

// --- namespaces ----------------------------------------------------------------------------------------------

bool Repository::NamespaceExists(const std::wstring& nsText) {
    std::wstring ns = NormalizeNamespace(nsText);
    ReadCache* cache = Cache();
    if (cache != nullptr) {
        auto found = cache->namespaces.find(ReadCache::Fold(ns));
        if (found != cache->namespaces.end()) return found->second;
    }
    bool exists = HasRows("SELECT 1 FROM namespaces WHERE name = ?", {U8(ns)});
    if (cache != nullptr) cache->namespaces[ReadCache::Fold(ns)] = exists;
    return exists;
}

std::vector<std::wstring> Repository::Namespaces() {
    std::vector<std::wstring> names;
    Statement s(db_, "SELECT name FROM namespaces ORDER BY length(name), rowid");
    while (s.Step() == SQLITE_ROW) names.push_back(qv::win::FromUtf8(s.ColumnText(0)));
    return names;
}

HRESULT Repository::CreateNamespace(const std::wstring& ns) {
    Transaction transaction(*this);
    if (FAILED(transaction.Begin())) return transaction.Begin();
    Statement insert(db_, "INSERT INTO namespaces(name) VALUES(?)");
    insert.Text(1, U8(ns));
    if (insert.Step() != SQLITE_DONE) return WBEM_E_CRITICAL_ERROR;
    MofOptions options;
    options.defaultNamespace = ns;
    options.allowSystemClasses = true;
    MofResult result = CompileMofText(SystemClassesMof(), "system classes", *this, options);
    if (!result.ok) return WBEM_E_CRITICAL_ERROR;
    return transaction.Commit();
}

HRESULT Repository::DeleteNamespaceTree(const std::wstring& ns) {
    std::string n = U8(ns);
    std::string prefix = n + "\\";
    for (const char* sql :
         {"DELETE FROM instances WHERE ns = ?1 OR lower(substr(ns, 1, length(?2))) = lower(?2)",
          "DELETE FROM classes WHERE ns = ?1 OR lower(substr(ns, 1, length(?2))) = lower(?2)",
          "DELETE FROM namespaces WHERE name = ?1 OR lower(substr(name, 1, length(?2))) = lower(?2)"}) {
        Statement s(db_, sql);
        s.Args({n, prefix});
        if (s.Step() != SQLITE_DONE) return WBEM_E_CRITICAL_ERROR;
    }
    return S_OK;
}

// --- classes -------------------------------------------------------------------------------------------------

HRESULT Repository::GetClass(const std::wstring& nsText, const std::wstring& name, CimObject* out) {
    std::wstring ns = NormalizeNamespace(nsText);
    ReadCache* cache = Cache();
    ReadCache::Key key;
    if (cache != nullptr) {
        key = {ReadCache::Fold(ns), ReadCache::Fold(name), 0};
        auto found = cache->classes.find(key);
        if (found != cache->classes.end()) {
            if (SUCCEEDED(found->second.result)) *out = found->second.object;
            return found->second.result;
        }
    }
    ReadCache::ClassAnswer answer;
    if (!NamespaceExists(ns)) {
        answer.result = WBEM_E_INVALID_NAMESPACE;
    } else {
        std::vector<CimObject> found;
        answer.result = LoadObjects("SELECT ns, data FROM classes WHERE ns = ? AND name = ?", {U8(ns), U8(name)},
                                    &found);
        if (SUCCEEDED(answer.result) && found.empty()) answer.result = WBEM_E_NOT_FOUND;
        if (SUCCEEDED(answer.result)) answer.object = std::move(found[0]);
    }
    if (answer.result == WBEM_E_CRITICAL_ERROR || answer.result == WBEM_E_TIMED_OUT) cache = nullptr;
    if (cache == nullptr) {
        if (SUCCEEDED(answer.result)) *out = std::move(answer.object);
        return answer.result;
    }
    const auto& kept = cache->classes[key] = std::move(answer);
    if (SUCCEEDED(kept.result)) *out = kept.object;
    return kept.result;
}

HRESULT Repository::SubclassNames(const std::wstring& ns, const std::wstring& name, bool deep,
                                  std::vector<std::wstring>* out) {
    const char* sql = deep ? "WITH RECURSIVE sub(n) AS (SELECT name FROM classes WHERE ns = ?1 AND superclass = ?2"
                             " UNION SELECT c.name FROM classes c JOIN sub ON c.ns = ?1 AND c.superclass = sub.n)"
                             " SELECT n FROM sub"
                           : "SELECT name FROM classes WHERE ns = ?1 AND superclass = ?2";
    Statement s(db_, sql);
    if (!s.ok()) return WBEM_E_CRITICAL_ERROR;
    s.Args({U8(ns), U8(name)});
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) out->push_back(qv::win::FromUtf8(s.ColumnText(0)));
    return FromSqlite(rc);
}

HRESULT Repository::PutClass(const std::wstring& nsText, const CimObject& cls, LONG flags, bool* created) {
    std::wstring ns = NormalizeNamespace(nsText);
    if (created) *created = false;
    if (!cls.IsClass() || cls.className.empty()) return WBEM_E_INVALID_PARAMETER;
    Transaction transaction(*this);
    if (FAILED(transaction.Begin())) return transaction.Begin();
    if (!NamespaceExists(ns)) return WBEM_E_INVALID_NAMESPACE;
    if (!cls.superclass.empty()) {
        CimObject base;
        HRESULT hr = GetClass(ns, cls.superclass, &base);
        if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_SUPERCLASS;
        if (FAILED(hr)) return hr;
        if (IsA(base, cls.className)) return WBEM_E_INVALID_SUPERCLASS;  // it would be its own ancestor
        std::vector<std::wstring> expected{base.className};
        expected.insert(expected.end(), base.derivation.begin(), base.derivation.end());
        if (cls.derivation.size() != expected.size()) return WBEM_E_INVALID_SUPERCLASS;
        for (size_t i = 0; i < expected.size(); ++i)
            if (!NamesEqual(cls.derivation[i], expected[i])) return WBEM_E_INVALID_SUPERCLASS;
    } else if (!cls.derivation.empty()) {
        return WBEM_E_INVALID_SUPERCLASS;
    }
    CimObject unstamped;
    const CimObject& stored = Unstamped(cls, &unstamped);
    CimObject existing;
    HRESULT hr = GetClass(ns, cls.className, &existing);
    if (FAILED(hr) && hr != WBEM_E_NOT_FOUND) return hr;
    bool exists = SUCCEEDED(hr);
    if (exists && (flags & WBEM_FLAG_CREATE_ONLY)) return WBEM_E_ALREADY_EXISTS;
    if (!exists && (flags & WBEM_FLAG_UPDATE_ONLY)) return WBEM_E_NOT_FOUND;
    if (exists) {
        if (existing == stored) return transaction.Commit();
        std::vector<std::wstring> children;
        hr = SubclassNames(ns, cls.className, false, &children);
        if (FAILED(hr)) return hr;
        if (!children.empty()) return WBEM_E_CLASS_HAS_CHILDREN;
        if (!SameShape(existing, stored) &&
            HasRows("SELECT 1 FROM instances WHERE ns = ? AND class = ? LIMIT 1", {U8(ns), U8(cls.className)}))
            return WBEM_E_CLASS_HAS_INSTANCES;
    }
    Statement s(db_, exists ? "UPDATE classes SET superclass = ?3, data = ?4, name = ?2 WHERE ns = ?1 AND name = ?2"
                            : "INSERT INTO classes(ns, name, superclass, data) VALUES(?1, ?2, ?3, ?4)");
    s.Args({U8(ns), U8(cls.className), U8(cls.superclass)});
    s.Blob(4, EncodeObject(stored));
    if (s.Step() != SQLITE_DONE) return WBEM_E_CRITICAL_ERROR;
    if (created) *created = !exists;
    return transaction.Commit();
}

HRESULT Repository::DeleteClass(const std::wstring& nsText, const std::wstring& name) {
    std::wstring ns = NormalizeNamespace(nsText);
    Transaction transaction(*this);
    if (FAILED(transaction.Begin())) return transaction.Begin();
    CimObject cls;
    HRESULT hr = GetClass(ns, name, &cls);
    if (FAILED(hr)) return hr;
    if (cls.className.size() >= 2 && cls.className.compare(0, 2, L"__") == 0) return WBEM_E_ACCESS_DENIED;
    std::vector<std::wstring> doomed{cls.className};
    hr = SubclassNames(ns, cls.className, true, &doomed);
    if (FAILED(hr)) return hr;
    for (const std::wstring& c : doomed) {
        for (const char* sql :
             {"DELETE FROM instances WHERE ns = ? AND class = ?", "DELETE FROM classes WHERE ns = ? AND name = ?"}) {
            Statement s(db_, sql);
            s.Args({U8(ns), U8(c)});
            if (s.Step() != SQLITE_DONE) return WBEM_E_CRITICAL_ERROR;
        }
    }
    return transaction.Commit();
}

HRESULT Repository::EnumClasses(const std::wstring& nsText, const std::wstring& superclass, LONG flags,
                                std::vector<CimObject>* out) {
    return CachedList(false, nsText, superclass, flags & WBEM_FLAG_SHALLOW, out, &Repository::LoadClasses);
}

HRESULT Repository::LoadClasses(const std::wstring& nsText, const std::wstring& superclass, LONG flags,
                                std::vector<CimObject>* out) {
    std::wstring ns = NormalizeNamespace(nsText);
    out->clear();
    if (!NamespaceExists(ns)) return WBEM_E_INVALID_NAMESPACE;
    bool shallow = (flags & WBEM_FLAG_SHALLOW) != 0;
    if (superclass.empty()) {
        return LoadObjects(shallow ? "SELECT ns, data FROM classes WHERE ns = ? AND superclass = '' ORDER BY rowid"
                                   : "SELECT ns, data FROM classes WHERE ns = ? ORDER BY rowid",
                           {U8(ns)}, out);
    }
    CimObject base;
    HRESULT hr = GetClass(ns, superclass, &base);
    if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_CLASS;
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> names;
    hr = SubclassNames(ns, base.className, !shallow, &names);
    if (FAILED(hr)) return hr;
    std::vector<CimObject> all;
    hr = LoadObjects("SELECT ns, data FROM classes WHERE ns = ? ORDER BY rowid", {U8(ns)}, &all);
    if (FAILED(hr)) return hr;
    for (CimObject& c : all)
        if (std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return NamesEqual(n, c.className); }))
            out->push_back(std::move(c));
    return S_OK;
}

// --- instances -----------------------------------------------------------------------------------------------

HRESULT Repository::GetInstance(const std::wstring& nsText, const std::wstring& pathText, CimObject* out) {
    std::wstring ns = NormalizeNamespace(nsText);
    auto path = ParseObjectPath(pathText);
    if (!path || path->IsClassPath()) return WBEM_E_INVALID_OBJECT_PATH;
    CimObject cls;
    HRESULT hr = GetClass(ns, path->className, &cls);
    if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_CLASS;
    if (FAILED(hr)) return hr;
    if (path->keys.size() == 1 && path->keys[0].name.empty()) {
        auto keys = KeyProperties(cls);
        if (keys.size() != 1) return WBEM_E_INVALID_OBJECT_PATH;
        path->keys[0].name = keys[0]->name;
    }
    // The instance may be stored under a subclass of the class the path names.
    std::vector<std::wstring> classes{cls.className};
    hr = SubclassNames(ns, cls.className, true, &classes);
    if (FAILED(hr)) return hr;
    for (const std::wstring& c : classes) {
        path->className = c;
        std::vector<CimObject> found;
        hr = LoadObjects("SELECT ns, data FROM instances WHERE ns = ? AND path = ?", {U8(ns), U8(path->CanonicalKey())},
                         &found);
        if (FAILED(hr)) return hr;
        if (!found.empty()) {
            *out = std::move(found[0]);
            return S_OK;
        }
    }
    return WBEM_E_NOT_FOUND;
}

HRESULT Repository::PutInstance(const std::wstring& nsText, const CimObject& instance, LONG flags, bool* created) {
    std::wstring ns = NormalizeNamespace(nsText);
    if (created) *created = false;
    if (instance.IsClass()) return WBEM_E_INVALID_PARAMETER;
    Transaction transaction(*this);
    if (FAILED(transaction.Begin())) return transaction.Begin();
    CimObject cls;
    HRESULT hr = GetClass(ns, instance.className, &cls);
    if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_CLASS;
    if (FAILED(hr)) return hr;
    if (HasTrueQualifier(cls.qualifiers, L"abstract") || HasTrueQualifier(cls.qualifiers, L"dynamic"))
        return WBEM_E_INVALID_OPERATION;
    std::unordered_map<std::wstring, const Property*> declaredByName;  // linear in the property count
    declaredByName.reserve(cls.properties.size());
    for (const Property& p : cls.properties) declaredByName.emplace(LowerName(p.name), &p);
    for (const Property& p : instance.properties) {
        auto declared = declaredByName.find(LowerName(p.name));
        if (declared == declaredByName.end()) return WBEM_E_INVALID_OBJECT;
        if (declared->second->type != p.type || !ValueFitsType(p.value, p.type)) return WBEM_E_TYPE_MISMATCH;
    }
    auto keys = KeyProperties(instance);
    if (keys.empty() && !HasTrueQualifier(cls.qualifiers, L"singleton")) return WBEM_E_NO_KEY;
    for (const Property* k : keys)
        if (k->value.null) return WBEM_E_ILLEGAL_NULL;
    auto path = ParseObjectPath(RelativePath(instance));
    if (!path) return WBEM_E_INVALID_OBJECT;
    std::string key = U8(path->CanonicalKey());
    bool exists = HasRows("SELECT 1 FROM instances WHERE ns = ? AND path = ?", {U8(ns), key});
    if (exists && (flags & WBEM_FLAG_CREATE_ONLY)) return WBEM_E_ALREADY_EXISTS;
    if (!exists && (flags & WBEM_FLAG_UPDATE_ONLY)) return WBEM_E_NOT_FOUND;
    bool isNamespace = NamesEqual(cls.className, L"__NAMESPACE");
    if (isNamespace && !exists) {
        const Property* name = FindProperty(instance, L"Name");
        std::wstring child = std::get<std::wstring>(name->value.elements[0]);
        if (!IsValidNamespaceName(child)) return WBEM_E_INVALID_NAMESPACE;
        if (!NamespaceExists(ns + L"\\" + child)) {
            hr = CreateNamespace(ns + L"\\" + child);
            if (FAILED(hr)) return hr;
        }
    }
    CimObject unstamped;
    const CimObject& stored = Unstamped(instance, &unstamped);
    Statement s(db_, exists ? "UPDATE instances SET class = ?2, data = ?4 WHERE ns = ?1 AND path = ?3"
                            : "INSERT INTO instances(ns, class, path, data) VALUES(?1, ?2, ?3, ?4)");
    s.Args({U8(ns), U8(cls.className), key});
    s.Blob(4, EncodeObject(stored));
    if (s.Step() != SQLITE_DONE) return WBEM_E_CRITICAL_ERROR;
    if (created) *created = !exists;
    return transaction.Commit();
}

HRESULT Repository::DeleteInstance(const std::wstring& nsText, const std::wstring& path) {
    std::wstring ns = NormalizeNamespace(nsText);
    Transaction transaction(*this);
    if (FAILED(transaction.Begin())) return transaction.Begin();
    CimObject instance;
    HRESULT hr = GetInstance(ns, path, &instance);
    if (FAILED(hr)) return hr;
    auto canonical = ParseObjectPath(RelativePath(instance));
    if (!canonical) return WBEM_E_INVALID_OBJECT;
    Statement s(db_, "DELETE FROM instances WHERE ns = ? AND path = ?");
    s.Args({U8(ns), U8(canonical->CanonicalKey())});
    if (s.Step() != SQLITE_DONE) return WBEM_E_CRITICAL_ERROR;
    if (NamesEqual(instance.className, L"__NAMESPACE")) {
        const Property* name = FindProperty(instance, L"Name");
        hr = DeleteNamespaceTree(ns + L"\\" + std::get<std::wstring>(name->value.elements[0]));
        if (FAILED(hr)) return hr;
    }
    return transaction.Commit();
}

HRESULT Repository::EnumInstances(const std::wstring& nsText, const std::wstring& className, LONG flags,
                                  std::vector<CimObject>* out) {
    return CachedList(true, nsText, className, flags & WBEM_FLAG_SHALLOW, out, &Repository::LoadInstances);
}

HRESULT Repository::LoadInstances(const std::wstring& nsText, const std::wstring& className, LONG flags,
                                  std::vector<CimObject>* out) {
    std::wstring ns = NormalizeNamespace(nsText);
    out->clear();
    CimObject cls;
    HRESULT hr = GetClass(ns, className, &cls);
    if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_CLASS;
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> classes{cls.className};
    if (!(flags & WBEM_FLAG_SHALLOW)) {
        hr = SubclassNames(ns, cls.className, true, &classes);
        if (FAILED(hr)) return hr;
    }
    for (const std::wstring& c : classes) {
        hr = LoadObjects("SELECT ns, data FROM instances WHERE ns = ? AND class = ? ORDER BY rowid", {U8(ns), U8(c)},
                         out);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Repository::CachedList(bool instances, const std::wstring& nsText, const std::wstring& className, LONG flags,
                               std::vector<CimObject>* out, ListLoader load) {
    ReadCache* cache = Cache();
    if (cache == nullptr) return (this->*load)(nsText, className, flags, out);
    ReadCache::Key key{ReadCache::Fold(NormalizeNamespace(nsText)), ReadCache::Fold(className), flags};
    auto lists = [instances](ReadCache* c) { return instances ? &c->instanceLists : &c->classLists; };
    auto found = lists(cache)->find(key);
    if (found == lists(cache)->end()) {
        ReadCache::ListAnswer answer;
        answer.result = (this->*load)(nsText, className, flags, &answer.objects);
        if (answer.result == WBEM_E_CRITICAL_ERROR || answer.result == WBEM_E_TIMED_OUT) {
            *out = std::move(answer.objects);
            return answer.result;
        }
        // The load may have emptied the cache (it revalidates on its own reads): look it up again.
        cache = Cache();
        if (cache == nullptr) {
            *out = std::move(answer.objects);
            return answer.result;
        }
        found = lists(cache)->emplace(std::move(key), std::move(answer)).first;
    }
    *out = found->second.objects;
    return found->second.result;
}

HRESULT Repository::Providers(const std::wstring& ns, std::vector<CimObject>* out) {
    return EnumInstances(ns, L"__Win32Provider", 0, out);
}

HRESULT Repository::Registrations(const std::wstring& ns, std::vector<CimObject>* out) {
    return EnumInstances(ns, L"__ProviderRegistration", 0, out);
}

}  // namespace qv::wbem
