// The request channel and memory area a handle hands to its driver: the driver maps only files that cannot be
// cut short under it, and a malformed request ends that handle's channel, not the driver. The driver runs for real.

#include "device_channel.h"
#include "driver_protocol.h"
#include "driver_service.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "windows.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using qv::win::DeviceChannel;

class DeviceChannelTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        setenv("QV_MACHINE", "desktop", 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);  // no driver outlives this test
        ASSERT_TRUE(StartDriverService()) << GetLastError();
    }
    void TearDown() override {
        if (page_ != nullptr) munmap(page_, sizeof(DeviceChannel));
        if (fd_ >= 0) close(fd_);
        StopDriverService();
        unsetenv("QV_MACHINE");
        unsetenv("QV_DRIVER_WATCH_PID");
        TempRootTest::TearDown();
    }

    // A shared memory file of `size` bytes as a caller makes one, sealed against shrinking or not.
    static int MakeSharedFile(off_t size, bool sealed) {
        int fd = memfd_create("test-shared", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, size), 0);
        if (sealed) {
            EXPECT_EQ(fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
        }
        return fd;
    }

    // A channel page, mapped here as `page_`.
    int MakePage(bool sealed) {
        int fd = MakeSharedFile(sizeof(DeviceChannel), sealed);
        void* p = mmap(nullptr, sizeof(DeviceChannel), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        EXPECT_NE(p, MAP_FAILED);
        page_ = static_cast<DeviceChannel*>(p);
        return fd;
    }

    // Connects to the control device and greets it with a channel page and, when `area` is given, a memory
    // area that claims `areaSize` bytes at 0x10000: the driver's one-byte answer, or -1 when it closed the
    // connection instead.
    int Greet(int page, int area = -1, uint32_t areaSize = 0) {
        if (fd_ >= 0) close(fd_);
        fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = (qv::win::SystemRoot() / "devices" / "ZMRVEXTOR").string();
        std::memcpy(address.sun_path, path.c_str(), path.size());
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -2;
        std::vector<int> passed;
        if (area >= 0) passed.push_back(area);
        passed.push_back(page);
        uint32_t with = qv::win::kGreetingChannel | (area >= 0 ? qv::win::kGreetingArea : 0);
        uint32_t hello[5] = {0, area >= 0 ? 0x10000u : 0, areaSize, static_cast<uint32_t>(getpid()), with};
        std::memcpy(hello, "QVDV", 4);
        iovec io{hello, sizeof hello};
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
        msghdr msg{};
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(passed.size() * sizeof(int));
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(passed.size() * sizeof(int));
        std::memcpy(CMSG_DATA(c), passed.data(), passed.size() * sizeof(int));
        bool sent = sendmsg(fd_, &msg, MSG_NOSIGNAL) == sizeof hello;
        for (int fd : passed) close(fd);
        if (!sent) return -3;
        char answer = 0;
        return recv(fd_, &answer, 1, 0) == 1 ? answer : -1;
    }

    // Posts a version request with the given input size and waits (at most 10 s) for the page to leave "asked".
    uint32_t Ask(uint32_t inSize) {
        page_->code = zmrdtct::kIoctlVersion;
        page_->inSize = inSize;
        page_->outSize = sizeof(zmrdtct::VersionAnswer);
        page_->withOutput = 0;
        page_->turn.store(qv::win::kTurnAsked);
        qv::win::WakeTurn(*page_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (page_->turn.load() == qv::win::kTurnAsked && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return page_->turn.load();
    }

    static bool DriverAnswers() {
        HANDLE device = CreateFileW(L"\\\\.\\ZMRVextor", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        if (device == INVALID_HANDLE_VALUE) return false;
        zmrdtct::VersionAnswer answer{};
        DWORD returned = 0;
        BOOL ok = DeviceIoControl(device, zmrdtct::kIoctlVersion, nullptr, 0, &answer, sizeof answer, &returned,
                                  nullptr);
        CloseHandle(device);
        return ok && returned == sizeof answer && answer.major == 3;
    }

    DeviceChannel* page_ = nullptr;
    int fd_ = -1;
};

}  // namespace

// A page the caller could still shrink would fault the driver when it is cut under a request: refused.
TEST_F(DeviceChannelTest, OnlyAPageSealedAgainstShrinkingIsServed) {
    EXPECT_EQ(Greet(MakePage(false)), -1);
    munmap(page_, sizeof(DeviceChannel));
    EXPECT_EQ(Greet(MakePage(true)), qv::win::kDeviceGreeted);
    EXPECT_EQ(Ask(0), static_cast<uint32_t>(qv::win::kTurnAnswered));
    EXPECT_EQ(page_->ok, 1u);
    EXPECT_EQ(page_->count, sizeof(zmrdtct::VersionAnswer));
}

// Likewise the caller's memory area, which requests point into: it must be sealed and hold what it claims.
TEST_F(DeviceChannelTest, OnlyAMemoryAreaSealedAtItsClaimedSizeIsMapped) {
    constexpr uint32_t kArea = 1u << 20;
    struct Case {
        const char* what;
        off_t size;
        bool sealed;
        int answer;
    } cases[] = {
        {"unsealed", kArea, false, -1},
        {"sealed, smaller than claimed", kArea / 2, true, -1},
        {"sealed at its claimed size", kArea, true, qv::win::kDeviceGreeted},
    };
    for (const Case& c : cases) {
        if (page_ != nullptr) munmap(page_, sizeof(DeviceChannel));
        int page = MakePage(true);
        EXPECT_EQ(Greet(page, MakeSharedFile(c.size, c.sealed), kArea), c.answer) << c.what;
    }
    EXPECT_EQ(Ask(0), static_cast<uint32_t>(qv::win::kTurnAnswered));
    EXPECT_TRUE(DriverAnswers());
}

// A request whose sizes exceed the channel ends that channel; the driver goes on serving everyone else.
TEST_F(DeviceChannelTest, AMalformedRequestEndsTheChannelNotTheDriver) {
    ASSERT_EQ(Greet(MakePage(true)), qv::win::kDeviceGreeted);
    EXPECT_EQ(Ask(qv::win::kMaxDeviceTransfer + 1), static_cast<uint32_t>(qv::win::kTurnClosed));
    EXPECT_TRUE(DriverAnswers());
}
