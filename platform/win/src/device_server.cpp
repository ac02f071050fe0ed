// Devices, driver side: listening sockets for the device names in the devices' folder, and one connection per
// opened handle of an admitted caller.

#include "device_channel.h"
#include "qv_device_server.h"
#include "qv_system_root.h"
#include "windows.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <cwctype>
#include <functional>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qv::win {
namespace {

int stop_pipe[2] = {-1, -1};

void OnStop(int) {
    char byte = 1;
    (void)!::write(stop_pipe[1], &byte, 1);
}

uint32_t Get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// A file of at least `length` bytes, sealed against shrinking.
bool SealedAtLeast(int fd, uint64_t length) {
    struct stat st {};
    int seals = ::fcntl(fd, F_GET_SEALS);
    return ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= length && seals >= 0 &&
           (seals & F_SEAL_SHRINK) != 0;
}

class Connection final : public DeviceCaller {
public:
    Connection(int fd, std::wstring device, uint64_t id) : fd_(fd), device_(std::move(device)), id_(id) {}
    ~Connection() override {
        StopChannel();
        if (channel_ != nullptr) ::munmap(channel_, sizeof(DeviceChannel));
        if (map_ != nullptr) ::munmap(map_, size_);
        ::close(fd_);
    }
    int fd() const { return fd_; }
    const std::wstring& device() const { return device_; }
    bool greeted() const { return greeted_; }
    uint64_t Id() const override { return id_; }
    DeviceChannel* channel() const { return channel_; }

    // The first message: "QVDV", area base, area size, pid, which descriptors follow (kGreeting*), and the
    // descriptors: the caller's memory area, its request channel.
    bool Greet(const uint8_t* data, size_t size, const std::vector<int>& passed) {
        greeted_ = true;
        if (size != 20 || std::memcmp(data, "QVDV", 4) != 0) return false;
        base_ = Get32(data + 4);
        uint32_t length = Get32(data + 8);
        uint32_t with = Get32(data + 16);
        size_t expected = ((with & kGreetingArea) != 0 ? 1 : 0) + ((with & kGreetingChannel) != 0 ? 1 : 0);
        if ((with & ~(kGreetingArea | kGreetingChannel)) != 0 || passed.size() != expected) return false;
        size_t next = 0;
        // The caller's memory and its channel are mapped only when their files cannot be cut short while they
        // are served: a shrunk file would fault the driver in the middle of a request.
        if ((with & kGreetingArea) != 0) {
            int area = passed[next++];
            if (length == 0 || static_cast<uint64_t>(base_) + length > 0x100000000ull || !SealedAtLeast(area, length))
                return false;
            void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, area, 0);
            if (p == MAP_FAILED) return false;
            map_ = static_cast<uint8_t*>(p);
            size_ = length;
        }
        if ((with & kGreetingChannel) != 0) {
            int fd = passed[next++];
            if (!SealedAtLeast(fd, sizeof(DeviceChannel))) return false;
            void* p = ::mmap(nullptr, sizeof(DeviceChannel), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (p == MAP_FAILED) return false;
            channel_ = static_cast<DeviceChannel*>(p);
        }
        return true;
    }

    // Serves the channel from a thread of its own until StopChannel; `serve` answers one request.
    void StartChannel(std::function<void(Connection&, DeviceChannel&)> serve) {
        server_ = std::thread([this, serve = std::move(serve)] {
            DeviceChannel& channel = *channel_;
            for (;;) {
                uint32_t turn = channel.turn.load(std::memory_order_acquire);
                if (turn == kTurnClosed) return;
                if (turn != kTurnAsked) {
                    WaitTurn(channel, turn, nullptr);
                    continue;
                }
                serve(*this, channel);
            }
        });
    }
    void StopChannel() {
        if (!server_.joinable()) return;
        channel_->turn.store(kTurnClosed, std::memory_order_release);
        WakeTurn(*channel_);
        server_.join();
    }

    bool Read(uint32_t address, void* out, size_t size) const override {
        const uint8_t* p = Translate(address, size);
        if (p == nullptr) return false;
        if (size > 0) std::memcpy(out, p, size);
        return true;
    }
    bool Write(uint32_t address, const void* in, size_t size) const override {
        uint8_t* p = Translate(address, size);
        if (p == nullptr) return false;
        if (size > 0) std::memcpy(p, in, size);
        return true;
    }

private:
    uint8_t* Translate(uint32_t address, size_t size) const {
        if (map_ == nullptr || address < base_ || size > size_ || address - base_ > size_ - size) return nullptr;
        return map_ + (address - base_);
    }
    int fd_;
    std::wstring device_;
    uint64_t id_;
    bool greeted_ = false;
    uint32_t base_ = 0;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    DeviceChannel* channel_ = nullptr;
    std::thread server_;
};

}  // namespace

struct DeviceServer::Impl {
    std::vector<std::wstring> names;
    int folder = -1;                 // the devices' folder, while the devices exist
    std::vector<int> locks;          // one per device: held while this server serves it
    std::vector<std::string> files;  // the sockets made, removed with the server
    std::vector<int> listeners;
    std::map<int, std::unique_ptr<Connection>> connections;
    uint64_t next_id = 1;
};

DeviceServer::DeviceServer(std::vector<std::wstring> names) : impl_(new Impl{}) { impl_->names = std::move(names); }

DeviceServer::~DeviceServer() {
    for (int fd : impl_->listeners) ::close(fd);
    for (const auto& file : impl_->files) ::unlinkat(impl_->folder, file.c_str(), 0);
    for (int fd : impl_->locks) ::close(fd);
    if (impl_->folder >= 0) ::close(impl_->folder);
    delete impl_;
}

bool DeviceServer::Create(std::string* error) {
    if (stop_pipe[0] < 0 && ::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "cannot create the stop pipe";
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = OnStop;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    impl_->folder = OpenDeviceFolder(true);
    if (impl_->folder < 0) {
        *error = std::string("cannot use the devices' folder: ") + std::strerror(errno);
        return false;
    }
    // A socket made by root for another owner's installation is handed to that owner (root reaches it anyway).
    struct stat root {};
    bool hand_over = geteuid() == 0 && ::stat(SystemRoot().c_str(), &root) == 0 && root.st_uid != 0;
    auto give = [&](const std::string& file, mode_t mode) {
        return ::fchmodat(impl_->folder, file.c_str(), mode, 0) == 0 &&
               (!hand_over ||
                ::fchownat(impl_->folder, file.c_str(), root.st_uid, static_cast<gid_t>(-1), AT_SYMLINK_NOFOLLOW) == 0);
    };
    for (const auto& name : impl_->names) {
        std::string file = DeviceFileName(name);
        auto failed = [&](const std::string& what) {
            *error = "cannot create device " + ToUtf8(name) + ": " + what;
            return false;
        };
        // The lock says who serves the device: a socket without a holder is left from a driver that died.
        std::string lock_file = file + ".lock";
        int lock = ::openat(impl_->folder, lock_file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock < 0) return failed(std::strerror(errno));
        impl_->locks.push_back(lock);
        if (!give(lock_file, 0600)) return failed(std::strerror(errno));
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0)
            return failed(errno == EWOULDBLOCK ? "already served" : std::strerror(errno));
        if (::unlinkat(impl_->folder, file.c_str(), 0) != 0 && errno != ENOENT) return failed(std::strerror(errno));
        sockaddr_un sa_un{};
        socklen_t length = 0;
        if (!DeviceSocketAddress(impl_->folder, file, &sa_un, &length)) return failed("name too long");
        int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) return failed(std::strerror(errno));
        impl_->listeners.push_back(fd);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa_un), length) != 0) return failed(std::strerror(errno));
        impl_->files.push_back(file);
        if (!give(file, 0600) || ::listen(fd, 16) != 0) return failed(std::strerror(errno));
    }
    return true;
}

namespace {

// Whether a client is waiting to be accepted on one of the devices.
bool ConnectionWaiting(const std::vector<int>& listeners) {
    std::vector<pollfd> fds;
    for (int fd : listeners) fds.push_back({fd, POLLIN, 0});
    return ::poll(fds.data(), fds.size(), 0) > 0;
}

}  // namespace

void DeviceServer::Run(const DeviceHandler& handler, const std::function<void(uint64_t)>& closed) {
    std::filesystem::path root = SystemRoot();
    // Test runs name their own process here, so that a driver never outlives a test program that was killed.
    const char* watch = std::getenv("QV_DRIVER_WATCH_PID");
    pid_t watched = watch != nullptr ? static_cast<pid_t>(std::atol(watch)) : 0;
    // A driver nobody has a handle open on for this long ends: the process that started it may have died
    // without stopping it (killed), and whoever needs it again starts it again.
    const char* idle = std::getenv("QV_DRIVER_IDLE_MS");
    const auto idle_limit = std::chrono::milliseconds(idle != nullptr && std::atol(idle) > 0 ? std::atol(idle) : 30000);
    auto used = std::chrono::steady_clock::now();
    std::vector<uint8_t> buffer(12 + 2 * static_cast<size_t>(kMaxDeviceTransfer));
    // The driver serves one request at a time: those of the handles' channel threads and those that come over
    // a socket, and the closing of a handle.
    std::mutex serving;
    // One request, whichever road it came by: the handler under that lock, its output cut to what the caller
    // can take.
    auto handle = [&handler, &serving](const DeviceRequest& request, Connection& c, std::vector<uint8_t>& out,
                                       DWORD& error) {
        out.clear();
        error = 0;
        BOOL ok = FALSE;
        {
            std::lock_guard lock(serving);
            ok = handler(request, c, out, error);
        }
        if (out.size() > request.outSize) out.resize(request.outSize);
        return ok;
    };
    auto serve = [&handle](Connection& c, DeviceChannel& channel) {
        // Each field once: the caller could change the page while its request is served.
        uint32_t code = channel.code, inSize = channel.inSize, outSize = channel.outSize;
        bool withOutput = channel.withOutput != 0;
        uint32_t asked = kTurnAsked;
        if (inSize > kMaxDeviceTransfer || outSize > kMaxDeviceTransfer) {
            // A malformed request ends the channel, as a malformed message ends a socket's connection.
            channel.turn.compare_exchange_strong(asked, kTurnClosed, std::memory_order_acq_rel);
            WakeTurn(channel);
            return;
        }
        thread_local DeviceRequest request;
        thread_local std::vector<uint8_t> out;
        request.device = c.device();
        request.code = code;
        request.outSize = outSize;
        request.in.assign(channel.data, channel.data + inSize);
        request.outBuffer.clear();
        if (withOutput) request.outBuffer.assign(channel.data + inSize, channel.data + inSize + outSize);
        DWORD error = 0;
        BOOL ok = handle(request, c, out, error);
        if (!out.empty()) std::memcpy(channel.data, out.data(), out.size());
        channel.ok = ok ? 1 : 0;
        channel.error = error;
        channel.count = static_cast<uint32_t>(out.size());
        if (channel.turn.compare_exchange_strong(asked, kTurnAnswered, std::memory_order_acq_rel)) WakeTurn(channel);
    };
    // Kept across requests, so that serving one allocates nothing once they have grown to their sizes.
    std::vector<pollfd> fds;
    DeviceRequest request;
    std::vector<uint8_t> out;
    std::vector<int> passed;
    auto checked = std::chrono::steady_clock::now();
    // Asked to stop: the driver ends once no handle is open. A device is shared by every library of the
    // installation, and the one that started the driver stops it when it is unloaded: the handles other
    // processes have open are served until they are closed, and handles opened meanwhile too (a library that
    // starts then finds the driver running, and nothing would start another while this one lives).
    bool stopping = false;
    for (;;) {
        if (stopping && impl_->connections.empty()) break;
        fds.clear();
        // Left out of the poll (a negative descriptor) once read, so the positions stay as they are.
        fds.push_back({stopping ? -1 : stop_pipe[0], POLLIN, 0});
        for (int fd : impl_->listeners) fds.push_back({fd, POLLIN, 0});
        for (const auto& [fd, c] : impl_->connections) fds.push_back({fd, POLLIN, 0});
        int n = ::poll(fds.data(), fds.size(), 1000);
        if (n < 0 && errno != EINTR) break;
        // Whether there is still something to serve for, checked when idle and every 250 ms while busy (not on
        // every request: a settings read makes thousands).
        auto now = std::chrono::steady_clock::now();
        if (!impl_->connections.empty()) used = now;
        if (n <= 0 || now - checked >= std::chrono::milliseconds(250)) {
            checked = now;
            std::error_code ec;
            if (!std::filesystem::exists(root, ec)) break;  // the installation is gone: nothing left to serve
            if (watched > 0 && ::kill(watched, 0) != 0 && errno == ESRCH) break;
            if (impl_->connections.empty() && now - used >= idle_limit && !ConnectionWaiting(impl_->listeners)) break;
        }
        if (n <= 0) continue;
        if (fds[0].revents != 0) stopping = true;
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            if (i <= impl_->listeners.size()) {
                int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                // Every caller's credentials are checked: only the installation's processes are served.
                ucred peer{};
                socklen_t peer_size = sizeof peer;
                if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peer_size) != 0 ||
                    !DeviceUserAdmitted(peer.uid)) {
                    ::send(fd, &kDeviceRefused, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                    ::close(fd);
                    continue;
                }
                int size = 4 * static_cast<int>(kMaxDeviceTransfer) + 4096;
                ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
                ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
                timeval timeout{10, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
                std::wstring device = impl_->names[i - 1];
                for (auto& c : device) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
                impl_->connections[fd] = std::make_unique<Connection>(fd, device, impl_->next_id++);
                continue;
            }
            Connection& c = *impl_->connections[fds[i].fd];
            iovec io{buffer.data(), buffer.size()};
            alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
            msghdr msg{};
            msg.msg_iov = &io;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t got = ::recvmsg(c.fd(), &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
            passed.clear();
            for (cmsghdr* h = CMSG_FIRSTHDR(&msg); h != nullptr; h = CMSG_NXTHDR(&msg, h)) {
                if (h->cmsg_level != SOL_SOCKET || h->cmsg_type != SCM_RIGHTS) continue;
                for (size_t k = 0; k < (h->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++k) {
                    int fd = -1;
                    std::memcpy(&fd, CMSG_DATA(h) + k * sizeof(int), sizeof(int));
                    passed.push_back(fd);
                }
            }
            bool keep = got > 0 && (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
            if (keep && !c.greeted()) {
                keep = c.Greet(buffer.data(), static_cast<size_t>(got), passed);
                keep = keep && ::send(c.fd(), &kDeviceGreeted, 1, MSG_NOSIGNAL) == 1;
                if (keep && c.channel() != nullptr) c.StartChannel(serve);
            } else if (keep) {
                uint32_t inSize = got >= 12 ? Get32(buffer.data() + 4) : 0;
                uint32_t outSize = got >= 12 ? Get32(buffer.data() + 8) : 0;
                if (got < 12 || inSize > kMaxDeviceTransfer || outSize > kMaxDeviceTransfer ||
                    static_cast<size_t>(got) < 12u + inSize) {
                    keep = false;
                } else {
                    request.device = c.device();
                    request.code = Get32(buffer.data());
                    request.outSize = outSize;
                    request.in.assign(buffer.begin() + 12, buffer.begin() + 12 + inSize);
                    request.outBuffer.assign(buffer.begin() + 12 + inSize, buffer.begin() + got);
                    DWORD error = 0;
                    BOOL ok = handle(request, c, out, error);
                    uint32_t header[3] = {static_cast<uint32_t>(ok ? 1 : 0), error, static_cast<uint32_t>(out.size())};
                    iovec answer[2] = {{header, sizeof header}, {out.data(), out.size()}};
                    msghdr reply{};
                    reply.msg_iov = answer;
                    reply.msg_iovlen = 2;
                    keep = ::sendmsg(c.fd(), &reply, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof header + out.size());
                }
            }
            for (int fd : passed) ::close(fd);
            if (!keep) {
                uint64_t id = c.Id();
                impl_->connections.erase(fds[i].fd);  // its channel's thread ends first
                std::lock_guard lock(serving);
                closed(id);
            }
        }
    }
    std::vector<uint64_t> ids;
    for (auto& [fd, c] : impl_->connections) ids.push_back(c->Id());
    impl_->connections.clear();
    std::lock_guard lock(serving);
    for (uint64_t id : ids) closed(id);
}

}  // namespace qv::win
