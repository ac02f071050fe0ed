// The server module's lock count and idle monitor, the class object and the provider object in-process.

#include "BIOSInterface.h"
#include "ClassFactory.h"
#include "ProviderApp.h"
#include "ServerModule.h"
#include "resource.h"
#include "qv_temp_root.h"
#include "wmi_fakes.h"
#include "qv_wait.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <fstream>
#include <filesystem>

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

using Clock = std::chrono::steady_clock;

// Waits (bounded) for WM_QUIT in this thread's queue; the milliseconds it took, or -1.
long WaitForQuit(DWORD limit_ms) {
    auto start = Clock::now();
    auto quit = [] {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message == WM_QUIT) return true;
        return false;
    };
    if (!WaitUntil(quit, std::chrono::milliseconds(limit_ms))) return -1;
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(ServerModuleTest, QuitsAboutFiftyMillisecondsAfterTheLastUnlock) {
    ServerModule module;
    module.Init(nullptr);
    ASSERT_TRUE(module.StartMonitor());
    EXPECT_EQ(module.Lock(), 1);
    EXPECT_EQ(module.Lock(), 2);
    EXPECT_EQ(module.Unlock(), 1);
    EXPECT_EQ(WaitForQuit(200), -1);  // a lock is still held
    EXPECT_EQ(module.Unlock(), 0);
    long took = WaitForQuit(30000);
    EXPECT_GE(took, 0);
    std::printf("idle exit after %ld ms\n", took);
    module.Term();
}

// A new lock within the idle window keeps the server. The window starts when the monitor wakes after the
// unlock, so a lock taken less than 40 ms after the unlock is always inside it; slower attempts prove nothing
// and are repeated.
TEST(ServerModuleTest, ALockWithinTheIdleWindowKeepsTheServer) {
    bool proven = false;
    for (int attempt = 0; attempt < 20 && !proven; ++attempt) {
        ServerModule module;
        module.Init(nullptr);
        ASSERT_TRUE(module.StartMonitor());
        module.Lock();
        auto before = Clock::now();
        module.Unlock();
        module.Lock();
        bool fast = Clock::now() - before < std::chrono::milliseconds(40);
        long quit = WaitForQuit(300);
        if (fast) {
            EXPECT_EQ(quit, -1);
            proven = true;
        }
        module.Unlock();
        if (quit == -1) {
            EXPECT_GE(WaitForQuit(30000), 0);
        }
        module.Term();
    }
    EXPECT_TRUE(proven);
}

TEST(ClassFactoryTest, CreatesProviderObjectsAndHoldsServerLocks) {
    ComPtr<BIOSInterfaceClassFactory> factory = Make<BIOSInterfaceClassFactory>();
    LONG base = TheServerModule().LockCount();
    ComPtr<IWbemServices> object;
    EXPECT_EQ(factory->CreateInstance(Make<FakeSink>().Get(), IID_IWbemServices,
                                      reinterpret_cast<void**>(object.GetAddressOf())),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    ComPtr<IWbemObjectSink> sink;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IWbemObjectSink, reinterpret_cast<void**>(sink.GetAddressOf())),
              E_NOINTERFACE);
    EXPECT_EQ(TheServerModule().LockCount(), base);

    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IWbemServices, reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
    EXPECT_EQ(TheServerModule().LockCount(), base + 1);
    ComPtr<IWbemProviderInit> second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IWbemProviderInit, reinterpret_cast<void**>(second.GetAddressOf())),
              S_OK);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(TheServerModule().LockCount(), base + 2);
    second.Reset();
    object.Reset();
    EXPECT_EQ(TheServerModule().LockCount(), base);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(TheServerModule().LockCount(), base + 1);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(TheServerModule().LockCount(), base);
}

// Without its settings library (this test program carries none) the provider starts, stays not ready and
// publishes nothing.
class BIOSInterfaceTest : public TempRootTest {};

TEST_F(BIOSInterfaceTest, ServesItsClassesWithoutTheLibrary) {
    std::filesystem::path trace = root_ / "debug-output.txt";
    setenv("QV_DEBUG_OUTPUT", trace.c_str(), 1);
    ComPtr<IWbemServices> s;
    s.Attach(BIOSInterface::Create());
    auto* provider = static_cast<BIOSInterface*>(s.Get());
    EXPECT_FALSE(provider->IsReady());
    // This program has no version resource: the trace lines print all the same.
    std::ifstream lines(trace);
    std::string text((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Initializing (null)....\n  Version: (null)\n  Build:   (null)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Failed to initialize zmrmc...\n"), std::string::npos) << text;
    unsetenv("QV_DEBUG_OUTPUT");
    ComPtr<FakeServices> services = Make<FakeServices>();
    services->AddClass(L"QVPROV_BIOSString");
    services->AddClass(L"QVPROV_BIOSSettingInterface")->AddMethod(L"SetBIOSSetting", new FakeObject(L"__PARAMETERS"));
    ComPtr<FakeInitSink> init = Make<FakeInitSink>();
    ComPtr<FakeSink> sink = Make<FakeSink>();
    static_cast<IWbemProviderInit*>(provider)->Initialize(nullptr, 0, nullptr, nullptr, services.Get(), nullptr,
                                                          init.Get());
    EXPECT_EQ(init->statuses, std::vector<LONG>{WBEM_S_INITIALIZED});

    EXPECT_EQ(s->CreateInstanceEnumAsync(CComBSTR(L"qvprov_biosstring"), 0, nullptr, sink.Get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(s->GetObjectAsync(CComBSTR(L"QVPROV_BIOSString.InstanceName=\"x\""), 0, nullptr, sink.Get()),
              WBEM_E_NOT_FOUND);
    // Without in-parameters the method cannot read its Name: it still answers, Unspecified Error.
    EXPECT_EQ(s->ExecMethodAsync(CComBSTR(L"QVPROV_BIOSSettingInterface.InstanceName=\"x\""),
                                 CComBSTR(L"SetBIOSSetting"), 0, nullptr, nullptr, sink.Get()),
              WBEM_S_NO_ERROR);
    ASSERT_EQ(sink->objects.size(), 1u);
    EXPECT_EQ(sink->Object(0)->Number(L"Return"), 2);
    EXPECT_EQ(sink->statuses, (std::vector<HRESULT>{WBEM_S_NO_ERROR, WBEM_E_NOT_FOUND, WBEM_S_NO_ERROR}));
}

TEST(HiddenWindowTest, TitledAndNeverShown) {
    HWND window = CreateHiddenMainWindow(nullptr);
    ASSERT_NE(window, nullptr);
    wchar_t title[64];
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"QV BCX Software Provider");
    EXPECT_TRUE(DestroyWindow(window));
}

}  // namespace
