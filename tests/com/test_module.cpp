// A shared library with its own copy of the COM runtime, linked the way the BIOS access library links it
// (static platform code, every symbol hidden but its entry point). The unloading test loads it, lets it
// subscribe a sink of its own at the test server and register a class object (so it has a connection, a
// reader thread and a listener), and unloads it while the server still holds the sink.

#include "atlbase.h"
#include "ole2.h"
#include "qv_wbem_interface_ids.h"
#include "test_classes.h"
#include "wbemprov.h"
#include "wrl/client.h"
#include "wrl/implements.h"

namespace {

// {5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A14}: a class the module serves while it is loaded.
const CLSID kModuleClass = {0x5e1f0c3a, 0x7b2d, 0x4c61, {0x9a, 0x43, 0x2b, 0x8e, 0x6d, 0x0f, 0x1a, 0x14}};

// Sets the test's flag when its last reference goes.
class Sink final : public qv::com::Object<IWbemObjectSink> {
public:
    explicit Sink(int* released) : released_(released) {}
    ~Sink() override { *released_ = 1; }
    STDMETHODIMP Indicate(LONG, IWbemClassObject**) override { return S_OK; }
    STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override { return S_OK; }

private:
    int* released_;
};

class Factory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

// What the module holds while loaded; its destruction at unload gives back what the module owns itself.
struct Session {
    Factory factory;
    DWORD cookie = 0;
    bool com = false;
    ~Session() {
        if (cookie != 0) CoRevokeClassObject(cookie);
        if (com) CoUninitialize();
    }
};
Session session;

}  // namespace

// Subscribes a new sink at the test server (which keeps it) and registers the module's class object.
// Returns 0, or the step that failed. `*sink_released` becomes 1 when the sink's last reference goes.
extern "C" __attribute__((visibility("default"))) int QvTestModuleStart(int* sink_released) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    session.com = true;
    HRESULT hr = S_OK;
    {
        Microsoft::WRL::ComPtr<IWbemServices> services;
        if (FAILED(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                                    reinterpret_cast<void**>(services.GetAddressOf()))))
            return 2;
        Microsoft::WRL::ComPtr<Sink> sink = Microsoft::WRL::Make<Sink>(sink_released);
        hr = services->ExecNotificationQueryAsync(CComBSTR(L"WQL"), CComBSTR(L"select * from __InstanceCreationEvent"),
                                                  0, nullptr, sink.Get());
    }  // the server's reference on the sink is the only one left; the connection stays, as the server holds it
    if (FAILED(hr)) return 3;
    if (FAILED(CoRegisterClassObject(kModuleClass, &session.factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &session.cookie)))
        return 4;
    return 0;
}
