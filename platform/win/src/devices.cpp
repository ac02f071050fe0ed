// Devices, caller side: CreateFileW on "\\.\Name" connects to the driver serving it; DeviceIoControl sends one
// request over the connection and waits (at most 60 s) for the answer.

#include "qv_device_server.h"
#include "qv_kernel_object.h"
#include "qv_system_root.h"
#include "windows.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <functional>

namespace qv::win {

std::string DeviceAddress(const std::wstring& name) {
    std::wstring upper = name;
    for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    size_t root = std::hash<std::string>()(SystemRoot().string());
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "qv-device-%016zx-", root);
    return std::string(1, '\0') + prefix + ToUtf8(upper);
}

namespace {

class Device final : public KernelObject {
public:
    explicit Device(int fd) : fd_(fd) {}
    ~Device() override { ::close(fd_); }
    int fd() const { return fd_; }

private:
    int fd_;
};

bool SendAll(int fd, const std::vector<uint8_t>& message, int descriptor) {
    iovec io{const_cast<uint8_t*>(message.data()), message.size()};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (descriptor >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &descriptor, sizeof(int));
    }
    ssize_t n;
    do n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(message.size());
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

// Opens a device name ("\\.\Name"); INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when no driver serves it.
HANDLE OpenDevice(const std::wstring& name) {
    std::string address = DeviceAddress(name);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (address.size() > sizeof sa.sun_path) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    std::memcpy(sa.sun_path, address.data(), address.size());
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), length) != 0) {
        ::close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int size = 4 * static_cast<int>(kMaxDeviceTransfer) + 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    timeval timeout{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int area = -1;
    uint32_t base = 0, areaSize = 0;
    if (!UserMemoryArea(&area, &base, &areaSize)) area = -1;
    std::vector<uint8_t> hello = {'Q', 'V', 'D', 'V'};
    Put32(hello, base);
    Put32(hello, areaSize);
    Put32(hello, static_cast<uint32_t>(::getpid()));
    char answer = 0;
    if (!SendAll(fd, hello, area) || ::recv(fd, &answer, 1, 0) != 1 || answer != 1) {
        ::close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(new Device(fd));
}

}  // namespace qv::win

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     OVERLAPPED*) {
    if (returned != nullptr) *returned = 0;
    auto* d = qv::win::LookupHandleAs<qv::win::Device>(device);
    if (d == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0) || inSize > qv::win::kMaxDeviceTransfer ||
        outSize > qv::win::kMaxDeviceTransfer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Header: code, input size, output size; then the input. A request of the "neither" kind also carries the
    // output buffer as it is now: its driver reads parameter blocks from there, as it reads the user buffer.
    // Both directions go straight from and into the caller's buffers (one message each way, no copies).
    uint32_t header[3] = {code, inSize, outSize};
    iovec send[3] = {{header, sizeof header}, {in, inSize}, {out, outSize}};
    msghdr request{};
    request.msg_iov = send;
    request.msg_iovlen = (code & 3) == METHOD_NEITHER && outSize > 0 ? 3 : 2;
    size_t total = sizeof header + inSize + (request.msg_iovlen == 3 ? outSize : 0);
    ssize_t n;
    do n = ::sendmsg(d->fd(), &request, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(total)) {
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }
    uint32_t answer[3] = {};
    iovec receive[2] = {{answer, sizeof answer}, {out, outSize}};
    msghdr reply{};
    reply.msg_iov = receive;
    reply.msg_iovlen = 2;
    do n = ::recvmsg(d->fd(), &reply, 0);
    while (n < 0 && errno == EINTR);
    if (n < 12) {
        SetLastError(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? ERROR_SEM_TIMEOUT : ERROR_BROKEN_PIPE);
        return FALSE;
    }
    uint32_t ok = answer[0], error = answer[1], count = answer[2];
    if (count > outSize || count != static_cast<uint32_t>(n - 12) || (reply.msg_flags & MSG_TRUNC) != 0) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (returned != nullptr) *returned = count;
    if (!ok) {
        SetLastError(error != 0 ? error : ERROR_GEN_FAILURE);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
