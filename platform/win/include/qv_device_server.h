// The driver side of devices: what a driver program uses to serve its device names (winioctl.h).
//
// A device "\\.\Name" is a Unix socket <root>/devices/<NAME> (the name upper-cased). Only the processes of the
// installation may reach it, as a device's ACL admits only Administrators and SYSTEM on Windows: the folder
// belongs to the installation's owner (the owner of the system root) and admits nobody else (mode 0700); the
// driver checks the credentials of every caller that connects and admits root and the owner only; a caller
// takes a device only from a server run by root or the owner. A driver holds a lock beside each of its
// sockets while it runs, so a device is served exactly while its driver runs; the socket of a driver that was
// killed is replaced when the next one starts. A root whose folder path does not fit a socket address
// reaches its sockets through the folder's descriptor. One connection per opened handle; the first message of
// a connection brings the caller's shared memory area (memoryapi.h), through which DeviceCaller reaches the
// addresses that request blocks carry, and the handle's request channel (device_channel.h), through which its
// requests then go; a caller without a channel sends its requests over the socket.
#pragma once

#include "windef.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

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

// The driver's one-byte answer to a connection's greeting.
constexpr char kDeviceGreeted = 1;
constexpr char kDeviceRefused = 0;  // the caller's user is not admitted

// Caller side: connects to a device name without "\\.\" (what CreateFileW does for device names).
// INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when no driver serves it, ERROR_ACCESS_DENIED when this
// process may not use it or the one serving it is not the installation's.
HANDLE OpenDevice(const std::wstring& name);

// Whether processes of this user may open or serve this root's devices: root and the installation's owner.
bool DeviceUserAdmitted(uid_t uid);

// The devices' folder <root>/devices, opened as the base of socket addresses (no link followed). With
// `create` (the driver side) it is made when missing and made the installation's: owned by its owner, mode
// 0700. -1 with errno when it is missing, or EACCES when it belongs to someone else.
int OpenDeviceFolder(bool create);

// The socket file of a device: its name upper-cased.
std::string DeviceFileName(const std::wstring& name);

// The address of the socket `file` in the devices' folder open at `folder`: the file's path when it fits a
// socket address, else the same file through the folder's descriptor. False when neither fits.
bool DeviceSocketAddress(int folder, const std::string& file, sockaddr_un* address, socklen_t* length);

// Creates the devices; fails when one of them is already served or the devices' folder is not the
// installation's. Then serves requests one at a time until SIGTERM or SIGINT arrives (and then until no
// handle is open, new ones served as well: a driver is not unloaded while its devices are in use), the system root
// disappears, no handle has been open for QV_DRIVER_IDLE_MS (30 s), or the process QV_DRIVER_WATCH_PID names
// (test runs) has ended; `closed` is told about every
// handle that closes. The sockets are removed when the server is destroyed.
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
