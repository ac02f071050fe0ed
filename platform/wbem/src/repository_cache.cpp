// The repository's read cache and when it is emptied.
#include "repository_cache.h"

#include <cwctype>

namespace qv::wbem {

Repository::ReadCache::ReadCache(sqlite3* db) {
    if (sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &version_, nullptr) != SQLITE_OK) version_ = nullptr;
}

Repository::ReadCache::~ReadCache() { sqlite3_finalize(version_); }

std::wstring Repository::ReadCache::Fold(const std::wstring& name) {
    std::wstring folded = name;
    for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towupper(c));
    return folded;
}

void Repository::ReadCache::Clear() {
    namespaces.clear();
    classes.clear();
    classLists.clear();
    instanceLists.clear();
}

bool Repository::ReadCache::Revalidate(uint64_t localWrites) {
    if (version_ == nullptr) return false;
    int rc = sqlite3_step(version_);
    int64_t version = rc == SQLITE_ROW ? sqlite3_column_int64(version_, 0) : -1;
    sqlite3_reset(version_);
    if (version < 0) {
        Clear();
        return false;
    }
    // The data version moves only for other connections' commits; this connection's writes are counted.
    if (version != dataVersion_ || localWrites != localWrites_) {
        Clear();
        dataVersion_ = version;
        localWrites_ = localWrites;
    }
    return true;
}

Repository::ReadCache* Repository::Cache() {
    if (depth_ > 0) return nullptr;
    if (!cache_) cache_ = std::make_unique<ReadCache>(db_);
    return cache_->Revalidate(localWrites_) ? cache_.get() : nullptr;
}

}  // namespace qv::wbem
