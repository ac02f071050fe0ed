#include "server_registration.h"

#include "auto_password_edit.h"
#include "oaidl.h"
#include "resource.h"
#include "statreg.h"

#include <string>

namespace {

constexpr LCID kLibraryLocale = 0x409;

HRESULT CreateRegistrar(LPCWSTR modulePath, IRegistrar** registrar) {
    HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                  reinterpret_cast<void**>(registrar));
    if (FAILED(hr)) return hr;
    // The script quotes its values with single quotes: a quote in the path is doubled.
    std::wstring module = modulePath;
    for (size_t at = module.find(L'\''); at != std::wstring::npos; at = module.find(L'\'', at + 2))
        module.insert(at, 1, L'\'');
    return (*registrar)->AddReplacement(L"MODULE", module.c_str());
}

// The program's type library, when it is qvPwdCtl's.
HRESULT LoadOwnTypeLibrary(LPCWSTR modulePath, ITypeLib** library) {
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = (*library)->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        if (!IsEqualGUID(attributes->guid, LIBID_qvPwdCtl)) hr = TYPE_E_INVDATAREAD;
        (*library)->ReleaseTLibAttr(attributes);
    }
    if (FAILED(hr)) {
        (*library)->Release();
        *library = nullptr;
    }
    return hr;
}

}  // namespace

HRESULT RegisterPasswordEditServer(LPCWSTR modulePath) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadOwnTypeLibrary(modulePath, &library);
    if (FAILED(hr)) return hr;
    IRegistrar* registrar = nullptr;
    hr = CreateRegistrar(modulePath, &registrar);
    if (SUCCEEDED(hr)) hr = registrar->ResourceRegister(modulePath, IDR_PASSWORDEDIT, L"REGISTRY");
    if (registrar != nullptr) registrar->Release();
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(library, modulePath, nullptr);
    library->Release();
    return hr;
}

HRESULT UnregisterPasswordEditServer(LPCWSTR modulePath) {
    HRESULT first = S_OK;
    auto keep = [&](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    };
    IRegistrar* registrar = nullptr;
    HRESULT hr = CreateRegistrar(modulePath, &registrar);
    keep(hr);
    if (SUCCEEDED(hr)) keep(registrar->ResourceUnregister(modulePath, IDR_PASSWORDEDIT, L"REGISTRY"));
    if (registrar != nullptr) registrar->Release();
    keep(UnRegisterTypeLib(LIBID_qvPwdCtl, 1, 0, kLibraryLocale, SYS_WIN32));
    return first;
}
