#include "physical_memory_view.h"

#include <winternl.h>

#include <cstdio>
#include <mutex>

namespace zmrmc {
namespace {

struct NativeCalls {
    RtlInitUnicodeStringFn initString = nullptr;
    NtUnmapViewOfSectionFn unmap = nullptr;
    NtOpenSectionFn openSection = nullptr;
    NtMapViewOfSectionFn map = nullptr;
    RtlNtStatusToDosErrorFn toDosError = nullptr;
    bool complete() const { return initString && unmap && openSection && map && toDosError; }
};

// Resolved once per process.
const NativeCalls& Native() {
    static NativeCalls calls;
    static std::once_flag once;
    std::call_once(once, [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll == nullptr) return;
        calls.initString = reinterpret_cast<RtlInitUnicodeStringFn>(GetProcAddress(ntdll, "RtlInitUnicodeString"));
        calls.unmap = reinterpret_cast<NtUnmapViewOfSectionFn>(GetProcAddress(ntdll, "NtUnmapViewOfSection"));
        calls.openSection = reinterpret_cast<NtOpenSectionFn>(GetProcAddress(ntdll, "NtOpenSection"));
        calls.map = reinterpret_cast<NtMapViewOfSectionFn>(GetProcAddress(ntdll, "NtMapViewOfSection"));
        calls.toDosError = reinterpret_cast<RtlNtStatusToDosErrorFn>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
    });
    return calls;
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

void PhysicalMemoryView::Create(uint32_t address, uint32_t length) {
    Destroy();
    error_ = "No Error";
    address_ = address;
    length_ = length;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    nt_ = GetVersionExA(&version) && version.dwPlatformId == 2;
    if (!nt_) {
        direct_ = true;  // the system maps low physical memory into every process
        return;
    }
    const NativeCalls& native = Native();
    if (!native.complete()) {
        error_ = "Entry points not found in NTDLL.DLL";
        return;
    }
    UNICODE_STRING name;
    native.initString(&name, L"\\device\\physicalmemory");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    NTSTATUS status = native.openSection(&section_, SECTION_MAP_READ, &attributes);
    if (!NT_SUCCESS(status)) {
        section_ = nullptr;
        error_ = Format("Unable to open \\device\\physicalmemory (status = %x)", static_cast<unsigned>(status));
        return;
    }
    LARGE_INTEGER offset;
    offset.QuadPart = address;
    SIZE_T size = length;
    void* base = nullptr;
    status = native.map(section_, GetCurrentProcess(), &base, 0, size, &offset, &size, ViewShare, 0, PAGE_READONLY);
    if (!NT_SUCCESS(status)) {
        error_ = Format("Could not map view of %X length %X (status = %x)", address, length,
                        static_cast<unsigned>(status));
        return;
    }
    view_ = base;
    view_offset_ = static_cast<uint64_t>(offset.QuadPart);
}

const uint8_t* PhysicalMemoryView::Address() const {
    if (direct_) return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address_));
    if (view_ == nullptr) return nullptr;
    return static_cast<const uint8_t*>(view_) + (address_ - view_offset_);
}

void PhysicalMemoryView::Destroy() {
    if (nt_ && view_ != nullptr) {
        NTSTATUS status = Native().unmap(GetCurrentProcess(), view_);
        if (!NT_SUCCESS(status)) error_ = Format("Unable to unmap view (status = %x)", static_cast<unsigned>(status));
    }
    if (section_ != nullptr) CloseHandle(section_);
    view_ = nullptr;
    section_ = nullptr;
    direct_ = false;
}

}  // namespace zmrmc
