#include "WMIEventSource.h"

#include "WMIException.h"
#include "objbase.h"

HRESULT WMIEventSource::CreateProvider(IWbemDecoupledBasicEventProvider** provider) {
    return CoCreateInstance(CLSID_WbemDecoupledBasicEventProvider, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWbemDecoupledBasicEventProvider, reinterpret_cast<LPVOID*>(provider));
}

HRESULT WMIEventSource::Register(LPCWSTR, LPCWSTR, LPCWSTR scope, LPCWSTR registrationName) {
    scope_ = scope != nullptr ? scope : L"";
    IWbemDecoupledBasicEventProvider* created = nullptr;
    HRESULT hr = CreateProvider(&created);
    provider_.Adopt(SUCCEEDED(hr) ? created : nullptr);
    if (SUCCEEDED(hr) && !provider_) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = provider_->Register(0, nullptr, nullptr, nullptr, scope, registrationName, nullptr);
    if (FAILED(hr)) provider_.Reset(nullptr);
    return hr;
}

HRESULT WMIEventSource::Unregister() {
    provider_.Reset(nullptr);
    return 0;
}

bool WMIEventSource::HasSink() {
    if (!provider_) return false;
    IWbemObjectSink* sink = nullptr;
    provider_->GetSink(0, nullptr, &sink);
    if (sink == nullptr) return false;
    sink->Release();
    return true;
}

void WMIEventSource::CreateEvent(LPCWSTR className, WMIEventInstance& event) {
    try {
        if (!provider_) WMI_THROW(E_POINTER);
        IWbemServices* services = nullptr;
        HRESULT hr = provider_->GetService(0, nullptr, &services);
        WMIComPtr<IWbemServices> local;
        local.Adopt(services);
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
        IWbemObjectSink* sink = nullptr;
        try {
            provider_->GetSink(0, nullptr, &sink);
            if (sink == nullptr) {
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
        if (sink != nullptr) sink->Release();
    }
    CoImpersonateClient();
}
