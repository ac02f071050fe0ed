// The provider base: a COM object with IWbemProviderInit and IWbemServices that validates every call,
// turns the named class (and method) into a call of a class handler, and reports the outcome to WMI through
// the caller's response sink.
//
// Derived providers fill the dispatch tables in their constructor (AddClass, AddMethod); class and method
// names are compared without regard to case, the first matching entry wins. Handlers never talk to the
// response sink (except a method's IndicateOut) and report errors by throwing HRESULTs (WMIException.h).
//
// Served operations (GetObjectAsync, PutInstanceAsync, DeleteInstanceAsync, CreateInstanceEnumAsync,
// ExecQueryAsync, ExecMethodAsync) run in the request frame: object lock, impersonation, validation (null
// sink, Initialize not run, null instance: WBEM_E_INVALID_PARAMETER), the work, SetStatus(0, S_OK) at the
// end; a thrown HRESULT (or E_UNEXPECTED for anything else) becomes the result and goes to SetStatus as well.
// An object path the parser refuses fails with WBEM_E_INVALID_OBJECT_PATH. Every other operation returns
// WBEM_E_NOT_SUPPORTED at once.
//
// Lifetime: reference counted; destroyed by the last Release. Thread safety: Initialize and the served
// operations hold the object's critical section for their whole duration.
#pragma once

#include "WMIEventSource.h"
#include "WMIInstance.h"
#include "WMIInstanceList.h"
#include "WMIMethodCall.h"
#include "WMIRequest.h"
#include "wbemprov.h"
#include "windows.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class WMIProvider : public IWbemProviderInit, public IWbemServices {
public:
    using GetHandler = std::function<void(WMIInstance& instance, LONG flags)>;
    using EnumerateHandler = std::function<void(WMIInstanceList& list, WMIRequest& request)>;
    using MethodHandler = std::function<void(WMIInstance& target, BSTR objectPath, WMIMethodCall& call, LONG flags)>;

    // IUnknown: IUnknown, IWbemProviderInit and IWbemServices.
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // IWbemProviderInit: keeps the namespace services and registers the event source; the init sink gets
    // WBEM_S_INITIALIZED, or WBEM_E_FAILED when that raised an exception. Always returns WBEM_S_NO_ERROR.
    // The registration's result changes nothing; it is traced ("Event source <name> registered for <scope>",
    // or "... not registered for <scope> (0x<code>)"), and so is its end when the provider is destroyed
    // ("Event source <name> unregistered").
    STDMETHOD(Initialize)(LPWSTR user, LONG flags, LPWSTR ns, LPWSTR locale, IWbemServices* services,
                          IWbemContext* context, IWbemProviderInitSink* initSink) override;

    // IWbemServices, in slot order.
    STDMETHOD(OpenNamespace)(const BSTR ns, LONG flags, IWbemContext* context, IWbemServices** working,
                             IWbemCallResult** result) override;
    STDMETHOD(CancelAsyncCall)(IWbemObjectSink* sink) override;
    STDMETHOD(QueryObjectSink)(LONG flags, IWbemObjectSink** handler) override;
    STDMETHOD(GetObject)(const BSTR objectPath, LONG flags, IWbemContext* context, IWbemClassObject** object,
                         IWbemCallResult** result) override;
    STDMETHOD(GetObjectAsync)(const BSTR objectPath, LONG flags, IWbemContext* context,
                              IWbemObjectSink* handler) override;
    STDMETHOD(PutClass)(IWbemClassObject* object, LONG flags, IWbemContext* context, IWbemCallResult** result) override;
    STDMETHOD(PutClassAsync)(IWbemClassObject* object, LONG flags, IWbemContext* context,
                             IWbemObjectSink* handler) override;
    STDMETHOD(DeleteClass)(const BSTR className, LONG flags, IWbemContext* context, IWbemCallResult** result) override;
    STDMETHOD(DeleteClassAsync)(const BSTR className, LONG flags, IWbemContext* context,
                                IWbemObjectSink* handler) override;
    STDMETHOD(CreateClassEnum)(const BSTR superclass, LONG flags, IWbemContext* context,
                               IEnumWbemClassObject** enumerator) override;
    STDMETHOD(CreateClassEnumAsync)(const BSTR superclass, LONG flags, IWbemContext* context,
                                    IWbemObjectSink* handler) override;
    STDMETHOD(PutInstance)(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                           IWbemCallResult** result) override;
    STDMETHOD(PutInstanceAsync)(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                                IWbemObjectSink* handler) override;
    STDMETHOD(DeleteInstance)(const BSTR objectPath, LONG flags, IWbemContext* context,
                              IWbemCallResult** result) override;
    STDMETHOD(DeleteInstanceAsync)(const BSTR objectPath, LONG flags, IWbemContext* context,
                                   IWbemObjectSink* handler) override;
    STDMETHOD(CreateInstanceEnum)(const BSTR filter, LONG flags, IWbemContext* context,
                                  IEnumWbemClassObject** enumerator) override;
    STDMETHOD(CreateInstanceEnumAsync)(const BSTR filter, LONG flags, IWbemContext* context,
                                       IWbemObjectSink* handler) override;
    STDMETHOD(ExecQuery)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                         IEnumWbemClassObject** enumerator) override;
    STDMETHOD(ExecQueryAsync)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                              IWbemObjectSink* handler) override;
    STDMETHOD(ExecNotificationQuery)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                     IEnumWbemClassObject** enumerator) override;
    STDMETHOD(ExecNotificationQueryAsync)(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                          IWbemObjectSink* handler) override;
    STDMETHOD(ExecMethod)(const BSTR objectPath, const BSTR methodName, LONG flags, IWbemContext* context,
                          IWbemClassObject* inParams, IWbemClassObject** outParams, IWbemCallResult** result) override;
    STDMETHOD(ExecMethodAsync)(const BSTR objectPath, const BSTR methodName, LONG flags, IWbemContext* context,
                               IWbemClassObject* inParams, IWbemObjectSink* handler) override;

protected:
    // The event source registers at Initialize under registrationName for the namespace eventScope. The new
    // object has one reference.
    WMIProvider(LPCWSTR eventScope, LPCWSTR eventRegistrationName);
    virtual ~WMIProvider();

    void AddClass(LPCWSTR className, GetHandler get, EnumerateHandler enumerate);
    void AddMethod(LPCWSTR className, LPCWSTR methodName, MethodHandler run);

    WMIEventSource& EventSource() { return *event_source_; }
    // Replaces (and owns) the event source; before Initialize, e.g. one that creates its provider differently.
    void SetEventSource(WMIEventSource* source);
    IWbemServices* NamespaceServices() const { return services_.Get(); }

private:
    struct ClassEntry {
        std::wstring name;
        GetHandler get;
        EnumerateHandler enumerate;
    };
    struct MethodEntry {
        std::wstring className;
        std::wstring methodName;
        MethodHandler run;
    };

    template <typename Work>
    HRESULT Serve(IWbemObjectSink* sink, bool missingArgument, Work&& work);
    const ClassEntry* FindClass(LPCWSTR name) const;
    void Enumerate(LPCWSTR className, IWbemContext* context, IWbemObjectSink* sink);

    volatile LONG references_ = 1;
    CRITICAL_SECTION lock_;
    Microsoft::WRL::ComPtr<IWbemServices> services_;
    std::unique_ptr<WMIEventSource> event_source_;
    std::wstring event_scope_;
    std::wstring event_registration_;
    std::vector<ClassEntry> classes_;
    std::vector<MethodEntry> methods_;
};
