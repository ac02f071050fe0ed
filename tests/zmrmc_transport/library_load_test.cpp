// Loads the library by path in a fresh system root for every shipped machine and checks what its driver
// transport installs, answers and leaves behind.

#include "ZmrMC.h"
#include "driver_service.h"
#include "qv_device_server.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Exports {
    decltype(&ZmrMCInit) Init;
    decltype(&ZmrMCCall32bitInt15IOCtl) Call32;
    decltype(&ZmrMCCall16bitIntIOCtl) Call16;
    decltype(&ZmrMCGetSysObjListSize) ListSize;
    decltype(&ZmrMCGetSysObjList) List;
    decltype(&ZmrMCGetSysObjInfo) Info;
    decltype(&ZmrMCGetIsAPwdSet) PasswordSet;
    decltype(&ZmrMCChangeSysObjLockState) Lock;
    decltype(&ZmrMCPxeNextBoot) Pxe;
    decltype(&ZmrMCGetOpSysCode) OsCode;
    decltype(&ZmrMCGetOpSysLangCode) LangCode;
    decltype(&ZmrMCGetOpSysServiceRelease) Release;
    decltype(&ZmrMCGetOpSysPlatform) Platform;
    decltype(&ZmrMCDetect) Detect;
    decltype(&ZmrMCGetFoundDevicesCount) FoundCount;
    decltype(&ZmrMCGetFoundDeviceAtIndex) FoundAt;
};

// A register block with room for its data area.
struct Block {
    alignas(4) unsigned char raw[104] = {};
    ZmrMCRegisterBlock& regs() { return *reinterpret_cast<ZmrMCRegisterBlock*>(raw); }
    unsigned char* data() { return raw + 40; }
};

bool ProcessGone(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

class LibraryTest : public TempRootTest {
protected:
    void Load(const char* profile) {
        setenv("QV_MACHINE", profile, 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);  // no driver outlives this test
        qv::win::SystemRoot();
        const std::string build = BuildTree();
        std::wstring path = qv::win::FromUtf8(build + "/lib/libZmrMC.so");
        module_ = LoadLibraryW(path.c_str());
        ASSERT_NE(module_, nullptr);
        auto get = [&](const char* name) {
            void* p = GetProcAddress(module_, name);
            EXPECT_NE(p, nullptr) << name;
            return p;
        };
        x_.Init = reinterpret_cast<decltype(x_.Init)>(get("ZmrMCInit"));
        x_.Call32 = reinterpret_cast<decltype(x_.Call32)>(get("ZmrMCCall32bitInt15IOCtl"));
        x_.Call16 = reinterpret_cast<decltype(x_.Call16)>(get("ZmrMCCall16bitIntIOCtl"));
        x_.ListSize = reinterpret_cast<decltype(x_.ListSize)>(get("ZmrMCGetSysObjListSize"));
        x_.List = reinterpret_cast<decltype(x_.List)>(get("ZmrMCGetSysObjList"));
        x_.Info = reinterpret_cast<decltype(x_.Info)>(get("ZmrMCGetSysObjInfo"));
        x_.PasswordSet = reinterpret_cast<decltype(x_.PasswordSet)>(get("ZmrMCGetIsAPwdSet"));
        x_.Lock = reinterpret_cast<decltype(x_.Lock)>(get("ZmrMCChangeSysObjLockState"));
        x_.Pxe = reinterpret_cast<decltype(x_.Pxe)>(get("ZmrMCPxeNextBoot"));
        x_.OsCode = reinterpret_cast<decltype(x_.OsCode)>(get("ZmrMCGetOpSysCode"));
        x_.LangCode = reinterpret_cast<decltype(x_.LangCode)>(get("ZmrMCGetOpSysLangCode"));
        x_.Release = reinterpret_cast<decltype(x_.Release)>(get("ZmrMCGetOpSysServiceRelease"));
        x_.Platform = reinterpret_cast<decltype(x_.Platform)>(get("ZmrMCGetOpSysPlatform"));
        x_.Detect = reinterpret_cast<decltype(x_.Detect)>(get("ZmrMCDetect"));
        x_.FoundCount = reinterpret_cast<decltype(x_.FoundCount)>(get("ZmrMCGetFoundDevicesCount"));
        x_.FoundAt = reinterpret_cast<decltype(x_.FoundAt)>(get("ZmrMCGetFoundDeviceAtIndex"));
    }
    void Unload() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }
    void TearDown() override {
        Unload();
        StopDriverIfLeft();
        unsetenv("QV_MACHINE");
        TempRootTest::TearDown();
    }
    fs::path Record() const { return root_ / "services" / "ZmrDtct.service"; }
    fs::path DriverFile() const { return root_ / "drive_c/WINDOWS/system32/Drivers/Zmrdtct.sys"; }
    long DriverPid() const { return DriverServicePid(); }
    // Whatever a failing test left running is stopped here, never left behind.
    void StopDriverIfLeft() { StopDriverService(); }

    HMODULE module_ = nullptr;
    Exports x_{};
};

}  // namespace

TEST_F(LibraryTest, DesktopInstallsAnswersAndRemovesItsDriver) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Init(0, 1));
    ASSERT_TRUE(fs::exists(Record()));
    ASSERT_TRUE(fs::exists(DriverFile()));
    long pid = DriverPid();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(ProcessGone(pid));

    // 32-bit INT 15h call with a data area: the serial number, a length byte and the text.
    Block b{};
    b.regs().eax = 0xE819;
    b.regs().dataLength = b.regs().dataLength2 = 18;
    unsigned char status = 99;
    ASSERT_TRUE(x_.Call32(&b.regs(), 58, &status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data() + 1), b.data()[0]), "CZC61234XY");
    // 16-bit call with a data area in conventional memory: the asset tag.
    Block t{};
    t.regs().eax = 0xE845;
    t.regs().ecx = 0x25;
    ASSERT_TRUE(x_.Call16(0x15, &t.regs(), 58, &status));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.data() + 1), t.data()[0]), "QV-ASSET-01");
    EXPECT_NE(t.regs().segments & 0xFFFF, 0u);  // the granted block's segment went to the firmware

    uint32_t size = 0;
    ASSERT_TRUE(x_.ListSize(&size));
    std::string list(size, '\0');
    ASSERT_TRUE(x_.List(list.data(), size));
    unsigned char info[20];
    EXPECT_FALSE(x_.Info(0, info, 19));
    ASSERT_TRUE(x_.Info(0, info, 20));
    EXPECT_EQ(info[0], 5);  // the first object is a string table
    EXPECT_FALSE(x_.PasswordSet());
    EXPECT_TRUE(x_.Lock(nullptr, 0, 0, &status));  // no setup password: nothing to unlock
    char pxe = 0x21;
    ASSERT_TRUE(x_.Pxe(&pxe, 1));
    pxe = 0;
    ASSERT_TRUE(x_.Pxe(&pxe, 0));
    EXPECT_EQ(pxe, 0x21);
    EXPECT_FALSE(x_.Pxe(nullptr, 0));

    EXPECT_STREQ(x_.OsCode(), "WINXP32P");
    EXPECT_STREQ(x_.LangCode(), "US");
    EXPECT_STREQ(x_.Release(), "SP2");
    EXPECT_EQ(x_.Platform(), 2);

    Unload();
    EXPECT_FALSE(fs::exists(Record()));
    EXPECT_FALSE(fs::exists(DriverFile()));
    EXPECT_TRUE(ProcessGone(pid));
}

TEST_F(LibraryTest, SetupPasswordLocksThroughTheDriver) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Init(0, 1));
    // Set the setup password "ab" with the E845h change call: old (none), 35h, new, NUL.
    Block b{};
    b.regs().eax = 0xE845;
    b.regs().ebx = 1;
    b.regs().ecx = 0x11;
    b.regs().dataLength = b.regs().dataLength2 = 17;
    const unsigned char change[] = {0x35, 0x1E, 0x30, 0};
    std::memcpy(b.data(), change, sizeof change);
    unsigned char status = 0;
    ASSERT_TRUE(x_.Call32(&b.regs(), 57, &status));
    EXPECT_TRUE(x_.PasswordSet());
    const char wrong[] = {0x1E, 0x31, 0};
    const char right[] = {0x1E, 0x30, 0};
    EXPECT_FALSE(x_.Lock(wrong, 2, 0, &status));
    EXPECT_EQ(status, 0x87);
    EXPECT_FALSE(x_.Lock(right, 0, 0, &status));  // no length
    EXPECT_TRUE(x_.Lock(right, 2, 0, &status));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(x_.Lock(right, 2, 1, &status));
}

TEST_F(LibraryTest, X64InstallsNothing) {
    ASSERT_NO_FATAL_FAILURE(Load("x64"));
    EXPECT_TRUE(x_.Init(0, 1));                                  // ready from the SMBIOS table alone, which WMI serves
    EXPECT_EQ(static_cast<uint32_t>(x_.Detect()), 0x800A03E8u);  // no driver handle
    EXPECT_FALSE(fs::exists(Record()));
    EXPECT_FALSE(fs::exists(DriverFile()));
    Block b{};
    b.regs().eax = 0xE845;
    unsigned char status = 0;
    EXPECT_FALSE(x_.Call32(&b.regs(), 40, &status));
    EXPECT_EQ(status, ZMRMC_STATUS_NOT_REACHED);
    EXPECT_FALSE(x_.Call16(0x15, &b.regs(), 40, &status));
    EXPECT_EQ(status, ZMRMC_STATUS_NOT_REACHED);
    EXPECT_STREQ(x_.OsCode(), "WINXP64X");
    EXPECT_STREQ(x_.Release(), "SP2");
}

TEST_F(LibraryTest, LegacyMachineAnswersInt15ButHasNoObjects) {
    ASSERT_NO_FATAL_FAILURE(Load("laptop-legacy"));
    ASSERT_TRUE(x_.Init(0, 1));
    Block b{};
    b.regs().eax = 0xE845;
    b.regs().ecx = 0x46;
    unsigned char status = 0;
    ASSERT_TRUE(x_.Call16(0x15, &b.regs(), 40, &status));  // 34-byte request, no conventional memory
    EXPECT_EQ(b.regs().segments, 0u);
    EXPECT_EQ((b.regs().ebx >> 8) & 0xFF, 1u);
    uint32_t size = 7;
    EXPECT_FALSE(x_.ListSize(&size));
    EXPECT_EQ(size, 0u);
    EXPECT_STREQ(x_.Release(), "SP1");
}

TEST_F(LibraryTest, UnsupportedFirmwareRefusesWithItsOwnCode) {
    ASSERT_NO_FATAL_FAILURE(Load("unsupported"));
    ASSERT_TRUE(x_.Init(0, 1));
    Block b{};
    b.regs().eax = 0xE845;
    b.regs().ecx = 0x46;
    unsigned char status = 0;
    EXPECT_FALSE(x_.Call32(&b.regs(), 40, &status));
    EXPECT_EQ(status, 0x86);
    EXPECT_EQ(b.regs().eflags & 1, 1u);
    uint32_t size = 0;
    EXPECT_FALSE(x_.ListSize(&size));
    EXPECT_STREQ(x_.Release(), "SP3");
}

TEST_F(LibraryTest, NativeWmiMachineGetsTheDriverToo) {
    ASSERT_NO_FATAL_FAILURE(Load("native-wmi"));
    ASSERT_TRUE(x_.Init(0, 1));
    uint32_t size = 0;
    EXPECT_TRUE(x_.ListSize(&size));
    EXPECT_EQ(size, 4u + 8u * 3u);  // the English string table and two objects
}

TEST_F(LibraryTest, ARunningDriverIsUsedAndLeftRunning) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Init(0, 1));
    long pid = DriverPid();
    Unload();  // the library that started the driver stops it
    EXPECT_TRUE(ProcessGone(pid));
    // Start the driver by hand; a library that opens the existing one must leave it running.
    qv::win::SystemRoot();
    ASSERT_TRUE(StartDriverService()) << GetLastError();
    long running = DriverPid();
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Init(1, 1));
    Block b{};
    b.regs().eax = 0xE845;
    b.regs().ecx = 0x71;
    unsigned char status = 0;
    EXPECT_TRUE(x_.Call32(&b.regs(), 40, &status));
    Unload();
    EXPECT_FALSE(ProcessGone(running));
    EXPECT_TRUE(fs::exists(Record()));
    EXPECT_TRUE(fs::exists(DriverFile()));
}

// A driver that died is started again by the next call, which still gets its answer (a 16-bit call too,
// with a new conventional-memory block); while it cannot be started, calls fail with 250 instead of
// answering, and once it can, they succeed again.
TEST_F(LibraryTest, ADriverThatDiedIsStartedAgain) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(x_.Init(0, 1));
    auto serial_number = [&](unsigned char* status) {
        Block b{};
        b.regs().eax = 0xE819;
        b.regs().dataLength = b.regs().dataLength2 = 18;
        return x_.Call32(&b.regs(), 58, status) ? std::string(reinterpret_cast<char*>(b.data() + 1), b.data()[0])
                                                : std::string("<failed>");
    };
    auto kill_driver = [&] {
        long pid = DriverPid();
        EXPECT_GT(pid, 0);
        kill(static_cast<pid_t>(pid), SIGKILL);
        EXPECT_TRUE(WaitProcessGone(static_cast<pid_t>(pid), std::chrono::seconds(10)));
        return pid;
    };
    unsigned char status = 99;
    long first = kill_driver();
    EXPECT_EQ(serial_number(&status), "CZC61234XY");
    EXPECT_EQ(status, 0);
    long second = DriverPid();
    EXPECT_NE(second, first);
    EXPECT_FALSE(ProcessGone(second));

    kill_driver();
    Block tag{};
    tag.regs().eax = 0xE845;
    tag.regs().ecx = 0x25;
    ASSERT_TRUE(x_.Call16(0x15, &tag.regs(), 58, &status));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(tag.data() + 1), tag.data()[0]), "QV-ASSET-01");
    uint32_t size = 0;
    EXPECT_TRUE(x_.ListSize(&size));
    EXPECT_GT(size, 4u);

    // The detection holds its scratch block across scans; the new driver grants it again where it was.
    auto found = [&] {
        std::vector<std::string> devices;
        for (int i = 0; i < x_.FoundCount(); ++i) {
            ZmrMCFoundDevice device{};
            if (x_.FoundAt(i, &device)) devices.emplace_back(device.identifier, strnlen(device.identifier, 8));
        }
        return devices;
    };
    ASSERT_EQ(x_.Detect(), 0);
    std::vector<std::string> before = found();
    ASSERT_NE(std::find(before.begin(), before.end(), "PNP0501"), before.end()) << "a Plug and Play node";
    kill_driver();
    ASSERT_EQ(x_.Detect(), 0);
    EXPECT_EQ(found(), before);

    // A file where the devices' folder belongs: the driver cannot create its devices, so it cannot start.
    kill_driver();
    fs::path devices = root_ / "devices";
    fs::remove_all(devices);
    std::ofstream(devices) << "not a folder";
    EXPECT_EQ(serial_number(&status), "<failed>");
    EXPECT_EQ(status, ZMRMC_STATUS_NOT_REACHED);
    EXPECT_FALSE(x_.ListSize(&size));
    fs::remove(devices);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (serial_number(&status) != "CZC61234XY" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(serial_number(&status), "CZC61234XY") << "the driver was not started again once it could be";

    long last = DriverPid();
    Unload();
    EXPECT_TRUE(ProcessGone(last)) << "the library stops the driver it started again";
    EXPECT_FALSE(fs::exists(Record()));
    EXPECT_FALSE(fs::exists(DriverFile()));
}

TEST_F(LibraryTest, RequestsThatNeverReachTheFirmwareReport250) {
    std::string profile = root_.string() + "-faults.json";
    std::ofstream(profile) << R"({"int15": {"e845": {"settings": {"0x46": 1}}},
        "faults": [{"call": "int15.E845.46", "action": "fail"},
                   {"call": "int15.E845.46", "nth": 2, "action": "status", "status": "0x86"}]})";
    ASSERT_NO_FATAL_FAILURE(Load(profile.c_str()));
    ASSERT_TRUE(x_.Init(0, 1));
    Block b{};
    b.regs().eax = 0xE845;
    b.regs().ecx = 0x46;
    unsigned char status = 0;
    EXPECT_FALSE(x_.Call32(&b.regs(), 40, &status));
    EXPECT_EQ(status, ZMRMC_STATUS_NOT_REACHED);
    EXPECT_FALSE(x_.Call16(0x15, &b.regs(), 40, &status));
    EXPECT_EQ(status, 0x86);
    b.regs().eax = 0xE845;  // AH carried the last answer
    EXPECT_TRUE(x_.Call16(0x15, &b.regs(), 40, &status));
    EXPECT_EQ(status, 0);
    Unload();
    std::remove(profile.c_str());
}

// A stand-in driver that only reports a version: the open-existing path accepts 3.2 and later.
class ExistingDriverVersion : public LibraryTest, public ::testing::WithParamInterface<std::tuple<int, int, bool>> {};

TEST_P(ExistingDriverVersion, DecidesWhetherTheRunningDriverIsUsed) {
    auto [major, minor, accepted] = GetParam();
    const int driver_major = major, driver_minor = minor;  // lambdas cannot capture structured bindings in clang 14
    qv::win::SystemRoot();
    setenv("QV_MACHINE", "desktop", 1);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that stopped early (it holds ctest's output)
        if (getppid() == 1) _exit(1);
        qv::win::DeviceServer server({L"ZMRVextor"});
        std::string error;
        if (!server.Create(&error)) _exit(1);
        char byte = 1;
        (void)!write(ready[1], &byte, 1);
        server.Run(
            [&](const qv::win::DeviceRequest& request, qv::win::DeviceCaller&, std::vector<uint8_t>& out,
                DWORD& failure) -> BOOL {
                if (request.code != 0x80002407) {
                    failure = ERROR_INVALID_FUNCTION;
                    return FALSE;
                }
                out = {0, static_cast<uint8_t>(driver_major), static_cast<uint8_t>(driver_minor)};
                return TRUE;
            },
            [](uint64_t) {});
        _exit(0);
    }
    struct EndChild {
        pid_t pid;
        ~EndChild() {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    } end_child{child};
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    // Open existing only, never install. Ready either way (the machine's SMBIOS table); a scan needs the handle.
    EXPECT_TRUE(x_.Init(1, 0));
    EXPECT_EQ(x_.Detect() == 0, accepted);
    EXPECT_FALSE(fs::exists(Record()));
    Unload();
    close(ready[0]);
    close(ready[1]);
}

INSTANTIATE_TEST_SUITE_P(Versions, ExistingDriverVersion,
                         ::testing::Values(std::make_tuple(3, 1, false), std::make_tuple(2, 9, false),
                                           std::make_tuple(3, 2, true), std::make_tuple(4, 0, true)));
