#include "ClassFactory.h"

#include "BIOSInterface.h"
#include "ServerModule.h"

#include "wrl/client.h"

STDMETHODIMP BIOSInterfaceClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) BIOSInterfaceClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) BIOSInterfaceClassFactory::Release() {
    LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP BIOSInterfaceClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    Microsoft::WRL::ComPtr<IWbemServices> created;
    created.Attach(BIOSInterface::Create());  // the creator's reference, dropped once the asked one is taken
    return created.CopyTo(iid, object);
}

STDMETHODIMP BIOSInterfaceClassFactory::LockServer(BOOL lock) {
    if (lock)
        TheServerModule().Lock();
    else
        TheServerModule().Unlock();
    return S_OK;
}
