// The driver as a real process: installed and started through the service control manager, reached through
// its devices, answering INT 15h, 16-bit and system-object requests, and gone when stopped.

#include "machine_fixture.h"
#include "qv_child_process.h"
#include "qv_system_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace fs = std::filesystem;

namespace {

void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t Get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
// Gone: no such process, or one that has ended and waits to be reaped by init.
bool ProcessGone(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class DriverTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        setenv("QV_MACHINE", "desktop", 1);
        const std::string build = BuildTree();
        qv::win::SystemRoot();
        fs::copy_file(fs::path(build) / "bin" / "zmrdtct", root_ / "drive_c/WINDOWS/system32/Drivers/Zmrdtct.sys");
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
        service_ = CreateServiceW(manager_, L"ZmrDtct", L"ZmrDtct", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                  L"C:\\WINDOWS\\system32\\Drivers\\Zmrdtct.sys", nullptr, nullptr, nullptr, nullptr,
                                  nullptr);
        ASSERT_NE(service_, nullptr);
        ASSERT_TRUE(StartServiceW(service_, 0, nullptr)) << GetLastError();
        device_ = CreateFileW(L"\\\\.\\ZMRVextor", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
        if (service_ != nullptr) {
            SERVICE_STATUS status{};
            ControlService(service_, SERVICE_CONTROL_STOP, &status);
            DeleteService(service_);
            CloseServiceHandle(service_);
        }
        if (manager_ != nullptr) CloseServiceHandle(manager_);
        MachineTest::TearDown();
    }
    pid_t DriverPid() {
        std::ifstream in(root_ / "services" / "ZmrDtct.service");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("pid=", 0) == 0) return static_cast<pid_t>(std::stol(line.substr(4)));
        return 0;
    }
    BOOL Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned = nullptr) {
        DWORD count = 0;
        BOOL ok = DeviceIoControl(device_, code, in, inSize, out, outSize, &count, nullptr);
        if (returned != nullptr) *returned = count;
        return ok;
    }
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(DriverTest, RunsAnswersAndIsGoneWhenStopped) {
    uint8_t version[3] = {9, 9, 9};
    DWORD returned = 0;
    ASSERT_TRUE(Ioctl(0x80002407, nullptr, 0, version, 3, &returned));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(version[0], 0);
    EXPECT_TRUE(version[1] > 3 || (version[1] == 3 && version[2] >= 2));
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service_, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(StartServiceW(service_, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_EQ(CreateServiceW(manager_, L"ZmrDtct", L"ZmrDtct", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"C:\\x.sys", nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));

    pid_t pid = DriverPid();
    ASSERT_GT(pid, 0);
    CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_EQ(
        CreateFileW(L"\\\\.\\ZMRDetectFlash", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DeleteService(service_));
    EXPECT_FALSE(fs::exists(root_ / "services" / "ZmrDtct.service"));
    CloseServiceHandle(service_);
    service_ = nullptr;
    EXPECT_EQ(OpenServiceW(manager_, L"ZmrDtct", SERVICE_ALL_ACCESS), nullptr);
}

// The devices are shared by every library of the installation, and the library that started the driver stops
// it when it is unloaded: a handle another process still has open is served until it is closed, a library
// that opens the device meanwhile (it finds the service running, so it starts no other) is served too, and the
// stop completes when the last handle is closed.
TEST_F(DriverTest, AStopServesTheHandlesStillOpenAndEndsWhenTheyAreClosed) {
    pid_t pid = DriverPid();
    ASSERT_GT(pid, 0);
    auto stop = std::async(std::launch::async, [this] {
        SERVICE_STATUS status{};
        return ControlService(service_, SERVICE_CONTROL_STOP, &status) && status.dwCurrentState == SERVICE_STOPPED;
    });
    uint8_t version[3] = {};
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(Ioctl(0x80002407, nullptr, 0, version, 3)) << "request " << i << " after the stop was asked";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(stop.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "stopped with a handle open";
    HANDLE later = CreateFileW(L"\\\\.\\ZMRVextor", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    ASSERT_NE(later, INVALID_HANDLE_VALUE) << "a handle opened while stopping";
    CloseHandle(device_);
    device_ = later;
    ASSERT_TRUE(Ioctl(0x80002407, nullptr, 0, version, 3)) << "through the handle opened while stopping";
    EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "stopped with a handle open";
    CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(stop.get());
    EXPECT_TRUE(ProcessGone(pid));
}

TEST_F(DriverTest, ThirtyTwoBitCallWithDataArea) {
    uint8_t block[58] = {};
    Put32(block, 0xE819);
    Put32(block + 32, 18);
    Put32(block + 36, 18);
    ASSERT_TRUE(Ioctl(0x80002058, block, sizeof block, block, sizeof block));
    EXPECT_EQ(block[1], 0);  // AH
    EXPECT_EQ(Get32(block + 28) & 1, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block + 41), block[40]), "CZC61234XY");
}

TEST_F(DriverTest, SixteenBitCallWithConventionalMemory) {
    // Request: 32 register bytes, the interrupt number, then an 18-byte data area, all in shared memory.
    auto* request = static_cast<uint8_t*>(VirtualAlloc(nullptr, 52, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(request, nullptr);
    Put32(request, 0xE845);
    Put32(request + 8, 0x25);  // asset tag
    request[32] = 0x15;
    uint8_t grant[20] = {};
    Put32(grant, Address(request + 34));
    Put32(grant + 4, 18);
    grant[8] = 18;
    grant[10] = 64;
    ASSERT_TRUE(Ioctl(0x80002158, grant, 20, grant, 20));
    uint16_t segment = static_cast<uint16_t>(grant[14] | (grant[15] << 8));
    ASSERT_NE(segment, 0);
    request[24] = grant[14];
    request[25] = grant[15];
    ASSERT_TRUE(Ioctl(0x80002150, request, 52, request, 52));
    EXPECT_EQ(request[1], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(request + 35), request[34]), "QV-ASSET-01");
    ASSERT_TRUE(Ioctl(0x8000215C, grant, 20, grant, 20));
    EXPECT_FALSE(Ioctl(0x8000215C, grant, 20, grant, 20));  // released already
    VirtualFree(request, 0, MEM_RELEASE);
}

TEST_F(DriverTest, ObjectRequestsReachTheCallersMemory) {
    uint8_t block[9] = {};
    ASSERT_TRUE(Ioctl(0x8000242F, nullptr, 0, block, 9));
    uint32_t size = Get32(block + 5);
    ASSERT_GT(size, 4u);
    auto* list = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    uint8_t listBlock[9] = {};
    Put32(listBlock + 1, Address(list));
    Put32(listBlock + 5, size);
    ASSERT_TRUE(Ioctl(0x8000242B, nullptr, 0, listBlock, 9));
    EXPECT_EQ(listBlock[0], 0);
    EXPECT_EQ(4u + 8u * (list[0] | (list[1] << 8)), size);
    // An address outside the shared memory is refused; the driver goes on serving. (A stack address cut to 32
    // bits may land anywhere, inside the shared area too; the second page of the address space never does.)
    Put32(listBlock + 1, 0x1000);
    EXPECT_FALSE(Ioctl(0x8000242B, nullptr, 0, listBlock, 9));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    EXPECT_FALSE(Ioctl(0x80002058, block, 9, block, 9));  // short register block
    EXPECT_FALSE(Ioctl(0x80001234, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    uint8_t version[3] = {};
    EXPECT_TRUE(Ioctl(0x80002407, nullptr, 0, version, 3));
    VirtualFree(list, 0, MEM_RELEASE);
}

// Writes the one-shot network boot byte through the driver; a second program (qvt_pxe_reader) reads it through
// its own handle and exits with it.
TEST_F(DriverTest, StateWrittenByOneProcessIsReadByAnother) {
    uint8_t block[40] = {};
    Put32(block, 0xE845);
    Put32(block + 4, 1 | (0x5A << 8));
    Put32(block + 8, 0x71);
    ASSERT_TRUE(Ioctl(0x80002058, block, 40, block, 40));
    ASSERT_EQ(block[1], 0);
    pid_t reader = StartChild({BuildTree() + "/tests/qvt_pxe_reader"}, "", "");
    ASSERT_GT(reader, 0);
    EXPECT_EQ(WaitChild(reader, std::chrono::seconds(30)), 0x5A);
}

TEST_F(DriverTest, FlashRequestsWriteAndReadThePart) {
    constexpr uint32_t kSize = 0x40000;
    auto* image = static_cast<uint8_t*>(VirtualAlloc(nullptr, kSize, MEM_COMMIT, PAGE_READWRITE));
    auto* back = static_cast<uint8_t*>(VirtualAlloc(nullptr, kSize, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(image, nullptr);
    ASSERT_NE(back, nullptr);
    for (uint32_t i = 0; i < kSize; ++i) image[i] = static_cast<uint8_t>(i * 7);
    // Flash request block: status, image address, length, password address, password length.
    uint8_t block[15] = {};
    Put32(block + 1, Address(image));
    Put32(block + 5, kSize - 1);
    Put32(block + 9, Address(image));
    EXPECT_FALSE(Ioctl(0x8000240F, nullptr, 0, block, 15));  // wrong size: the driver's status comes back
    EXPECT_EQ(block[0], 0x8B);
    block[0] = 0;
    Put32(block + 5, kSize);
    ASSERT_TRUE(Ioctl(0x8000240F, nullptr, 0, block, 15));
    EXPECT_EQ(block[0], 0);
    Put32(block + 1, Address(back));
    ASSERT_TRUE(Ioctl(0x8000243F, nullptr, 0, block, 15));
    EXPECT_EQ(std::memcmp(image, back, kSize), 0);
    VirtualFree(image, 0, MEM_RELEASE);
    VirtualFree(back, 0, MEM_RELEASE);
}
