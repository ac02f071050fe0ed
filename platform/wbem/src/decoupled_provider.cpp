// The decoupled event provider of a provider process: Register connects to the instrumentation service of
// the registration's namespace; GetSink asks the service for its event sink, which it hands out only while a
// consumer is subscribed to an event class of that namespace; Indicate on that sink reaches every matching
// consumer, in whatever process it runs.
#include "platform_classes.h"
#include "objbase.h"
#include "qv_wbem_interface_ids.h"
#include "wbemprov.h"
#include "qv_wbem_repository.h"

#include <mutex>
#include <string>

namespace qv::wbem {

namespace {

class DecoupledEventProvider final : public qv::com::Object<IWbemDecoupledBasicEventProvider> {
public:
    STDMETHODIMP Register(LONG flags, IWbemContext* context, LPCWSTR, LPCWSTR locale, LPCWSTR scope,
                          LPCWSTR registration, IUnknown*) override {
        if (flags != 0 || scope == nullptr || registration == nullptr || *registration == 0)
            return WBEM_E_INVALID_PARAMETER;
        if (NormalizeNamespace(scope).empty()) return WBEM_E_INVALID_NAMESPACE;
        {
            std::lock_guard lock(mutex_);
            if (services_ != nullptr) return WBEM_E_PROVIDER_ALREADY_REGISTERED;
        }
        IWbemLocator* locator = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      reinterpret_cast<void**>(&locator));
        if (FAILED(hr)) return hr;
        IWbemServices* services = nullptr;
        BSTR ns = SysAllocString(scope);
        BSTR loc = locale ? SysAllocString(locale) : nullptr;
        hr = locator->ConnectServer(ns, nullptr, nullptr, loc, 0, nullptr, context, &services);
        SysFreeString(ns);
        SysFreeString(loc);
        locator->Release();
        if (FAILED(hr)) return hr;
        std::lock_guard lock(mutex_);
        if (services_ != nullptr) {
            services->Release();
            return WBEM_E_PROVIDER_ALREADY_REGISTERED;
        }
        services_ = services;
        registration_ = registration;
        return S_OK;
    }
    STDMETHODIMP UnRegister() override {
        IWbemServices* services = nullptr;
        {
            std::lock_guard lock(mutex_);
            services = services_;
            services_ = nullptr;
        }
        if (services == nullptr) return WBEM_E_PROVIDER_NOT_REGISTERED;
        services->Release();
        return S_OK;
    }
    STDMETHODIMP GetSink(LONG flags, IWbemContext*, IWbemObjectSink** sink) override {
        if (sink == nullptr || flags != 0) return WBEM_E_INVALID_PARAMETER;
        *sink = nullptr;
        IWbemServices* services = Services();
        if (services == nullptr) return WBEM_E_PROVIDER_NOT_REGISTERED;
        HRESULT hr = services->QueryObjectSink(0, sink);
        services->Release();
        return hr;
    }
    STDMETHODIMP GetService(LONG flags, IWbemContext*, IWbemServices** service) override {
        if (service == nullptr || flags != 0) return WBEM_E_INVALID_PARAMETER;
        *service = Services();
        return *service != nullptr ? S_OK : WBEM_E_PROVIDER_NOT_REGISTERED;
    }

private:
    ~DecoupledEventProvider() {
        if (services_ != nullptr) services_->Release();
    }
    IWbemServices* Services() {
        std::lock_guard lock(mutex_);
        if (services_ != nullptr) services_->AddRef();
        return services_;
    }
    std::mutex mutex_;
    IWbemServices* services_ = nullptr;
    std::wstring registration_;
};

}  // namespace

IUnknown* CreateDecoupledEventProvider() { return static_cast<IWbemDecoupledRegistrar*>(new DecoupledEventProvider()); }

}  // namespace qv::wbem
