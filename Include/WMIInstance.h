// One WMI instance under construction, with the pointers needed to fill it and hand it to the client.
//
// Every operation that fails throws an HRESULT (WMIException.h): E_POINTER when the wrapper has no instance
// (or, for Indicate, no namespace services or no sink), else the failing call's own code.
#pragma once

#include "WMIRequest.h"
#include "atlbase.h"
#include "oleauto.h"
#include "wbemcli.h"
#include "wrl/client.h"

class WMIInstance {
public:
    // An empty wrapper: no pointers, no instance (Attach gives it one).
    WMIInstance() = default;
    // A new instance of the request's class (or of className): namespace services->GetObject(class), then
    // SpawnInstance. Holds a reference to the request's context, sink and services.
    explicit WMIInstance(const WMIRequest& request);
    WMIInstance(const WMIRequest& request, LPCWSTR className);
    virtual ~WMIInstance() = default;
    WMIInstance(const WMIInstance&) = delete;
    WMIInstance& operator=(const WMIInstance&) = delete;

    // Holds an existing instance with a reference; null throws E_POINTER.
    void Attach(IWbemClassObject* instance);

    void PutText(LPCWSTR name, LPCWSTR text);
    // Stores text and frees it (also when the put fails).
    void PutOwnedText(LPCWSTR name, BSTR text);
    void PutInt(LPCWSTR name, LONG value);
    void PutVariant(LPCWSTR name, const VARIANT& value);
    // Stores *value as given; a null value throws E_INVALIDARG.
    void PutRaw(LPCWSTR name, VARIANT* value);
    // The property's value.
    CComVariant Get(LPCWSTR name);
    // Hands the instance to the response sink (Indicate with one object).
    void Indicate();

    IWbemClassObject* Object() const { return instance_.Get(); }
    IWbemObjectSink* Sink() const { return sink_.Get(); }

protected:
    // Creates the instance of className through services (used by the constructors and by events).
    void Create(IWbemServices* services, IWbemContext* context, LPCWSTR className);
    void SetServices(IWbemServices* services) { services_ = services; }
    IWbemServices* Services() const { return services_.Get(); }

private:
    IWbemClassObject* Require() const;

    // Declared in reverse order of release: the instance goes first, the context last.
    Microsoft::WRL::ComPtr<IWbemContext> context_;
    Microsoft::WRL::ComPtr<IWbemObjectSink> sink_;
    Microsoft::WRL::ComPtr<IWbemServices> services_;
    Microsoft::WRL::ComPtr<IWbemClassObject> instance_;
};
