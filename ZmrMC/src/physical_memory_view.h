// A read-only window of physical memory, mapped through the native section calls of "ntdll.dll" on the NT
// family (where user processes cannot see low physical memory) and used directly elsewhere.
//
// One object per use, on the user's stack; the mapping lives until Destroy or the destructor. Failures show
// only as a null Address() and the error text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zmrmc {

class PhysicalMemoryView {
public:
    PhysicalMemoryView() = default;
    ~PhysicalMemoryView() { Destroy(); }
    PhysicalMemoryView(const PhysicalMemoryView&) = delete;
    PhysicalMemoryView& operator=(const PhysicalMemoryView&) = delete;

    // Maps `length` bytes at physical `address`; Address() is then readable for that many bytes.
    void Create(uint32_t address, uint32_t length);
    // The window's first byte (the requested address, not the rounded start of the view), or null.
    const uint8_t* Address() const;
    const char* ErrorText() const { return error_.c_str(); }
    void Destroy();

private:
    uint32_t address_ = 0;
    uint32_t length_ = 0;
    HANDLE section_ = nullptr;
    void* view_ = nullptr;      // where the system mapped the view
    uint64_t view_offset_ = 0;  // the physical address the view starts at, as the system rounded it
    bool nt_ = false;
    bool direct_ = false;  // not NT: the physical address is the address
    std::string error_ = "No Error";
};

}  // namespace zmrmc
