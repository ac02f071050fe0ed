#include "root_wmi_connection.h"

#include <windows.h>

namespace zmrmc {
namespace {

bool WindowsXpOrLater() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return false;
    return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

}  // namespace

HRESULT ConnectRootWmi(IWbemServices** services) {
    *services = nullptr;
    IWbemLocator* locator = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&locator));
    if (FAILED(hr) || locator == nullptr) return FAILED(hr) ? hr : E_FAIL;
    BSTR path = SysAllocString(L"\\\\.\\root\\WMI");
    LONG flags = WindowsXpOrLater() ? WBEM_FLAG_CONNECT_USE_MAX_WAIT : 0;
    hr = locator->ConnectServer(path, nullptr, nullptr, nullptr, flags, nullptr, nullptr, services);
    SysFreeString(path);
    locator->Release();
    if (FAILED(hr) || *services == nullptr) {
        if (*services != nullptr) (*services)->Release();
        *services = nullptr;
        return FAILED(hr) ? hr : E_FAIL;
    }
    CoSetProxyBlanket(*services, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    return S_OK;
}

}  // namespace zmrmc
