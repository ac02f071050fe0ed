#include "InstrumentedBiosConnection.h"

#include "DebugTrace.h"

#include "atlbase.h"
#include "objbase.h"

using Microsoft::WRL::ComPtr;

ComPtr<IWbemServices> ConnectInstrumentedBios(LPCWSTR blanketFailureFormat) {
    ComPtr<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator,
                                  reinterpret_cast<void**>(locator.GetAddressOf()));
    if (FAILED(hr)) {
        DebugTrace(L"Unable to connect to root\\QV\\InstrumentedBIOS: 0x%08X\n", static_cast<unsigned>(hr));
        return nullptr;
    }
    ComPtr<IWbemServices> services;
    hr = locator->ConnectServer(CComBSTR(L"\\\\.\\root\\QV\\InstrumentedBIOS"), nullptr, nullptr, nullptr, 0, nullptr,
                                nullptr, services.GetAddressOf());
    if (FAILED(hr) || !services) {
        DebugTrace(L"Unable to connect to root\\QV\\InstrumentedBIOS: 0x%08X\n", static_cast<unsigned>(hr));
        return nullptr;
    }
    hr = CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        DebugTrace(blanketFailureFormat, static_cast<unsigned>(hr));
        return nullptr;
    }
    return services;
}
