// Who may reach the driver's devices: the processes of the installation (root and the system root's owner)
// and nobody else. The driver runs for real (started through the service control manager); another local
// user is a child process that drops to the account "nobody", so these tests need root, as CI has.

#include "driver_protocol.h"
#include "driver_service.h"
#include "qv_child_process.h"
#include "qv_other_user.h"
#include "qv_device_server.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

HANDLE OpenControlDevice() {
    return CreateFileW(L"\\\\.\\ZMRVextor", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The driver's version through an open handle: true when it answered.
bool AskVersion(HANDLE device) {
    zmrdtct::VersionAnswer answer{};
    DWORD returned = 0;
    return DeviceIoControl(device, zmrdtct::kIoctlVersion, nullptr, 0, &answer, sizeof answer, &returned, nullptr) &&
           returned == sizeof answer && answer.major == 3;
}

// Opening the control device, as the caller of CreateFileW sees it: ERROR_SUCCESS when it opened and the
// driver answered, else the error.
DWORD OpenOutcome() {
    HANDLE device = OpenControlDevice();
    if (device == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD outcome = AskVersion(device) ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    CloseHandle(device);
    return outcome;
}

// A Unix socket of this kind (SOCK_SEQPACKET) at `path`: bound and listening, or connected. -1 on failure.
int SocketAt(const fs::path& path, bool listen) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.string().size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.string().size());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    auto* a = reinterpret_cast<sockaddr*>(&address);
    bool ok = listen ? bind(fd, a, sizeof address) == 0 && ::listen(fd, 4) == 0 : connect(fd, a, sizeof address) == 0;
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

class DeviceAccessTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        auto nobody = NobodyUser();
        if (!nobody) GTEST_SKIP() << "needs root and the account \"nobody\": another local user is played by a child";
        nobody_ = *nobody;
        OpenTheRoot();
        setenv("QV_MACHINE", "desktop", 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);  // no driver outlives this test
    }
    void TearDown() override {
        StopDriver();
        unsetenv("QV_MACHINE");
        unsetenv("QV_DRIVER_WATCH_PID");
        TempRootTest::TearDown();
    }

    void StartDriver() { ASSERT_TRUE(StartDriverService()) << GetLastError(); }
    void StopDriver() { StopDriverService(); }

    fs::path DeviceFolder() const { return qv::win::SystemRoot() / "devices"; }

    // An installation anyone may look into, so that only the devices' own folder and the driver keep other
    // users out. A process that opens the root (the driver) makes it its owner's only again.
    void OpenTheRoot() { chmod(root_.c_str(), 0755); }

    // Runs `body` in a child process as the user nobody and returns what it returned (99: the child could not
    // become nobody).
    int AsNobody(const std::function<int()>& body) { return RunAsUser(nobody_, body); }

    OtherUser nobody_;
};

}  // namespace

// Another user can neither open the running driver's device nor connect to its socket.
TEST_F(DeviceAccessTest, AnotherUserCannotOpenTheRunningDriver) {
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    OpenTheRoot();
    ASSERT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_SUCCESS));
    fs::path socket = DeviceFolder() / "ZMRVEXTOR";
    EXPECT_EQ(AsNobody([] { return static_cast<int>(OpenOutcome()); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(AsNobody([&] { return SocketAt(socket, false) < 0 ? 0 : 1; }), 0);
    EXPECT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_SUCCESS));  // and the installation's own still can
}

// Even when the devices' folder has been opened up, the driver checks who connects and serves nobody else.
TEST_F(DeviceAccessTest, TheDriverChecksEveryCaller) {
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    fs::path socket = DeviceFolder() / "ZMRVEXTOR";
    ASSERT_TRUE(fs::exists(socket));
    OpenTheRoot();
    chmod(DeviceFolder().c_str(), 0777);
    chmod(socket.c_str(), 0666);
    EXPECT_EQ(AsNobody([] { return static_cast<int>(OpenOutcome()); }), ERROR_ACCESS_DENIED);
    // A caller that skips CreateFileW and sends a request straight away gets no answer either.
    EXPECT_EQ(AsNobody([&] {
                  int fd = SocketAt(socket, false);
                  if (fd < 0) return 2;
                  uint32_t request[3] = {zmrdtct::kIoctlVersion, 0, 3};
                  send(fd, request, sizeof request, MSG_NOSIGNAL);
                  char answer[64];
                  timeval wait{10, 0};
                  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
                  ssize_t got = recv(fd, answer, sizeof answer, 0);
                  return got > 1 ? 1 : 0;  // at most a refusal byte, never an answer
              }),
              0);
    EXPECT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_SUCCESS));
}

// While the driver is down another user cannot take its device names, so the next open finds no device
// rather than a stranger's.
TEST_F(DeviceAccessTest, AnotherUserCannotTakeTheDeviceNamesWhileTheDriverIsDown) {
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    StopDriver();
    OpenTheRoot();
    ASSERT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(AsNobody([] {
                  qv::win::DeviceServer server({L"ZMRVextor", L"ZMRDetectFlash"});
                  std::string error;
                  return server.Create(&error) ? 1 : 0;
              }),
              0);
    fs::path socket = DeviceFolder() / "ZMRVEXTOR";
    EXPECT_EQ(AsNobody([&] { return SocketAt(socket, true) < 0 ? 0 : 1; }), 0);
    EXPECT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // The driver starts again on its names.
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    EXPECT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_SUCCESS));
}

// A stranger's server on the device's name (here in a folder opened up for it) is not taken for the driver.
TEST_F(DeviceAccessTest, AStrangersServerIsNotTakenForTheDriver) {
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    StopDriver();
    OpenTheRoot();
    chmod(DeviceFolder().c_str(), 0777);
    fs::path socket = DeviceFolder() / "ZMRVEXTOR";
    fs::remove(socket);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t stranger = fork();
    if (stranger == 0) {
        if (!BecomeUser(nobody_)) _exit(99);
        int listener = SocketAt(socket, true);
        char byte = listener >= 0 ? 1 : 0;
        (void)!write(ready[1], &byte, 1);
        if (listener < 0) _exit(1);
        // Greets every caller as the driver would and answers nothing else.
        for (;;) {
            int fd = accept(listener, nullptr, nullptr);
            char hello[64];
            if (fd >= 0 && recv(fd, hello, sizeof hello, 0) > 0) send(fd, "\1", 1, MSG_NOSIGNAL);
        }
    }
    struct EndStranger {
        pid_t pid;
        int pipe[2];
        ~EndStranger() {
            kill(pid, SIGKILL);
            WaitChild(pid, 10s);
            close(pipe[0]);
            close(pipe[1]);
        }
    } end_stranger{stranger, {ready[0], ready[1]}};
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1) << "the stranger could not bind in the opened-up folder";
    HANDLE device = OpenControlDevice();
    DWORD error = GetLastError();
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
}

// A system root whose path is longer than a socket address can hold still gets its devices, in its own folder.
TEST_F(DeviceAccessTest, ALongSystemRootPathStillReachesTheDriver) {
    fs::path deep = root_ / std::string(100, 'd') / std::string(60, 'e');
    fs::create_directories(deep);
    setenv("QV_SYSTEM_ROOT", deep.c_str(), 1);
    qv::win::ResetSystemRootForTesting();
    ASSERT_GT(DeviceFolder().string().size(), sizeof(sockaddr_un{}.sun_path));
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    EXPECT_EQ(OpenOutcome(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::is_socket(DeviceFolder() / "ZMRVEXTOR"));
    EXPECT_EQ(AsNobody([] { return static_cast<int>(OpenOutcome()); }), ERROR_ACCESS_DENIED);
    StopDriver();
    setenv("QV_SYSTEM_ROOT", root_.c_str(), 1);
    qv::win::ResetSystemRootForTesting();
}
