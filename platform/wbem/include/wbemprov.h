// WMI provider interfaces: provider initialisation and the decoupled event provider.
#pragma once

#include "wbemcli.h"

enum WBEM_PROVIDER_REQUIREMENTS_TYPE : LONG { WBEM_REQUIREMENTS_START_POSTFILTER = 0 };
enum WBEM_EXTRA_RETURN_CODES : HRESULT {
    WBEM_S_INITIALIZED = 0,
    WBEM_S_LIMITED_SERVICE = 0x43001,
    WBEM_S_INDIRECTLY_UPDATED = 0x43002,
    WBEM_S_SUBJECT_TO_SDS = 0x43003,
    WBEM_E_RETRY_LATER = static_cast<HRESULT>(0x80043001),
    WBEM_E_RESOURCE_CONTENTION = static_cast<HRESULT>(0x80043002),
};

DEFINE_GUID(IID_IWbemProviderInit, 0x1be41572, 0x91dd, 0x11d1, 0xae, 0xb2, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemProviderInitSink, 0x1be41571, 0x91dd, 0x11d1, 0xae, 0xb2, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemDecoupledRegistrar, 0x1005cbcf, 0xe64f, 0x4646, 0xbc, 0xd3, 0x3a, 0x08, 0x9d, 0x8a, 0x84, 0xb4);
DEFINE_GUID(IID_IWbemDecoupledBasicEventProvider, 0x86336d20, 0xca11, 0x4786, 0x9e, 0xf1, 0xbc, 0x8a, 0x94, 0x6b, 0x42,
            0xfc);
DEFINE_GUID(CLSID_WbemDecoupledBasicEventProvider, 0xf5f75737, 0x2843, 0x4f22, 0x93, 0x3d, 0xc7, 0x6a, 0x97, 0xcd, 0xa6,
            0x2f);

struct IWbemProviderInitSink : IUnknown {
    STDMETHOD(SetStatus)(LONG status, LONG flags) = 0;

protected:
    ~IWbemProviderInitSink() = default;
};

struct IWbemProviderInit : IUnknown {
    STDMETHOD(Initialize)(LPWSTR user, LONG flags, LPWSTR ns, LPWSTR locale, IWbemServices* services,
                          IWbemContext* context, IWbemProviderInitSink* initSink) = 0;

protected:
    ~IWbemProviderInit() = default;
};

struct IWbemDecoupledRegistrar : IUnknown {
    STDMETHOD(Register)(LONG flags, IWbemContext* context, LPCWSTR user, LPCWSTR locale, LPCWSTR scope,
                        LPCWSTR registration, IUnknown* unknown) = 0;
    STDMETHOD(UnRegister)() = 0;

protected:
    ~IWbemDecoupledRegistrar() = default;
};

struct IWbemDecoupledBasicEventProvider : IWbemDecoupledRegistrar {
    STDMETHOD(GetSink)(LONG flags, IWbemContext* context, IWbemObjectSink** sink) = 0;
    STDMETHOD(GetService)(LONG flags, IWbemContext* context, IWbemServices** service) = 0;

protected:
    ~IWbemDecoupledBasicEventProvider() = default;
};
