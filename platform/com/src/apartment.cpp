// Per-thread COM initialisation (contract in objbase.h).

#include "objbase.h"

namespace {

struct Apartment {
    int count = 0;
    bool single_threaded = false;
};
thread_local Apartment apartment;

}  // namespace

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    if (reserved != nullptr) return E_INVALIDARG;
    bool sta = (coInit & COINIT_APARTMENTTHREADED) != 0;
    if (apartment.count > 0) {
        if (apartment.single_threaded != sta) return RPC_E_CHANGED_MODE;
        ++apartment.count;
        return S_FALSE;
    }
    apartment.single_threaded = sta;
    apartment.count = 1;
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (apartment.count > 0) --apartment.count;
}

HRESULT OleInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void OleUninitialize() { CoUninitialize(); }

HRESULT CoImpersonateClient() { return RPC_E_CALL_COMPLETE; }
HRESULT CoRevertToSelf() { return RPC_E_CALL_COMPLETE; }

HRESULT CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return REGDB_E_CLASSNOTREG;
}

HRESULT CoSuspendClassObjects() { return S_OK; }
