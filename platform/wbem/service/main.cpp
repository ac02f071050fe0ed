// winmgmt: the instrumentation service of one system root, started by the locator of the first client
// ("-Embedding"). It serves until nothing has used it for QV_WBEM_SERVICE_IDLE_MS (30 s): no client object,
// no request running, no provider held and no event subscription.
#include "by_value.h"
#include "service.h"

#include "qv_com_runtime.h"
#include "qv_firmware_wmi.h"
#include "qv_wbem_classes.h"

#include <thread>

namespace {

IUnknown* NewServiceLocator() { return qv::wbem::service::CreateServiceLocator(); }

IUnknown* NewKernelDataProvider() {
    IUnknown* provider = nullptr;
    if (FAILED(qv::wbem::CreateWmiKernelDataProvider(IID_IUnknown, reinterpret_cast<void**>(&provider))))
        return nullptr;
    return provider;
}

// The providers Windows loads into the service itself: the kernel-data provider "WMIProv" serves root\WMI and
// the firmware's own classes that fwprov.mof registers under the name "Provider_BIOSInterface".
void RegisterInProcessProviders() {
    IClassFactory* factory = qv::wbem::CreateSimpleFactory(&NewKernelDataProvider);
    qv::com::RegisterPlatformClass(qv::wbem::CLSID_WmiKernelDataProvider, factory);
    factory->Release();
}

}  // namespace

int main() {
    using namespace qv::wbem::service;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    if (FAILED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr)))
        return 2;
    // Every local user may connect; what each may do is decided per call (qv_wbem_administrators.h).
    qv::com::AdmitEveryLocalUser();
    HRESULT opened = WithRepository([](qv::wbem::Repository&) { return S_OK; });
    if (FAILED(opened)) return 3;
    RegisterInProcessProviders();
    IClassFactory* factory = qv::wbem::CreateSimpleFactory(&NewServiceLocator);
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(qv::wbem::CLSID_QvWbemService, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie)))
        return 4;
    const long idle_limit = EnvMilliseconds("QV_WBEM_SERVICE_IDLE_MS", 30000);
    auto idle_since = std::chrono::steady_clock::now();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        size_t providers = SweepProviders();
        auto now = std::chrono::steady_clock::now();
        if (LiveObjects() > 0 || providers > 0 || SubscriptionCount() > 0) {
            idle_since = now;
            continue;
        }
        if (now - idle_since >= std::chrono::milliseconds(idle_limit)) break;
    }
    // New clients go to a fresh service from here on.
    CoSuspendClassObjects();
    CoRevokeClassObject(cookie);
    factory->Release();
    ReleaseAllProviders();
    CoUninitialize();
    return 0;
}
