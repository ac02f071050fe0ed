// The provider's source of extrinsic events: a registration with the platform's decoupled event provider
// service. One per provider object, used only under that object's lock.
//
// Firing code: if HasSink() { WMIEventInstance e; CreateEvent(class, e); e.Put...(); Fire(e); }. Nothing here
// reports an error to a client: failures leave a trace line and a missing event.
#pragma once

#include "WMIEventInstance.h"
#include "wbemprov.h"
#include "wrl/client.h"

#include <string>

class WMIEventSource {
public:
    WMIEventSource() = default;
    virtual ~WMIEventSource() = default;
    WMIEventSource(const WMIEventSource&) = delete;
    WMIEventSource& operator=(const WMIEventSource&) = delete;

    // Stores the scope, creates the decoupled basic event provider and registers under `registrationName`
    // for the scope. On failure the source stays unregistered and the code is returned. User and locale are
    // not used.
    virtual HRESULT Register(LPCWSTR user, LPCWSTR locale, LPCWSTR scope, LPCWSTR registrationName);
    // Releases the decoupled provider; always 0.
    virtual HRESULT Unregister();

    // True when the platform currently has an event sink (someone is subscribed).
    bool HasSink();
    // Gives `event` a new instance of className; never throws (failures are traced, `event` stays empty).
    void CreateEvent(LPCWSTR className, WMIEventInstance& event);
    // Delivers `event` to the current sink under the process's own identity; never throws.
    void Fire(WMIEventInstance& event);

    bool IsRegistered() const { return static_cast<bool>(provider_); }
    const std::wstring& Scope() const { return scope_; }

protected:
    // Creates the platform's decoupled basic event provider (CoCreateInstance, in-process).
    virtual HRESULT CreateProvider(IWbemDecoupledBasicEventProvider** provider);

private:
    Microsoft::WRL::ComPtr<IWbemDecoupledBasicEventProvider> provider_;
    std::wstring scope_;
};
