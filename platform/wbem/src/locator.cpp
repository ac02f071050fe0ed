// The in-process locator: makes sure the root's registry names the instrumentation service's program,
// starts or reaches the service through the COM runtime and asks it for the namespace's IWbemServices.
#include "platform_classes.h"
#include "objbase.h"
#include "qv_wbem_interface_ids.h"
#include "wbemprov.h"
#include "qv_system_root.h"
#include "qv_wbem_classes.h"
#include "qv_wbem_repository.h"

#include "winreg.h"

#include <filesystem>
#include <string>

namespace qv::wbem {

namespace {

std::wstring ClsidText(REFCLSID clsid) {
    LPOLESTR text = nullptr;
    if (FAILED(StringFromCLSID(clsid, &text))) return L"";
    std::wstring result(text);
    CoTaskMemFree(text);
    return result;
}

// Writes LocalServer32 of the service class unless it already names an existing program.
HRESULT RegisterService() {
    std::wstring key_path = L"CLSID\\" + ClsidText(CLSID_QvWbemService) + L"\\LocalServer32";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return REGDB_E_WRITEREGDB;
    std::wstring wanted = L"\"" + win::FromUtf8(ServiceProgram()) + L"\"";
    DWORD type = 0, size = 0;
    std::wstring current;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        current.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(current.data()), &size);
        current.resize(size / sizeof(wchar_t));
        while (!current.empty() && current.back() == L'\0') current.pop_back();
    }
    LONG status = ERROR_SUCCESS;
    if (current != wanted)
        status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(wanted.c_str()),
                                static_cast<DWORD>((wanted.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : REGDB_E_WRITEREGDB;
}

class Locator final : public qv::com::Object<IWbemLocator> {
public:
    STDMETHODIMP ConnectServer(const BSTR resource, const BSTR user, const BSTR password, const BSTR locale, LONG flags,
                               const BSTR authority, IWbemContext* context, IWbemServices** ns) override {
        if (ns == nullptr) return WBEM_E_INVALID_PARAMETER;
        *ns = nullptr;
        std::wstring name = resource ? NormalizeNamespace(resource) : L"";
        if (name.empty()) return WBEM_E_INVALID_NAMESPACE;
        // A client that may not write the root's registry (another user of the installation) still reaches the
        // running service; only starting one needs the registration.
        const HRESULT registered = RegisterService();
        HRESULT hr = S_OK;
        // A service that is stopping or died since it was announced gives way to a fresh one.
        for (int attempt = 0;; ++attempt) {
            IWbemLocator* service = nullptr;
            hr = CoCreateInstance(CLSID_QvWbemService, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&service));
            if (FAILED(hr) && FAILED(registered)) return registered;
            if (SUCCEEDED(hr)) {
                BSTR text = SysAllocString(name.c_str());
                hr = service->ConnectServer(text, user, password, locale, flags, authority, context, ns);
                SysFreeString(text);
                service->Release();
            }
            bool transient = hr == CO_E_SERVER_STOPPING || hr == RPC_E_DISCONNECTED || hr == WBEM_E_SHUTTING_DOWN;
            if (!transient || attempt == 3) return hr;
        }
    }

private:
    ~Locator() = default;
};

}  // namespace

IUnknown* CreateLocator() { return new Locator(); }

}  // namespace qv::wbem
