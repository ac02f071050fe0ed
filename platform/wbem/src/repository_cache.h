// What the repository's reads answered, kept while the database stays unchanged.
//
// Filled by GetClass, NamespaceExists, EnumClasses and EnumInstances (the provider registrations and
// __Win32Provider instances a request looks up are instances too) outside write scopes. It is emptied before
// a read when SQLite's data version moved (another connection committed: a MOF compile in another process)
// or when this connection began a write scope since it was filled.
#pragma once

#include "qv_wbem_repository.h"

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace qv::wbem {

struct Repository::ReadCache {
    explicit ReadCache(sqlite3* db);
    ~ReadCache();
    ReadCache(const ReadCache&) = delete;
    ReadCache& operator=(const ReadCache&) = delete;

    // Empties the cache when the database changed since the last call; false when the version cannot be read
    // (then nothing is answered from the cache).
    bool Revalidate(uint64_t localWrites);

    struct ClassAnswer {
        HRESULT result = S_OK;
        CimObject object;
    };
    struct ListAnswer {
        HRESULT result = S_OK;
        std::vector<CimObject> objects;
    };
    using Key = std::tuple<std::wstring, std::wstring, LONG>;  // namespace, class, flags (names folded)
    static std::wstring Fold(const std::wstring& name);

    std::map<std::wstring, bool> namespaces;
    std::map<Key, ClassAnswer> classes;
    std::map<Key, ListAnswer> classLists;
    std::map<Key, ListAnswer> instanceLists;

private:
    void Clear();

    sqlite3_stmt* version_ = nullptr;
    int64_t dataVersion_ = -1;
    uint64_t localWrites_ = 0;
};

}  // namespace qv::wbem
