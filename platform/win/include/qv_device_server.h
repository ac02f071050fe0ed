// The driver side of devices: what a driver program uses to serve its device names (winioctl.h).
//
// A device "\\.\Name" is an abstract-namespace socket named after the system root and the upper-cased name, so
// it exists exactly while its driver process runs. One connection per opened handle; the first message of a
// connection brings the caller's shared memory area (memoryapi.h), through which DeviceCaller reaches the
// addresses that request blocks carry.
#pragma once

#include "windef.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv::win {

// The caller of one request: its process and the memory its 32-bit addresses refer to.
class DeviceCaller {
public:
    virtual ~DeviceCaller() = default;
    virtual uint64_t Id() const = 0;  // one per open handle
    // False when [address, address + size) is not memory the caller shared.
    virtual bool Read(uint32_t address, void* out, size_t size) const = 0;
    virtual bool Write(uint32_t address, const void* in, size_t size) const = 0;
};

struct DeviceRequest {
    std::wstring device;  // the name opened, upper-cased, without "\\.\"
    DWORD code = 0;
    std::vector<uint8_t> in;
    DWORD outSize = 0;
    std::vector<uint8_t> outBuffer;  // "neither" requests: the caller's output buffer as it was sent
};

// Serves one request: fills `out` (at most outSize bytes) and returns TRUE, or returns FALSE with `error`.
using DeviceHandler = std::function<BOOL(const DeviceRequest&, DeviceCaller&, std::vector<uint8_t>& out, DWORD& error)>;

// Largest input or output of one request.
constexpr DWORD kMaxDeviceTransfer = 64 * 1024;

// Caller side: connects to a device name without "\\.\" (what CreateFileW does for device names).
HANDLE OpenDevice(const std::wstring& name);

// The socket address of a device of this system root.
std::string DeviceAddress(const std::wstring& name);

// Creates the devices; fails when one of them is already served. Then serves requests one at a time until
// SIGTERM or SIGINT arrives, the system root disappears, or the process QV_DRIVER_WATCH_PID names (test runs)
// has ended; `closed` is told about every handle that closes.
class DeviceServer {
public:
    explicit DeviceServer(std::vector<std::wstring> names);
    ~DeviceServer();
    bool Create(std::string* error);
    void Run(const DeviceHandler& handler, const std::function<void(uint64_t)>& closed);

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace qv::win
