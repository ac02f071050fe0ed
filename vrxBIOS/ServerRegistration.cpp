#include "ServerRegistration.h"

#include "oaidl.h"
#include "resource.h"
#include "statreg.h"
#include "wrl/client.h"

#include <string>

namespace {

// {358A287F-7187-4394-B773-5A7C275020DA}
DEFINE_GUID(LIBID_VRXBIOSLib, 0x358A287F, 0x7187, 0x4394, 0xB7, 0x73, 0x5A, 0x7C, 0x27, 0x50, 0x20, 0xDA);

HRESULT CreateRegistrar(LPCWSTR modulePath, IRegistrar** registrar) {
    HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                  reinterpret_cast<void**>(registrar));
    if (FAILED(hr)) return hr;
    std::wstring module = modulePath;
    for (size_t at = module.find(L'\''); at != std::wstring::npos; at = module.find(L'\'', at + 2))
        module.insert(at, 1, L'\'');
    return (*registrar)->AddReplacement(L"MODULE", module.c_str());
}

}  // namespace

HRESULT RegisterServer(LPCWSTR modulePath) {
    Microsoft::WRL::ComPtr<IRegistrar> registrar;
    HRESULT hr = CreateRegistrar(modulePath, registrar.GetAddressOf());
    if (SUCCEEDED(hr)) hr = registrar->ResourceRegister(modulePath, IDR_APPID, L"REGISTRY");
    if (SUCCEEDED(hr)) hr = registrar->ResourceRegister(modulePath, IDR_BIOSINTERFACE, L"REGISTRY");
    if (FAILED(hr)) return hr;
    Microsoft::WRL::ComPtr<ITypeLib> library;
    hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.GetAddressOf());
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(library.Get(), modulePath, nullptr);
    return hr;
}

HRESULT UnregisterServer(LPCWSTR modulePath) {
    HRESULT first = S_OK;
    auto keep = [&](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    };
    Microsoft::WRL::ComPtr<IRegistrar> registrar;
    HRESULT hr = CreateRegistrar(modulePath, registrar.GetAddressOf());
    keep(hr);
    if (SUCCEEDED(hr)) {
        keep(registrar->ResourceUnregister(modulePath, IDR_BIOSINTERFACE, L"REGISTRY"));
        keep(registrar->ResourceUnregister(modulePath, IDR_APPID, L"REGISTRY"));
    }
    keep(UnRegisterTypeLib(LIBID_VRXBIOSLib, 1, 0, 0, SYS_WIN32));
    return first;
}
