#include "root_wmi_connection.h"

#include <atlbase.h>
#include <windows.h>
#include <wrl/client.h>

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
    Microsoft::WRL::ComPtr<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(locator.GetAddressOf()));
    if (FAILED(hr) || !locator) return FAILED(hr) ? hr : E_FAIL;
    LONG flags = WindowsXpOrLater() ? WBEM_FLAG_CONNECT_USE_MAX_WAIT : 0;
    Microsoft::WRL::ComPtr<IWbemServices> connected;
    hr = locator->ConnectServer(CComBSTR(L"\\\\.\\root\\WMI"), nullptr, nullptr, nullptr, flags, nullptr, nullptr,
                                connected.GetAddressOf());
    if (FAILED(hr) || !connected) return FAILED(hr) ? hr : E_FAIL;
    CoSetProxyBlanket(connected.Get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    *services = connected.Detach();  // the caller's reference
    return S_OK;
}

}  // namespace zmrmc
