// SQLite storage of the registry.

#include "registry_store.h"

#include "qv_module_unload.h"
#include "qv_private_files.h"
#include "qv_system_root.h"
#include "windows.h"
#include "winreg.h"

#include <sqlite3.h>

#include <mutex>
#include <sstream>

namespace qv::win::registry {
namespace {

constexpr int kBusyTimeoutMs = 10000;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL, data BLOB, PRIMARY KEY(key, name));"
    "INSERT OR IGNORE INTO keys VALUES(1, 0, 'HKEY_LOCAL_MACHINE');"
    "INSERT OR IGNORE INTO keys VALUES(2, 0, 'HKEY_CURRENT_USER');"
    "INSERT OR IGNORE INTO keys VALUES(3, 0, 'HKEY_USERS');";

std::mutex db_mutex;
sqlite3* db = nullptr;
std::filesystem::path& DatabaseRoot() {
    static auto* root = KeepUntilUnload(new std::filesystem::path());
    return *root;
}

// A library's copy of the platform closes its database when it is unloaded.
void CloseDatabase(void*) {
    std::lock_guard lock(db_mutex);
    if (db != nullptr) sqlite3_close(db);
    db = nullptr;
}

// Opens (or reopens for a new system root) the database; null when it cannot be opened.
sqlite3* Database() {
    const auto& root = SystemRoot();
    auto& db_root = DatabaseRoot();
    if (db != nullptr && db_root == root) return db;
    if (db != nullptr) sqlite3_close(db);
    db = nullptr;
    sqlite3* opened = nullptr;
    std::string file = (root / "registry.db").string();
    CreatePrivateFile(file);  // the database and its journals are the owner's only
    if (sqlite3_open_v2(file.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(opened);
        return nullptr;
    }
    sqlite3_busy_timeout(opened, kBusyTimeoutMs);
    sqlite3_exec(opened, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    if (sqlite3_exec(opened, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(opened);
        return nullptr;
    }
    static std::once_flag closing;
    std::call_once(closing, [] { AtModuleUnloadRelease(&CloseDatabase, nullptr); });
    db = opened;
    db_root = root;
    return db;
}

class Statement {
public:
    Statement(sqlite3* d, const char* sql) { ok_ = sqlite3_prepare_v2(d, sql, -1, &s_, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return ok_; }
    Statement& Bind(int i, int64_t v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Statement& Bind(int i, const std::string& v) {
        sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int i, const std::vector<BYTE>& v) {
        sqlite3_bind_blob(s_, i, v.empty() ? "" : static_cast<const void*>(v.data()), static_cast<int>(v.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return ok_ ? sqlite3_step(s_) : SQLITE_ERROR; }
    int64_t Int(int c) { return sqlite3_column_int64(s_, c); }
    std::string Text(int c) {
        auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s_, c));
        return t != nullptr ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(s_, c))) : std::string();
    }
    std::vector<BYTE> Blob(int c) {
        auto* b = static_cast<const BYTE*>(sqlite3_column_blob(s_, c));
        return b != nullptr ? std::vector<BYTE>(b, b + sqlite3_column_bytes(s_, c)) : std::vector<BYTE>();
    }

private:
    sqlite3_stmt* s_ = nullptr;
    bool ok_ = false;
};

// One transaction under the process lock; rolled back unless committed.
class Transaction {
public:
    explicit Transaction(bool write) : lock_(db_mutex) {
        d_ = Database();
        if (d_ == nullptr) return;
        ok_ = sqlite3_exec(d_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (ok_ && !done_) sqlite3_exec(d_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return ok_; }
    sqlite3* db() const { return d_; }
    LONG Commit() {
        done_ = true;
        return sqlite3_exec(d_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK ? ERROR_SUCCESS : ERROR_CANTWRITE;
    }

private:
    std::lock_guard<std::mutex> lock_;
    sqlite3* d_ = nullptr;
    bool ok_ = false;
    bool done_ = false;
};

std::vector<std::string> SplitPath(const std::wstring& path) {
    std::vector<std::string> parts;
    std::wstring part;
    for (wchar_t c : path + L"\\") {
        if (c == L'\\') {
            if (!part.empty()) parts.push_back(ToUtf8(part));
            part.clear();
        } else {
            part += c;
        }
    }
    return parts;
}

bool Exists(sqlite3* d, KeyId id) {
    Statement s(d, "SELECT 1 FROM keys WHERE id=?");
    return s.Bind(1, id).Step() == SQLITE_ROW;
}

// Finds the child key; 0 when there is none, -1 on a database error.
KeyId Child(sqlite3* d, KeyId parent, const std::string& name) {
    Statement s(d, "SELECT id FROM keys WHERE parent=? AND name=?");
    int rc = s.Bind(1, parent).Bind(2, name).Step();
    if (rc == SQLITE_ROW) return s.Int(0);
    return rc == SQLITE_DONE ? 0 : -1;
}

LONG Walk(sqlite3* d, KeyId parent, const std::wstring& path, KeyId* id) {
    if (!Exists(d, parent)) return ERROR_KEY_DELETED;
    KeyId at = parent;
    for (const auto& part : SplitPath(path)) {
        at = Child(d, at, part);
        if (at < 0) return ERROR_BADDB;
        if (at == 0) return ERROR_FILE_NOT_FOUND;
    }
    *id = at;
    return ERROR_SUCCESS;
}

bool DeleteSubtree(sqlite3* d, KeyId id, bool self) {
    std::vector<KeyId> children;
    {
        Statement s(d, "SELECT id FROM keys WHERE parent=?");
        s.Bind(1, id);
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) children.push_back(s.Int(0));
        if (rc != SQLITE_DONE) return false;
    }
    for (KeyId child : children)
        if (!DeleteSubtree(d, child, true)) return false;
    if (Statement(d, "DELETE FROM vals WHERE key=?").Bind(1, id).Step() != SQLITE_DONE) return false;
    if (self && Statement(d, "DELETE FROM keys WHERE id=?").Bind(1, id).Step() != SQLITE_DONE) return false;
    return true;
}

}  // namespace

LONG CreateKey(KeyId parent, const std::wstring& path, KeyId* id, bool* created) {
    Transaction t(true);
    if (!t.ok()) return ERROR_BADDB;
    if (!Exists(t.db(), parent)) return ERROR_KEY_DELETED;
    KeyId at = parent;
    *created = false;
    for (const auto& part : SplitPath(path)) {
        KeyId next = Child(t.db(), at, part);
        if (next < 0) return ERROR_BADDB;
        if (next == 0) {
            if (Statement(t.db(), "INSERT INTO keys(parent, name) VALUES(?, ?)").Bind(1, at).Bind(2, part).Step() !=
                SQLITE_DONE)
                return ERROR_CANTWRITE;
            next = sqlite3_last_insert_rowid(t.db());
            *created = true;
        }
        at = next;
    }
    LONG rc = t.Commit();
    if (rc == ERROR_SUCCESS) *id = at;
    return rc;
}

LONG OpenKey(KeyId parent, const std::wstring& path, KeyId* id) {
    Transaction t(false);
    if (!t.ok()) return ERROR_BADDB;
    return Walk(t.db(), parent, path, id);
}

LONG KeyExists(KeyId id) {
    Transaction t(false);
    if (!t.ok()) return ERROR_BADDB;
    return Exists(t.db(), id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG DeleteKey(KeyId parent, const std::wstring& path, bool tree) {
    Transaction t(true);
    if (!t.ok()) return ERROR_BADDB;
    KeyId id = 0;
    if (LONG rc = Walk(t.db(), parent, path, &id); rc != ERROR_SUCCESS) return rc;
    bool self = !SplitPath(path).empty();
    if (!tree) {
        if (!self) return ERROR_INVALID_PARAMETER;
        if (Statement(t.db(), "SELECT 1 FROM keys WHERE parent=?").Bind(1, id).Step() == SQLITE_ROW)
            return ERROR_ACCESS_DENIED;
    }
    if (id <= kUsers && self) return ERROR_ACCESS_DENIED;  // the hives themselves stay
    if (!DeleteSubtree(t.db(), id, self)) return ERROR_CANTWRITE;
    return t.Commit();
}

LONG SetValue(KeyId key, const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
    Transaction t(true);
    if (!t.ok()) return ERROR_BADDB;
    if (!Exists(t.db(), key)) return ERROR_KEY_DELETED;
    Statement s(t.db(), "INSERT OR REPLACE INTO vals(key, name, type, data) VALUES(?, ?, ?, ?)");
    if (s.Bind(1, key).Bind(2, ToUtf8(name)).Bind(3, type).BindBlob(4, data).Step() != SQLITE_DONE)
        return ERROR_CANTWRITE;
    return t.Commit();
}

LONG QueryValue(KeyId key, const std::wstring& name, DWORD* type, std::vector<BYTE>* data) {
    Transaction t(false);
    if (!t.ok()) return ERROR_BADDB;
    if (!Exists(t.db(), key)) return ERROR_KEY_DELETED;
    Statement s(t.db(), "SELECT type, data FROM vals WHERE key=? AND name=?");
    int rc = s.Bind(1, key).Bind(2, ToUtf8(name)).Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return ERROR_BADDB;
    *type = static_cast<DWORD>(s.Int(0));
    *data = s.Blob(1);
    return ERROR_SUCCESS;
}

LONG DeleteValue(KeyId key, const std::wstring& name) {
    Transaction t(true);
    if (!t.ok()) return ERROR_BADDB;
    if (!Exists(t.db(), key)) return ERROR_KEY_DELETED;
    Statement s(t.db(), "DELETE FROM vals WHERE key=? AND name=?");
    if (s.Bind(1, key).Bind(2, ToUtf8(name)).Step() != SQLITE_DONE) return ERROR_CANTWRITE;
    if (sqlite3_changes(t.db()) == 0) return ERROR_FILE_NOT_FOUND;
    return t.Commit();
}

LONG EnumKey(KeyId key, DWORD index, std::wstring* name) {
    Transaction t(false);
    if (!t.ok()) return ERROR_BADDB;
    if (!Exists(t.db(), key)) return ERROR_KEY_DELETED;
    Statement s(t.db(), "SELECT name FROM keys WHERE parent=? ORDER BY name LIMIT 1 OFFSET ?");
    int rc = s.Bind(1, key).Bind(2, index).Step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return ERROR_BADDB;
    *name = FromUtf8(s.Text(0));
    return ERROR_SUCCESS;
}

LONG EnumValue(KeyId key, DWORD index, std::wstring* name, DWORD* type, std::vector<BYTE>* data) {
    Transaction t(false);
    if (!t.ok()) return ERROR_BADDB;
    if (!Exists(t.db(), key)) return ERROR_KEY_DELETED;
    Statement s(t.db(), "SELECT name, type, data FROM vals WHERE key=? ORDER BY name LIMIT 1 OFFSET ?");
    int rc = s.Bind(1, key).Bind(2, index).Step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return ERROR_BADDB;
    *name = FromUtf8(s.Text(0));
    *type = static_cast<DWORD>(s.Int(1));
    *data = s.Blob(2);
    return ERROR_SUCCESS;
}

}  // namespace qv::win::registry
