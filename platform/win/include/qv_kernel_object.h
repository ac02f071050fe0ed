// Kernel objects behind HANDLE values: files now, devices, events, threads and processes in later layers.
//
// A HANDLE is a pointer to a registered KernelObject; CloseHandle destroys it. Unknown or closed handles are
// refused with ERROR_INVALID_HANDLE instead of being dereferenced.
#pragma once

#include "windef.h"

namespace qv::win {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Called by ReadFile/WriteFile on this handle. The default refuses with ERROR_INVALID_FUNCTION.
    virtual BOOL Read(void* buffer, DWORD size, DWORD* done);
    virtual BOOL Write(const void* buffer, DWORD size, DWORD* done);
};

// Registers the object and returns its handle; the table owns it from then on.
HANDLE RegisterHandle(KernelObject* object);
// The object behind a live handle, or null (with ERROR_INVALID_HANDLE set).
KernelObject* LookupHandle(HANDLE handle);
template <typename T>
T* LookupHandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookupHandle(handle));
}

}  // namespace qv::win
