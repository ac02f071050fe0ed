// "ntdll.dll": the section calls over the simulated machine's physical memory, and the module that names them.

#include "qv_firmware.h"
#include "qv_kernel_object.h"
#include "qv_root_machine.h"
#include "qv_module_unload.h"
#include "system_modules.h"
#include "windows.h"
#include "winternl.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

namespace {

constexpr uint64_t kPhysicalLimit = 0x100000;  // the machine's physical address space below 1 MB
constexpr uint64_t kSectionAlignment = 0x1000;

class PhysicalMemorySection : public qv::win::KernelObject {};

std::mutex views_mutex;
std::map<void*, size_t>& Views() {
    static auto* views = qv::win::KeepUntilUnload(new std::map<void*, size_t>());
    return *views;
}

bool IsPhysicalMemoryName(const UNICODE_STRING* name, bool ignoreCase) {
    static const std::wstring wanted = L"\\Device\\PhysicalMemory";
    if (name == nullptr || name->Buffer == nullptr || name->Length % sizeof(WCHAR) != 0) return false;
    std::wstring given(name->Buffer, name->Length / sizeof(WCHAR));
    if (given.size() != wanted.size()) return false;
    for (size_t i = 0; i < given.size(); ++i) {
        wchar_t a = given[i], b = wanted[i];
        if (ignoreCase ? std::towlower(static_cast<wint_t>(a)) != std::towlower(static_cast<wint_t>(b)) : a != b)
            return false;
    }
    return true;
}

void QvRtlInitUnicodeString(PUNICODE_STRING target, const WCHAR* source) {
    if (target == nullptr) return;
    size_t length = source != nullptr ? std::wcslen(source) * sizeof(WCHAR) : 0;
    length = std::min<size_t>(length, 0xFFFC);
    target->Buffer = const_cast<WCHAR*>(source);
    target->Length = static_cast<USHORT>(length);
    target->MaximumLength = static_cast<USHORT>(source != nullptr ? length + sizeof(WCHAR) : 0);
}

NTSTATUS QvNtOpenSection(HANDLE* section, DWORD desiredAccess, POBJECT_ATTRIBUTES attributes) {
    if (section == nullptr || attributes == nullptr) return STATUS_INVALID_PARAMETER;
    *section = nullptr;
    if (!IsPhysicalMemoryName(attributes->ObjectName, (attributes->Attributes & OBJ_CASE_INSENSITIVE) != 0))
        return STATUS_OBJECT_NAME_NOT_FOUND;
    // Physical memory is never writable or executable from a user process here.
    if ((desiredAccess & ~static_cast<DWORD>(SECTION_MAP_READ | SECTION_QUERY)) != 0) return STATUS_ACCESS_DENIED;
    *section = qv::win::RegisterHandle(new PhysicalMemorySection());
    return STATUS_SUCCESS;
}

NTSTATUS QvNtMapViewOfSection(HANDLE section, HANDLE process, void** baseAddress, ULONG_PTR, SIZE_T,
                              LARGE_INTEGER* sectionOffset, SIZE_T* viewSize, SECTION_INHERIT inherit, ULONG,
                              ULONG protect) {
    if (qv::win::LookupHandleAs<PhysicalMemorySection>(section) == nullptr) return STATUS_INVALID_HANDLE;
    if (process != GetCurrentProcess()) return STATUS_INVALID_HANDLE;
    if (baseAddress == nullptr || viewSize == nullptr || sectionOffset == nullptr || *viewSize == 0 ||
        (inherit != ViewShare && inherit != ViewUnmap) || sectionOffset->QuadPart < 0)
        return STATUS_INVALID_PARAMETER;
    if (protect != PAGE_READONLY) return STATUS_INVALID_PAGE_PROTECTION;
    // The system rounds the offset down and the size up to whole pages.
    uint64_t start = static_cast<uint64_t>(sectionOffset->QuadPart) & ~(kSectionAlignment - 1);
    uint64_t end = static_cast<uint64_t>(sectionOffset->QuadPart) + *viewSize;
    end = (end + kSectionAlignment - 1) & ~(kSectionAlignment - 1);
    if (end > kPhysicalLimit) return STATUS_INVALID_PARAMETER;
    size_t length = static_cast<size_t>(end - start);
    void* view = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (view == MAP_FAILED) return STATUS_NO_MEMORY;
    try {
        // Only the ROM area (0xE0000 up) holds firmware bytes; the rest of the window reads as zero.
        uint64_t from = std::max<uint64_t>(start, 0xE0000);
        if (from < end) {
            qv::win::RootMachine()->Transact([&](qv::machine::Firmware& firmware) {
                qv::machine::Bytes rom = firmware.ReadRomArea(static_cast<uint32_t>(from),
                                                              static_cast<uint32_t>(end - from));
                std::memcpy(static_cast<uint8_t*>(view) + (from - start), rom.data(),
                            std::min<size_t>(rom.size(), static_cast<size_t>(end - from)));
            });
        }
    } catch (...) {
        munmap(view, length);
        return STATUS_ACCESS_DENIED;
    }
    mprotect(view, length, PROT_READ);
    {
        std::lock_guard lock(views_mutex);
        Views()[view] = length;
    }
    sectionOffset->QuadPart = static_cast<LONGLONG>(start);
    *viewSize = length;
    *baseAddress = view;
    return STATUS_SUCCESS;
}

NTSTATUS QvNtUnmapViewOfSection(HANDLE process, void* baseAddress) {
    if (process != GetCurrentProcess()) return STATUS_INVALID_HANDLE;
    size_t length = 0;
    {
        std::lock_guard lock(views_mutex);
        auto it = Views().find(baseAddress);
        if (it == Views().end()) return STATUS_NOT_MAPPED_VIEW;
        length = it->second;
        Views().erase(it);
    }
    munmap(baseAddress, length);
    return STATUS_SUCCESS;
}

ULONG QvRtlNtStatusToDosError(NTSTATUS status) {
    switch (static_cast<uint32_t>(status)) {
    case 0: return ERROR_SUCCESS;
    case 0xC0000008: return ERROR_INVALID_HANDLE;
    case 0xC000000D: return ERROR_INVALID_PARAMETER;
    case 0xC0000017: return ERROR_NOT_ENOUGH_MEMORY;
    case 0xC0000022: return ERROR_ACCESS_DENIED;
    case 0xC0000034: return ERROR_FILE_NOT_FOUND;
    default: return 317;  // ERROR_MR_MID_NOT_FOUND: no message for the status
    }
}

struct NativeEntry {
    const char* name;
    void* function;
};
const NativeEntry kNtdll[] = {
    {"RtlInitUnicodeString", reinterpret_cast<void*>(&QvRtlInitUnicodeString)},
    {"NtOpenSection", reinterpret_cast<void*>(&QvNtOpenSection)},
    {"NtMapViewOfSection", reinterpret_cast<void*>(&QvNtMapViewOfSection)},
    {"NtUnmapViewOfSection", reinterpret_cast<void*>(&QvNtUnmapViewOfSection)},
    {"RtlNtStatusToDosError", reinterpret_cast<void*>(&QvRtlNtStatusToDosError)},
};

}  // namespace

namespace qv::win {

void* NtdllExport(LPCSTR name) {
    for (const NativeEntry& entry : kNtdll)
        if (std::strcmp(entry.name, name) == 0) return entry.function;
    return nullptr;
}

}  // namespace qv::win
