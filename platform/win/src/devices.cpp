// Devices, caller side: CreateFileW on "\\.\Name" connects to the driver serving it and hands it the handle's
// request channel; DeviceIoControl puts one request there (over the connection when the handle has no
// channel) and waits (at most 60 s) for the answer.

#include "device_channel.h"
#include "qv_device_server.h"
#include "qv_kernel_object.h"
#include "qv_system_root.h"
#include "windows.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <functional>
#include <mutex>

namespace qv::win {

namespace {

uid_t InstallationOwner() {
    struct stat root {};
    return ::stat(SystemRoot().c_str(), &root) == 0 ? root.st_uid : 0;
}

}  // namespace

bool DeviceUserAdmitted(uid_t uid) { return uid == 0 || uid == InstallationOwner(); }

int OpenDeviceFolder(bool create) {
    uid_t owner = InstallationOwner();
    int root = ::open(SystemRoot().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return -1;
    if (create && ::mkdirat(root, "devices", 0700) != 0 && errno != EEXIST) {
        ::close(root);
        return -1;
    }
    int folder = ::openat(root, "devices", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int failure = errno;
    ::close(root);
    if (folder < 0) {
        errno = failure == ELOOP || failure == ENOTDIR ? EACCES : failure;
        return -1;
    }
    struct stat st {};
    bool ok = ::fstat(folder, &st) == 0 && DeviceUserAdmitted(st.st_uid);
    if (ok && create) {
        // Made by root for another owner's installation: the owner's driver must be able to serve it too.
        if (st.st_uid != owner && geteuid() == 0) ok = ::fchown(folder, owner, static_cast<gid_t>(-1)) == 0;
        if (ok && (st.st_mode & 0077) != 0) ok = ::fchmod(folder, 0700) == 0;
    }
    if (!ok) {
        ::close(folder);
        errno = EACCES;
        return -1;
    }
    return folder;
}

std::string DeviceFileName(const std::wstring& name) {
    std::wstring upper = name;
    for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return ToUtf8(upper);
}

bool DeviceSocketAddress(int folder, const std::string& file, sockaddr_un* address, socklen_t* length) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (file.empty() || file.find('/') != std::string::npos) return false;
    std::string path = (SystemRoot() / "devices" / file).string();
    // The path as it is when it fits (with its NUL); else the folder's descriptor, which names the same folder
    // (the one opened and checked) in a few bytes.
    if (path.size() >= sizeof address->sun_path) path = "/proc/self/fd/" + std::to_string(folder) + "/" + file;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

namespace {

class Device final : public KernelObject {
public:
    Device(int fd, DeviceChannel* channel) : fd_(fd), channel_(channel) {}
    ~Device() override {
        if (channel_ != nullptr) ::munmap(channel_, sizeof(DeviceChannel));
        ::close(fd_);
    }
    int fd() const { return fd_; }
    DeviceChannel* channel() const { return channel_; }
    std::mutex& serial() { return serial_; }

private:
    int fd_;
    DeviceChannel* channel_;  // null: requests go over the socket
    std::mutex serial_;       // one request at a time on a handle, whatever the threads
};

// A fresh request channel: its page mapped here and its descriptor, for the driver. False when the system
// cannot make one; the handle then sends its requests over the socket.
bool MakeChannel(DeviceChannel** channel, int* descriptor) {
    int fd = ::memfd_create("qv-device-channel", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return false;
    void* p = MAP_FAILED;
    // Sealed at its size: the driver reads and writes the page and must not find it cut short under it.
    if (::ftruncate(fd, sizeof(DeviceChannel)) == 0 && ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) == 0)
        p = ::mmap(nullptr, sizeof(DeviceChannel), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    *channel = static_cast<DeviceChannel*>(p);  // zero-filled: kTurnIdle
    *descriptor = fd;
    return true;
}

bool SendAll(int fd, const std::vector<uint8_t>& message, const std::vector<int>& descriptors) {
    iovec io{const_cast<uint8_t*>(message.data()), message.size()};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    if (!descriptors.empty()) {
        size_t bytes = descriptors.size() * sizeof(int);
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(bytes);
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(bytes);
        std::memcpy(CMSG_DATA(c), descriptors.data(), bytes);
    }
    ssize_t n;
    do n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(message.size());
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// What DeviceIoControl returns for an answer the driver gave, the bytes it returned already in place.
BOOL Answered(uint32_t ok, uint32_t error, uint32_t count, LPDWORD returned) {
    if (returned != nullptr) *returned = count;
    if (!ok) {
        SetLastError(error != 0 ? error : ERROR_GEN_FAILURE);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Whether the driver's end of the handle's connection is gone (the driver died or closed it).
bool DriverGone(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0;
}

// One request through the handle's channel. The driver is watched while the answer is awaited: a driver that
// died fails the request as a broken connection does, within a few hundredths of a second.
BOOL AskOverChannel(int fd, DeviceChannel& channel, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                    LPDWORD returned) {
    uint32_t turn = channel.turn.load(std::memory_order_acquire);
    if (turn != kTurnIdle && turn != kTurnAnswered) {  // closed, or an earlier request that timed out
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }
    bool withOutput = (code & 3) == METHOD_NEITHER && outSize > 0;
    channel.code = code;
    channel.inSize = inSize;
    channel.outSize = outSize;
    channel.withOutput = withOutput ? 1 : 0;
    if (inSize > 0) std::memcpy(channel.data, in, inSize);
    if (withOutput) std::memcpy(channel.data + inSize, out, outSize);
    channel.turn.store(kTurnAsked, std::memory_order_release);
    WakeTurn(channel);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        turn = channel.turn.load(std::memory_order_acquire);
        if (turn == kTurnAnswered) break;
        if (turn != kTurnAsked) {
            SetLastError(ERROR_BROKEN_PIPE);
            return FALSE;
        }
        timespec slice{0, 20'000'000};
        WaitTurn(channel, kTurnAsked, &slice);
        if (channel.turn.load(std::memory_order_acquire) != kTurnAsked) continue;
        if (DriverGone(fd)) {
            SetLastError(ERROR_BROKEN_PIPE);
            return FALSE;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            SetLastError(ERROR_SEM_TIMEOUT);
            return FALSE;
        }
    }
    uint32_t ok = channel.ok, error = channel.error, count = channel.count;
    if (count > outSize) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (count > 0) std::memcpy(out, channel.data, count);
    return Answered(ok, error, count, returned);
}

}  // namespace

HANDLE OpenDevice(const std::wstring& name) {
    auto fail = [](DWORD error, int fd) {
        if (fd >= 0) ::close(fd);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    int folder = OpenDeviceFolder(false);
    if (folder < 0) return fail(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND, -1);
    sockaddr_un sa{};
    socklen_t length = 0;
    bool named = DeviceSocketAddress(folder, DeviceFileName(name), &sa, &length);
    int fd = named ? ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0) : -1;
    if (!named || fd < 0) {
        ::close(folder);
        return fail(named ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_NAME, fd);
    }
    int connected = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), length);
    int failure = errno;
    ::close(folder);
    if (connected != 0)
        return fail(failure == EACCES || failure == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND, fd);
    // Only the installation's own driver is taken for the device.
    ucred server{};
    socklen_t size = sizeof server;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &server, &size) != 0 || !DeviceUserAdmitted(server.uid))
        return fail(ERROR_ACCESS_DENIED, fd);
    int buffer = 4 * static_cast<int>(kMaxDeviceTransfer) + 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    timeval timeout{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int area = -1;
    uint32_t base = 0, areaSize = 0;
    if (!UserMemoryArea(&area, &base, &areaSize)) area = -1;
    DeviceChannel* channel = nullptr;
    int channelFd = -1;
    MakeChannel(&channel, &channelFd);
    // "QVDV", the memory area's base and size, this process, and which descriptors follow: the area's, the
    // request channel's.
    std::vector<uint8_t> hello = {'Q', 'V', 'D', 'V'};
    Put32(hello, base);
    Put32(hello, areaSize);
    Put32(hello, static_cast<uint32_t>(::getpid()));
    Put32(hello, (area >= 0 ? kGreetingArea : 0) | (channel != nullptr ? kGreetingChannel : 0));
    std::vector<int> passed;
    if (area >= 0) passed.push_back(area);
    if (channel != nullptr) passed.push_back(channelFd);
    // The driver answers the greeting, or refuses this process and closes the connection, perhaps before the
    // greeting arrived: its answer is read all the same.
    bool greeted = SendAll(fd, hello, passed);
    if (channelFd >= 0) ::close(channelFd);  // the driver has its own now
    auto drop = [&](DWORD error) {
        if (channel != nullptr) ::munmap(channel, sizeof(DeviceChannel));
        return fail(error, fd);
    };
    char answer = 0;
    ssize_t got = ::recv(fd, &answer, 1, 0);
    // A driver that refused and closed at once has its reset reported before the answer it sent.
    if (got < 0 && errno == ECONNRESET) got = ::recv(fd, &answer, 1, MSG_DONTWAIT);
    if (got != 1) return drop(ERROR_FILE_NOT_FOUND);
    if (answer == kDeviceRefused) return drop(ERROR_ACCESS_DENIED);
    if (!greeted || answer != kDeviceGreeted) return drop(ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(new Device(fd, channel));
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
    if (qv::win::DeviceChannel* channel = d->channel()) {
        std::lock_guard serial(d->serial());
        return qv::win::AskOverChannel(d->fd(), *channel, code, in, inSize, out, outSize, returned);
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
    return qv::win::Answered(ok, error, count, returned);
}
