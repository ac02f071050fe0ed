// A fresh system root on which the instrumentation service reaches vrxBIOS: the schema compiled by mofcomp
// (common.mof, swprov.mof and the test classes), vrxBIOS registered from its REGISTRY 100/101 resources through
// the COM registrar, the test provider server registered as the local server of its class. The service and
// the providers start on demand as real processes; every process of the root must have ended at the end.
#pragma once

#include "ServerRegistration.h"
#include "atlbase.h"
#include "objbase.h"
#include "qv_child_process.h"
#include "qv_root_processes.h"
#include "qv_temp_root.h"
#include "qv_wbem_interface_ids.h"
#include "qv_test_paths.h"
#include "wbemcli.h"
#include "winreg.h"
#include "wrl/client.h"
#include "wrl/implements.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ProgramResult {
    int code = -1;  // -2: killed after its time limit
    std::string out, err;
};

class ServiceRoadTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        setenv("QV_MACHINE", "desktop", 1);
        setenv("QV_WBEM_SERVICE", (BuildTree() + "/bin/winmgmt").c_str(), 1);
        setenv("QV_WBEM_SERVICE_IDLE_MS", "300", 1);
        SetProviderIdle(300);
        setenv("QV_DEBUG_OUTPUT", (root_ / "debug.txt").c_str(), 1);
        setenv("QVT_SERVER_DEBUG_OUTPUT", (root_ / "server-debug.txt").c_str(), 1);
        for (const char* mof : {QVT_MOF_COMMON, QVT_MOF_SWPROV, QVT_TEST_MOF}) {
            ProgramResult compiled = Run({BuildTree() + "/bin/mofcomp", mof});
            ASSERT_EQ(compiled.code, 0) << mof << ": " << compiled.out << compiled.err;
        }
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(RegisterServer(qv::win::FromUtf8(VrxBios()).c_str()), S_OK);
        RegisterLocalServer(L"{3C5E7A91-4B2D-4F60-9E18-A7D2C4B6E803}", BuildTree() + "/tests/qvt_provider_server");
    }
    void TearDown() override {
        CoUninitialize();
        // The providers end once the service lets them go, the service once nothing uses it.
        for (pid_t pid : RootProcesses(root_)) {
            EXPECT_TRUE(WaitProcessGone(pid, std::chrono::seconds(20))) << "process " << pid << " did not exit";
            if (ProcessAlive(pid)) kill(pid, SIGKILL);
        }
        for (const char* name : {"QV_MACHINE", "QV_WBEM_SERVICE", "QV_WBEM_SERVICE_IDLE_MS", "QV_WBEM_PROVIDER_IDLE_MS",
                                 "QV_DEBUG_OUTPUT", "QVT_SERVER_DEBUG_OUTPUT"})
            unsetenv(name);
        TempRootTest::TearDown();
    }

    static std::string VrxBios() { return BuildTree() + "/bin/vrxBIOS"; }

    // How long the service keeps a provider after its last request; read by a service that starts later.
    void SetProviderIdle(int milliseconds) {
        setenv("QV_WBEM_PROVIDER_IDLE_MS", std::to_string(milliseconds).c_str(), 1);
    }

    void RegisterLocalServer(const std::wstring& clsid, const std::string& program) {
        HKEY key = nullptr;
        std::wstring path = L"CLSID\\" + clsid + L"\\LocalServer32";
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        std::wstring value = qv::win::FromUtf8(program);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    // The debugger output of vrxBIOS (and of anything else on the root but the test provider server).
    std::string DebugText() const { return ReadProcFile((root_ / "debug.txt").string()); }
    std::string ServerDebugText() const { return ReadProcFile((root_ / "server-debug.txt").string()); }

    std::vector<pid_t> VrxBiosProcesses() const { return RootProcesses(root_, VrxBios()); }

    // Starts a program with its output in files of the root; returns its pid.
    pid_t Spawn(const std::vector<std::string>& args, const std::string& name) {
        return StartChild(args, root_ / (name + ".out"), root_ / (name + ".err"));
    }
    ProgramResult Finish(pid_t pid, const std::string& name, std::chrono::seconds limit = std::chrono::seconds(60)) {
        ProgramResult r;
        r.code = WaitChild(pid, limit);
        r.out = ReadProcFile((root_ / (name + ".out")).string());
        r.err = ReadProcFile((root_ / (name + ".err")).string());
        return r;
    }
    ProgramResult Run(const std::vector<std::string>& args) { return Finish(Spawn(args, "run"), "run"); }
    // The client tool on root\QV\InstrumentedBIOS.
    ProgramResult Wmi(std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--namespace", "root\\QV\\InstrumentedBIOS"});
        return Run(args);
    }

    // The service's IWbemServices of root\QV\InstrumentedBIOS, through the in-process locator.
    Microsoft::WRL::ComPtr<IWbemServices> Connect() {
        Microsoft::WRL::ComPtr<IWbemLocator> locator;
        if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(locator.GetAddressOf()))))
            return nullptr;
        Microsoft::WRL::ComPtr<IWbemServices> services;
        locator->ConnectServer(CComBSTR(L"root\\QV\\InstrumentedBIOS"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                               services.GetAddressOf());
        return services;
    }
};

// Occurrences of `piece` in `text`.
inline size_t CountOf(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
    return count;
}

// A response sink in the test process: the objects and the final statuses it received. Calls arrive on the
// COM runtime's threads. Reference counted: made with Make, held by a ComPtr.
class RecordingSink final : public qv::com::Object<IWbemObjectSink> {
public:
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
        std::lock_guard lock(mutex_);
        for (LONG i = 0; i < count; ++i) {
            CComVariant cls;
            objects[i]->Get(L"__CLASS", 0, &cls, nullptr, nullptr);
            classes_.push_back(cls.vt == VT_BSTR ? cls.bstrVal : L"");
        }
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT result, BSTR, IWbemClassObject*) override {
        std::lock_guard lock(mutex_);
        if (flags == WBEM_STATUS_COMPLETE) statuses_.push_back(result);
        return S_OK;
    }
    std::vector<HRESULT> Statuses() {
        std::lock_guard lock(mutex_);
        return statuses_;
    }
    std::vector<std::wstring> Classes() {
        std::lock_guard lock(mutex_);
        return classes_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        statuses_.clear();
        classes_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<HRESULT> statuses_;
    std::vector<std::wstring> classes_;
};

// An init sink in the test process that records the statuses. Reference counted like RecordingSink.
class RecordingInitSink final : public qv::com::Object<IWbemProviderInitSink> {
public:
    STDMETHODIMP SetStatus(LONG status, LONG) override {
        std::lock_guard lock(mutex_);
        statuses_.push_back(status);
        return S_OK;
    }
    std::vector<LONG> Statuses() {
        std::lock_guard lock(mutex_);
        return statuses_;
    }

private:
    std::mutex mutex_;
    std::vector<LONG> statuses_;
};
