#include "InstrumentedBiosConnection.h"

#include "DebugTrace.h"

#include "objbase.h"

IWbemServices* ConnectInstrumentedBios(LPCWSTR blanketFailureFormat) {
    IWbemLocator* locator = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&locator));
    if (FAILED(hr)) {
        DebugTrace(L"Unable to connect to root\\QV\\InstrumentedBIOS: 0x%08X\n", static_cast<unsigned>(hr));
        return nullptr;
    }
    IWbemServices* services = nullptr;
    BSTR ns = SysAllocString(L"\\\\.\\root\\QV\\InstrumentedBIOS");
    hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    SysFreeString(ns);
    locator->Release();
    if (FAILED(hr) || services == nullptr) {
        DebugTrace(L"Unable to connect to root\\QV\\InstrumentedBIOS: 0x%08X\n", static_cast<unsigned>(hr));
        return nullptr;
    }
    hr = CoSetProxyBlanket(services, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        DebugTrace(blanketFailureFormat, static_cast<unsigned>(hr));
        services->Release();
        return nullptr;
    }
    return services;
}
