// VirtualAlloc: pages of one shared memory file mapped below 4 GB. Drivers receive the file when a device is
// opened, so the addresses a request block carries mean the same bytes to them.

#include "qv_module_unload.h"
#include "windows.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace {

constexpr size_t kAreaSize = 64u << 20;
constexpr size_t kPage = 4096;

struct Area {
    int fd = -1;
    uint8_t* base = nullptr;
    std::map<size_t, size_t> used;  // page offset -> length in bytes
};

std::mutex area_mutex;

// A library's copy of the platform gives its area back at unload (the drivers it started are gone by then).
void ReleaseArea(void* held) {
    auto* a = static_cast<Area*>(held);
    if (a->base != nullptr) ::munmap(a->base, kAreaSize);
    if (a->fd >= 0) ::close(a->fd);
    delete a;
}

Area* TheArea() {
    static Area* area = [] {
        auto* a = new Area();
        qv::win::AtModuleUnloadRelease(&ReleaseArea, a);
        // Sealed at its size: a driver maps only memory that cannot be cut short under its requests.
        int fd = ::memfd_create("qv-user-memory", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kAreaSize)) != 0 ||
            ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
            if (fd >= 0) ::close(fd);
            return a;
        }
        void* p = ::mmap(nullptr, kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_32BIT, fd, 0);
        if (p == MAP_FAILED || reinterpret_cast<uintptr_t>(p) + kAreaSize > 0xFFFFFFFFu) {
            if (p != MAP_FAILED) ::munmap(p, kAreaSize);
            ::close(fd);
            return a;
        }
        a->fd = fd;
        a->base = static_cast<uint8_t*>(p);
        return a;
    }();
    return area->base != nullptr ? area : nullptr;
}

}  // namespace

namespace qv::win {
bool UserMemoryArea(int* fd, uint32_t* base, uint32_t* size) {
    std::lock_guard lock(area_mutex);
    Area* a = TheArea();
    if (a == nullptr) return false;
    *fd = a->fd;
    *base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(a->base));
    *size = static_cast<uint32_t>(kAreaSize);
    return true;
}
}  // namespace qv::win

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD) {
    if (address != nullptr || size == 0 || size > kAreaSize || (allocationType & MEM_COMMIT) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(area_mutex);
    Area* a = TheArea();
    if (a == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    size_t length = (size + kPage - 1) / kPage * kPage;
    size_t at = 0;
    for (const auto& [offset, used] : a->used) {
        if (offset - at >= length) break;
        at = offset + used;
    }
    if (at + length > kAreaSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    a->used[at] = length;
    std::fill(a->base + at, a->base + at + length, 0);  // fresh pages are zero, as on Windows
    return a->base + at;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
    std::lock_guard lock(area_mutex);
    Area* a = TheArea();
    if (a == nullptr || address == nullptr || freeType != MEM_RELEASE || size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto it = a->used.find(static_cast<size_t>(static_cast<uint8_t*>(address) - a->base));
    if (static_cast<uint8_t*>(address) < a->base || it == a->used.end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    a->used.erase(it);
    return TRUE;
}
