#include "WMIProvider.h"

#include "WMIException.h"
#include "WMIRequestPath.h"
#include "objbase.h"
#include "windows.h"

#include <cwchar>

namespace {

bool SameName(LPCWSTR a, LPCWSTR b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a != nullptr ? a : L"", -1, b != nullptr ? b : L"",
                          -1) == CSTR_EQUAL;
}

// Parses the path of a request, refusing what the parser refuses.
void ParsePathOrThrow(LPCWSTR text, WMIRequestPath* path) {
    if (!ParseRequestPath(text, path)) WMI_THROW(WBEM_E_INVALID_OBJECT_PATH);
}

// The target instance of a path's class with the path's keys put into it, in path order.
void PutKeys(WMIInstance& instance, const WMIRequestPath& path) {
    for (const auto& [name, value] : path.keys) instance.PutVariant(name.c_str(), value);
}

// The outcome of the event source's registration: the only trace of it, since it changes nothing else.
void TraceEventRegistration(const std::wstring& name, const std::wstring& scope, HRESULT result) {
    wchar_t line[512];
    if (SUCCEEDED(result))
        std::swprintf(line, 512, L"Event source %ls registered for %ls\n", name.c_str(), scope.c_str());
    else
        std::swprintf(line, 512, L"Event source %ls not registered for %ls (0x%X)\n", name.c_str(), scope.c_str(),
                      static_cast<unsigned>(result));
    OutputDebugStringW(line);
}

}  // namespace

WMIProvider::WMIProvider(LPCWSTR eventScope, LPCWSTR eventRegistrationName)
    : event_source_(new WMIEventSource()),
      event_scope_(eventScope != nullptr ? eventScope : L""),
      event_registration_(eventRegistrationName != nullptr ? eventRegistrationName : L"") {
    InitializeCriticalSection(&lock_);
}

WMIProvider::~WMIProvider() {
    if (event_source_->IsRegistered()) {
        wchar_t line[512];
        std::swprintf(line, 512, L"Event source %ls unregistered\n", event_registration_.c_str());
        OutputDebugStringW(line);
    }
    event_source_->Unregister();
    event_source_.reset();
    services_.Reset();
    DeleteCriticalSection(&lock_);
}

void WMIProvider::AddClass(LPCWSTR className, GetHandler get, EnumerateHandler enumerate) {
    classes_.push_back({className, std::move(get), std::move(enumerate)});
}

void WMIProvider::AddMethod(LPCWSTR className, LPCWSTR methodName, MethodHandler run) {
    methods_.push_back({className, methodName, std::move(run)});
}

void WMIProvider::SetEventSource(WMIEventSource* source) {
    if (source != nullptr) event_source_.reset(source);
}

const WMIProvider::ClassEntry* WMIProvider::FindClass(LPCWSTR name) const {
    for (const ClassEntry& entry : classes_)
        if (SameName(entry.name.c_str(), name)) return &entry;
    return nullptr;
}

// --- IUnknown -------------------------------------------------------------------------------------------------

STDMETHODIMP WMIProvider::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWbemProviderInit) {
        *object = static_cast<IWbemProviderInit*>(this);
    } else if (iid == IID_IWbemServices) {
        *object = static_cast<IWbemServices*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) WMIProvider::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) WMIProvider::Release() {
    LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

// --- IWbemProviderInit ----------------------------------------------------------------------------------------

STDMETHODIMP WMIProvider::Initialize(LPWSTR user, LONG, LPWSTR, LPWSTR locale, IWbemServices* services, IWbemContext*,
                                     IWbemProviderInitSink* initSink) {
    EnterCriticalSection(&lock_);
    services_ = services;
    CoImpersonateClient();
    bool failed = false;
    try {
        HRESULT registered = event_source_->Register(user, locale, event_scope_.c_str(), event_registration_.c_str());
        TraceEventRegistration(event_registration_, event_scope_, registered);
    } catch (HRESULT hr) {
        WMI_TRACE_CAUGHT(hr);
        failed = true;
    } catch (...) {
        WMI_TRACE_CAUGHT_GENERAL();
        failed = true;
    }
    CoRevertToSelf();
    if (initSink != nullptr)
        initSink->SetStatus(failed ? static_cast<LONG>(WBEM_E_FAILED) : static_cast<LONG>(WBEM_S_INITIALIZED), 0);
    LeaveCriticalSection(&lock_);
    return WBEM_S_NO_ERROR;
}

// --- the request frame ----------------------------------------------------------------------------------------

template <typename Work>
HRESULT WMIProvider::Serve(IWbemObjectSink* sink, bool missingArgument, Work&& work) {
    EnterCriticalSection(&lock_);
    CoImpersonateClient();
    HRESULT result = WBEM_S_NO_ERROR;
    try {
        if (sink == nullptr || !services_ || missingArgument) WMI_THROW(WBEM_E_INVALID_PARAMETER);
        work();
        WMI_THROW_IF_FAILED(sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr));
    } catch (HRESULT hr) {
        WMI_TRACE_CAUGHT(hr);
        result = hr;
    } catch (...) {
        WMI_TRACE_CAUGHT_GENERAL();
        result = E_UNEXPECTED;
    }
    if (FAILED(result) && sink != nullptr) sink->SetStatus(WBEM_STATUS_COMPLETE, result, nullptr, nullptr);
    CoRevertToSelf();
    LeaveCriticalSection(&lock_);
    return result;
}

// --- served operations ------------------------------------------------------------------------------------------

STDMETHODIMP WMIProvider::GetObjectAsync(const BSTR objectPath, LONG flags, IWbemContext* context,
                                         IWbemObjectSink* handler) {
    return Serve(handler, false, [&] {
        WMIRequestPath path;
        ParsePathOrThrow(objectPath, &path);
        WMIRequest request(path.className.c_str(), services_.Get(), context, handler);
        WMIInstance instance(request);
        PutKeys(instance, path);
        const ClassEntry* entry = FindClass(request.ClassName());
        if (entry == nullptr || !entry->get) WMI_THROW(WBEM_E_INVALID_CLASS);
        entry->get(instance, flags);
        instance.Indicate();
    });
}

void WMIProvider::Enumerate(LPCWSTR className, IWbemContext* context, IWbemObjectSink* sink) {
    WMIRequest request(className, services_.Get(), context, sink);
    WMIInstanceList list(request.Sink());
    const ClassEntry* entry = FindClass(request.ClassName());
    if (entry == nullptr || !entry->enumerate) WMI_THROW(WBEM_E_INVALID_CLASS);
    entry->enumerate(list, request);
}

STDMETHODIMP WMIProvider::CreateInstanceEnumAsync(const BSTR filter, LONG, IWbemContext* context,
                                                  IWbemObjectSink* handler) {
    return Serve(handler, false, [&] { Enumerate(filter, context, handler); });
}

STDMETHODIMP WMIProvider::ExecQueryAsync(const BSTR, const BSTR query, LONG, IWbemContext* context,
                                         IWbemObjectSink* handler) {
    return Serve(handler, false, [&] {
        std::wstring className = RequestQueryClass(const_cast<BSTR>(query));
        Enumerate(className.c_str(), context, handler);
    });
}

STDMETHODIMP WMIProvider::PutInstanceAsync(IWbemClassObject* instance, LONG, IWbemContext*, IWbemObjectSink* handler) {
    return Serve(handler, instance == nullptr, [&] {
        CComVariant cls;
        WMI_THROW_IF_FAILED(instance->Get(L"__CLASS", 0, &cls, nullptr, nullptr));
        std::wstring className = cls.vt == VT_BSTR && cls.bstrVal != nullptr ? cls.bstrVal : L"";
        WMIInstance wrapped;
        wrapped.Attach(instance);
        // Instances are read-only: a provider class refuses the put, any other class is not ours.
        WMI_THROW(FindClass(className.c_str()) != nullptr ? WBEM_E_NOT_SUPPORTED : WBEM_E_INVALID_CLASS);
    });
}

STDMETHODIMP WMIProvider::DeleteInstanceAsync(const BSTR objectPath, LONG, IWbemContext* context,
                                              IWbemObjectSink* handler) {
    return Serve(handler, false, [&] {
        WMIRequestPath path;
        ParsePathOrThrow(objectPath, &path);
        WMIRequest request(path.className.c_str(), services_.Get(), context, handler);
        WMIInstance instance(request);
        PutKeys(instance, path);
        WMI_THROW(FindClass(request.ClassName()) != nullptr ? WBEM_E_NOT_SUPPORTED : WBEM_E_INVALID_CLASS);
    });
}

STDMETHODIMP WMIProvider::ExecMethodAsync(const BSTR objectPath, const BSTR methodName, LONG flags,
                                          IWbemContext* context, IWbemClassObject* inParams, IWbemObjectSink* handler) {
    return Serve(handler, false, [&] {
        WMIRequestPath path;
        ParsePathOrThrow(objectPath, &path);
        WMIRequest request(path.className.c_str(), services_.Get(), context, handler);
        WMIInstance target(request);
        PutKeys(target, path);
        WMIMethodCall call(request, methodName, inParams);
        for (const MethodEntry& entry : methods_) {
            if (SameName(entry.className.c_str(), request.ClassName()) &&
                SameName(entry.methodName.c_str(), methodName)) {
                entry.run(target, objectPath, call, flags);
                return;
            }
        }
        WMI_THROW(WBEM_E_INVALID_METHOD);
    });
}

// --- operations the provider does not offer ----------------------------------------------------------------------

STDMETHODIMP WMIProvider::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::CancelAsyncCall(IWbemObjectSink*) { return WBEM_E_NOT_SUPPORTED; }
STDMETHODIMP WMIProvider::QueryObjectSink(LONG, IWbemObjectSink**) { return WBEM_E_NOT_SUPPORTED; }
STDMETHODIMP WMIProvider::GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP WMIProvider::ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                                     IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
