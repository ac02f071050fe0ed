// One end of an anonymous pipe behind a HANDLE (internal to the platform: processes hand these to children).
#pragma once

#include "qv_kernel_object.h"

namespace qv::win {

class PipeEnd final : public KernelObject {
public:
    // Takes ownership of `fd` (opened close-on-exec).
    PipeEnd(int fd, bool inheritable) : fd_(fd), inheritable_(inheritable) {}
    ~PipeEnd() override;
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;

    BOOL Read(void* buffer, DWORD size, DWORD* done) override;
    BOOL Write(const void* buffer, DWORD size, DWORD* done) override;

    int fd() const { return fd_; }
    bool inheritable() const { return inheritable_; }

private:
    int fd_;
    bool inheritable_;
};

}  // namespace qv::win
