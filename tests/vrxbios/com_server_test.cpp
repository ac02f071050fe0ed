// vrxBIOS as a COM local server, reached through the COM runtime: registration through the registrar from
// the program's own REGISTRY resources, activation with -Embedding, calls across processes, idle exit.

#include "BIOSInterface.h"
#include "ServerRegistration.h"
#include "objbase.h"
#include "qv_root_processes.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "statreg.h"
#include "wmi_fakes.h"
#include "qv_wait.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

using Clock = std::chrono::steady_clock;

// The vrxBIOS processes serving this test's system root.
std::vector<pid_t> ServersOf(const std::filesystem::path& root) {
    std::vector<pid_t> found;
    std::string program = std::filesystem::canonical(BuildTree() + "/bin/vrxBIOS").string();
    std::string marker = "QV_SYSTEM_ROOT=" + root.string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ec;
        auto exe = std::filesystem::read_symlink(entry.path() / "exe", ec);
        if (ec || exe.string() != program) continue;
        std::ifstream environ(entry.path() / "environ");
        std::string text((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\0', at);
            if (text.compare(at, end - at, marker) == 0) found.push_back(std::stoi(name));
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    return found;
}

bool Alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    auto close = text.rfind(')');
    return !text.empty() && (close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z');
}

class ComServerTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        setenv("QV_MACHINE", "desktop", 1);
        // The event source's registration starts the instrumentation service; it ends soon after.
        setenv("QV_WBEM_SERVICE_IDLE_MS", "100", 1);
        // The library's SMBIOS read has the service host root\WMI's provider; released soon after too.
        setenv("QV_WBEM_PROVIDER_IDLE_MS", "100", 1);
        setenv("QV_DEBUG_OUTPUT", (root_ / "debug.txt").c_str(), 1);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(RegisterServer(program_.c_str()), S_OK);
    }
    void TearDown() override {
        // Every server must have ended by itself; one that did not is a failure and is killed.
        for (pid_t pid : ServersOf(root_)) {
            ADD_FAILURE() << "server " << pid << " still running";
            kill(pid, SIGKILL);
        }
        CoUninitialize();
        for (pid_t pid : RootProcesses(root_)) {
            EXPECT_TRUE(WaitProcessGone(pid, std::chrono::seconds(20))) << "process " << pid << " did not exit";
            if (ProcessAlive(pid)) kill(pid, SIGKILL);
        }
        unsetenv("QV_MACHINE");
        unsetenv("QV_WBEM_SERVICE_IDLE_MS");
        unsetenv("QV_WBEM_PROVIDER_IDLE_MS");
        unsetenv("QV_DEBUG_OUTPUT");
        TempRootTest::TearDown();
    }
    std::wstring program_ = qv::win::FromUtf8(BuildTree() + "/bin/vrxBIOS");

    // Waits (bounded) until no server of this root runs; the milliseconds it took, or -1.
    long WaitForNoServer() {
        auto start = Clock::now();
        if (!WaitUntil([&] { return ServersOf(root_).empty(); }, std::chrono::seconds(30))) return -1;
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
};

std::wstring Text(HKEY root, const std::wstring& key, LPCWSTR value) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return L"<no key>";
    wchar_t data[512] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    LONG status = RegQueryValueExW(opened, value, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(opened);
    return status == ERROR_SUCCESS ? std::wstring(data) : L"<no value>";
}

TEST_F(ComServerTest, RegistrationIsWrittenAndRemovedExactly) {
    const std::wstring clsid = L"CLSID\\{D7B353ED-CF58-4BAF-807B-6EA01360D51F}";
    const std::wstring appid = L"{D0407B6E-B15A-4849-8E2D-F37E94438541}";
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid, nullptr), L"BIOSInterface Class");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + L"\\LocalServer32", nullptr), program_);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid, L"AppID"), appid);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib", nullptr), L"{358A287F-7187-4394-B773-5A7C275020DA}");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + L"\\VersionIndependentProgID", nullptr), L"VrxBIOS.BIOSInterface");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"VrxBIOS.BIOSInterface\\CurVer", nullptr), L"VrxBIOS.BIOSInterface.1");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"AppID\\" + appid, nullptr), L"vrxBIOS");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"AppID\\vrxBIOS.EXE", L"AppID"), appid);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"TypeLib\\{358A287F-7187-4394-B773-5A7C275020DA}\\1.0", nullptr), L"VRXBIOSLib");

    ASSERT_EQ(UnregisterServer(program_.c_str()), S_OK);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid, nullptr), L"<no key>");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"VrxBIOS.BIOSInterface.1", nullptr), L"<no key>");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"AppID\\vrxBIOS.EXE", L"AppID"), L"<no key>");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"TypeLib\\{358A287F-7187-4394-B773-5A7C275020DA}", nullptr), L"<no key>");
    HKEY kept = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &kept), ERROR_SUCCESS);
    RegCloseKey(kept);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, KEY_READ, &kept), ERROR_SUCCESS);
    RegCloseKey(kept);
    // Registered again for the fixture's clean-up to find nothing running.
    EXPECT_EQ(RegisterServer(program_.c_str()), S_OK);
}

TEST_F(ComServerTest, ProgIdsLeadToTheClass) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"VrxBIOS.BIOSInterface", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_BIOSInterface);
    ASSERT_EQ(CLSIDFromProgID(L"VrxBIOS.BIOSInterface.1", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_BIOSInterface);
}

TEST_F(ComServerTest, ServesAcrossProcessesAndExitsWhenIdle) {
    ComPtr<IWbemServices> services;
    ASSERT_EQ(CoCreateInstance(CLSID_BIOSInterface, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(services.GetAddressOf())),
              S_OK);
    ASSERT_EQ(ServersOf(root_).size(), 1u);

    // Unsupported operations answer at once.
    CComBSTR cls(L"QVPROV_BIOSString");
    IEnumWbemClassObject* enumerator = nullptr;  // stays unset
    EXPECT_EQ(services->CreateInstanceEnum(cls, 0, nullptr, &enumerator), WBEM_E_NOT_SUPPORTED);
    EXPECT_EQ(services->PutClassAsync(nullptr, 0, nullptr, nullptr), WBEM_E_NOT_SUPPORTED);
    // A served call with a null sink, and one before Initialize: WBEM_E_INVALID_PARAMETER.
    EXPECT_EQ(services->CreateInstanceEnumAsync(cls, 0, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
    ComPtr<FakeSink> sink = Make<FakeSink>();
    EXPECT_EQ(services->CreateInstanceEnumAsync(cls, 0, nullptr, sink.Get()), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(sink->statuses, std::vector<HRESULT>{WBEM_E_INVALID_PARAMETER});

    // Initialize reports to the init sink in this process. The event source's registration fails (the
    // namespace has no schema here), which changes nothing but a trace line.
    ComPtr<IWbemProviderInit> init;
    ASSERT_EQ(services.As(&init), S_OK);
    ComPtr<FakeInitSink> init_sink = Make<FakeInitSink>();
    EXPECT_EQ(init->Initialize(nullptr, 0, nullptr, nullptr, nullptr, nullptr, init_sink.Get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(init_sink->statuses, std::vector<LONG>{WBEM_S_INITIALIZED});
    std::ifstream debug(root_ / "debug.txt");
    std::string traced((std::istreambuf_iterator<char>(debug)), std::istreambuf_iterator<char>());
    EXPECT_NE(traced.find("Event source DecoupledEventProvider_BCXBiosSettings not registered for "
                          "root\\QV\\InstrumentedBIOS (0x8004100E)\n"),
              std::string::npos)
        << traced;
    init.Reset();

    pid_t server = ServersOf(root_).at(0);
    auto released = Clock::now();
    services.Reset();
    long took = WaitForNoServer();
    EXPECT_GE(took, 0);
    std::printf(
        "vrxBIOS %d exited %ld ms after the last release\n", server,
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - released).count()));
    EXPECT_FALSE(Alive(server));
    EXPECT_EQ(enumerator, nullptr);
}

}  // namespace
