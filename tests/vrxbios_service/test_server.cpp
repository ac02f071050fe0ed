// qvt_provider_server: a COM local server for the service tests, built like vrxBIOS on the provider framework
// (WMIProvider, WMIInstanceList, WMIEventSource) and vrxBIOS's server module (lock count, 50 ms idle exit,
// hidden window). It serves the classes of test_classes.mof that vrxBIOS's own classes cannot show: an
// enumeration that streams and then fails, one that fails with a general exception, and a method that raises
// QV_BIOSConfigurationEvent through the decoupled event registration vrxBIOS uses.
//
// Its debugger output goes to QVT_SERVER_DEBUG_OUTPUT when that is set, apart from vrxBIOS's. The streaming
// enumeration waits (bounded) after indicating instance N until the file "<root>/stream-ack-N" exists.

#include "ProviderApp.h"
#include "ServerModule.h"
#include "WMIException.h"
#include "WMIProvider.h"
#include "atlbase.h"
#include "afxwin.h"
#include "objbase.h"
#include "ole2.h"
#include "qv_com_object.h"
#include "wrl/client.h"
#include "wrl/implements.h"
#include "qv_wait.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// {3C5E7A91-4B2D-4F60-9E18-A7D2C4B6E803}
DEFINE_GUID(CLSID_QvtProviderServer, 0x3C5E7A91, 0x4B2D, 0x4F60, 0x9E, 0x18, 0xA7, 0xD2, 0xC4, 0xB6, 0xE8, 0x03);

// What the streaming enumeration fails with after its three instances.
constexpr HRESULT kStreamFailure = WBEM_E_CRITICAL_ERROR;

// Waits up to 20 s for the client's acknowledgement of instance `index`; without it the enumeration fails
// with WBEM_E_TIMED_OUT instead (the instance did not reach the client while the handler was still running).
void WaitForAck(int index) {
    const char* root = std::getenv("QV_SYSTEM_ROOT");
    if (root == nullptr) WMI_THROW(WBEM_E_TIMED_OUT);
    std::filesystem::path ack = std::filesystem::path(root) / ("stream-ack-" + std::to_string(index));
    if (!WaitUntil([&] { return std::filesystem::exists(ack); }, std::chrono::seconds(20))) WMI_THROW(WBEM_E_TIMED_OUT);
}

class TestServerProvider : public WMIProvider {
public:
    TestServerProvider() : WMIProvider(L"root\\QV\\InstrumentedBIOS", L"DecoupledEventProvider_BCXBiosSettings") {
        TheServerModule().Lock();
        auto notFound = [](WMIInstance&, LONG) { WMI_THROW(WBEM_E_NOT_FOUND); };
        AddClass(L"QVTEST_Streaming", notFound, [](WMIInstanceList& list, WMIRequest& request) {
            for (int index = 1; index <= 3; ++index) {
                auto* instance = new WMIInstance(request);
                instance->PutInt(L"Index", index);
                list.Add(instance);
                WaitForAck(index);
            }
            WMI_THROW(kStreamFailure);
        });
        AddClass(L"QVTEST_General", notFound, [](WMIInstanceList& list, WMIRequest& request) {
            auto* instance = new WMIInstance(request);
            instance->PutInt(L"Index", 1);
            list.Add(instance);
            throw std::runtime_error("not an HRESULT");
        });
        AddClass(L"QVTEST_Events", notFound, [](WMIInstanceList&, WMIRequest&) {});
        AddMethod(L"QVTEST_Events", L"Fire", [this](WMIInstance&, BSTR, WMIMethodCall& call, LONG) { Fire(call); });
    }

private:
    ~TestServerProvider() override { TheServerModule().Unlock(); }

    // The firing order of the settings methods: HasSink first, and nothing is built without a consumer.
    void Fire(WMIMethodCall& call) {
        CComVariant message = call.GetInParam(L"Message");
        WMIEventSource& events = EventSource();
        LONG result = 1;
        if (!events.HasSink()) {
            OutputDebugStringW(L"Fire: no event sink, no event built\n");
        } else {
            WMIEventInstance event;
            events.CreateEvent(L"QV_BIOSConfigurationEvent", event);
            event.PutText(L"InstanceName", L"qvt-event");
            event.PutText(L"Name", L"BIOS Configuration Change");
            event.PutText(L"Description", message.vt == VT_BSTR ? message.bstrVal : L"");
            event.PutInt(L"Category", 4);
            event.PutInt(L"Severity", 5);
            event.PutInt(L"Status", 2);
            events.Fire(event);
            result = 0;
        }
        call.PutOutParam(L"ReturnValue", result);
        call.IndicateOut();
    }
};

class TestServerFactory : public qv::com::Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Microsoft::WRL::ComPtr<IWbemServices> created;
        created.Attach(new TestServerProvider());
        return created.CopyTo(iid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            TheServerModule().Lock();
        else
            TheServerModule().Unlock();
        return S_OK;
    }

private:
    virtual ~TestServerFactory() = default;
};

// The Embedding start of vrxBIOS, without its checks and installation work.
class TestServerApp : public CWinApp {
public:
    BOOL InitInstance() override {
        if (FAILED(OleInitialize(nullptr))) return FALSE;
        TheServerModule().Init(m_hInstance);
        m_bUserCtrl = FALSE;
        if (FAILED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                        RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_DYNAMIC_CLOAKING | EOAC_SECURE_REFS,
                                        nullptr)))
            return FALSE;
        TheServerModule().StartMonitor();
        factory_ = Microsoft::WRL::Make<TestServerFactory>();
        CoRegisterClassObject(CLSID_QvtProviderServer, factory_.Get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                              &cookie_);
        m_pMainWnd = CreateHiddenMainWindow(m_hInstance);
        return TRUE;
    }
    int ExitInstance() override {
        if (cookie_ != 0) CoRevokeClassObject(cookie_);
        factory_.Reset();
        if (m_pMainWnd != nullptr) DestroyWindow(m_pMainWnd);
        TheServerModule().Term();
        CoUninitialize();
        return 0;
    }

private:
    Microsoft::WRL::ComPtr<IClassFactory> factory_;
    DWORD cookie_ = 0;
};

TestServerApp theApp;

}  // namespace

int main(int argc, char** argv) {
    if (const char* own = std::getenv("QVT_SERVER_DEBUG_OUTPUT"); own != nullptr && *own != 0)
        setenv("QV_DEBUG_OUTPUT", own, 1);
    return AfxWinMain(argc, argv);
}
