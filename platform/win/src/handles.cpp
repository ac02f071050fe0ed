// The process's handle table.

#include "qv_kernel_object.h"
#include "qv_module_unload.h"
#include "windows.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace qv::win {
namespace {

std::mutex table_mutex;
std::unordered_map<HANDLE, std::shared_ptr<KernelObject>>& Table() {
    static auto* table = qv::win::KeepUntilUnload(new std::unordered_map<HANDLE, std::shared_ptr<KernelObject>>());
    return *table;
}

}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD* done) {
    if (done != nullptr) *done = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD* done) {
    if (done != nullptr) *done = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE RegisterHandle(KernelObject* object) {
    std::lock_guard lock(table_mutex);
    auto handle = static_cast<HANDLE>(object);
    Table()[handle] = std::shared_ptr<KernelObject>(object);
    return handle;
}

KernelObject* LookupHandle(HANDLE handle) {
    std::lock_guard lock(table_mutex);
    auto it = Table().find(handle);
    if (it == Table().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second.get();
}

}  // namespace qv::win

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<qv::win::KernelObject> object;
    {
        std::lock_guard lock(qv::win::table_mutex);
        auto it = qv::win::Table().find(handle);
        if (it == qv::win::Table().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        qv::win::Table().erase(it);
    }
    return TRUE;  // the object is destroyed here, outside the table lock
}
