#include "WMIEventSource.h"

#include "WMIException.h"
#include "objbase.h"

HRESULT WMIEventSource::CreateProvider(IWbemDecoupledBasicEventProvider** provider) {
    return CoCreateInstance(CLSID_WbemDecoupledBasicEventProvider, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWbemDecoupledBasicEventProvider, reinterpret_cast<LPVOID*>(provider));
}

HRESULT WMIEventSource::Register(LPCWSTR, LPCWSTR, LPCWSTR scope, LPCWSTR registrationName) {
    scope_ = scope != nullptr ? scope : L"";
    HRESULT hr = CreateProvider(provider_.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && !provider_) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = provider_->Register(0, nullptr, nullptr, nullptr, scope, registrationName, nullptr);
    if (FAILED(hr)) provider_.Reset();
    return hr;
}

HRESULT WMIEventSource::Unregister() {
    provider_.Reset();
    return 0;
}

bool WMIEventSource::HasSink() {
    if (!provider_) return false;
    Microsoft::WRL::ComPtr<IWbemObjectSink> sink;
    provider_->GetSink(0, nullptr, sink.GetAddressOf());
    return static_cast<bool>(sink);
}

void WMIEventSource::CreateEvent(LPCWSTR className, WMIEventInstance& event) {
    try {
        if (!provider_) WMI_THROW(E_POINTER);
        Microsoft::WRL::ComPtr<IWbemServices> local;
        HRESULT hr = provider_->GetService(0, nullptr, local.GetAddressOf());
        if (FAILED(hr)) WMI_THROW(hr);
        if (event.Object() != nullptr) return;
        event.SetServices(local.Get());
        if (!local) WMI_THROW(E_POINTER);
        event.Create(local.Get(), nullptr, className);
    } catch (HRESULT hr) {
        WMI_TRACE_CAUGHT(hr);
    } catch (...) {
        WMI_TRACE_CAUGHT_GENERAL();
    }
}

void WMIEventSource::Fire(WMIEventInstance& event) {
    CoRevertToSelf();
    if (provider_) {
        Microsoft::WRL::ComPtr<IWbemObjectSink> sink;
        try {
            provider_->GetSink(0, nullptr, sink.GetAddressOf());
            if (!sink) {
                OutputDebugStringW(L"No event sink to fire event.\n");
            } else if (event.Object() == nullptr) {
                OutputDebugStringW(L"Bad event instance, cannot fire event.\n");
            } else {
                IWbemClassObject* objects[] = {event.Object()};
                sink->Indicate(1, objects);
                OutputDebugStringW(L"Event fired\n");
            }
        } catch (HRESULT hr) {
            WMI_TRACE_CAUGHT(hr);
        } catch (...) {
            WMI_TRACE_CAUGHT_GENERAL();
        }
    }
    CoImpersonateClient();
}
