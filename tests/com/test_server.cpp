// A small local server for the COM tests: one class (CLSID_QvTestServer) with an automation interface,
// IWbemProviderInit and IWbemServices (CreateInstanceEnumAsync streams test values into the caller's sink).
// It lives while objects exist and ends shortly after the last one goes, like the provider service.
// ExecNotificationQueryAsync keeps the caller's sink (a subscription) until CancelAsyncCall gives it back.
//   qv_com_test_server -Embedding          serve
//   qv_com_test_server -Silent -Embedding  start but never announce the class object (exits after 3 s)

#include "atlbase.h"
#include "ole2.h"
#include "qv_com_runtime.h"
#include "qv_wbem_interface_ids.h"
#include "test_classes.h"
#include "wbemprov.h"
#include "windows.h"
#include "wrl/client.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#define QV_UNSUPPORTED(name, params) \
    STDMETHODIMP name params override { return WBEM_E_NOT_SUPPORTED; }

namespace {

DWORD main_thread = 0;
std::atomic<LONG> locks{0};
std::atomic<bool> ever_locked{false};

// Sinks of open subscriptions; each holds one reference, kept for as long as the subscription is open (a
// server that dies with subscriptions open gives them up with its connections, which the tests check).
// Never destroyed: a server that ends with subscriptions open still holds their sinks as it exits, rather than
// dropping the last pointers to them in a static destructor (which leak checking would take for a leak).
std::mutex subscriptions_mutex;
std::vector<IWbemObjectSink*>& subscriptions = *new std::vector<IWbemObjectSink*>();

void Lock() {
    ++locks;
    ever_locked = true;
}
void Unlock() {
    if (--locks == 0) {
        CoSuspendClassObjects();
        PostThreadMessageW(main_thread, WM_QUIT, 0, 0);
    }
}

// Hands out `count` test values, by Next in any batch size.
class ValueEnumerator final : public qv::com::Object<IEnumWbemClassObject> {
public:
    explicit ValueEnumerator(LONG count) : count_(count) { Lock(); }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Next(LONG, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        if (objects == nullptr || returned == nullptr) return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        while (*returned < count && next_ < count_) objects[(*returned)++] = NewTestValue(next_++, L"Next");
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }
    STDMETHODIMP NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Clone(IEnumWbemClassObject** copy) override {
        *copy = nullptr;
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP Skip(LONG, ULONG count) override {
        next_ = std::min<LONG>(count_, next_ + static_cast<LONG>(count));
        return S_OK;
    }

private:
    ~ValueEnumerator() { Unlock(); }
    LONG count_;
    LONG next_ = 0;
};

bool SameObject(IUnknown* a, IUnknown* b) {
    if (a == nullptr || b == nullptr) return false;
    Microsoft::WRL::ComPtr<IUnknown> x, y;
    return SUCCEEDED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(x.GetAddressOf()))) &&
           SUCCEEDED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(y.GetAddressOf()))) && x == y;
}

class TestObject final : public qv::com::Object<IDispatch, IWbemProviderInit, IWbemServices> {
public:
    TestObject() { Lock(); }

    // --- IDispatch ---
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const struct {
            const wchar_t* name;
            DISPID id;
        } known[] = {{L"Add", kDispAdd},           {L"Echo", kDispEcho}, {L"ServerPid", kDispServerPid},
                     {L"Identity", kDispIdentity}, {L"Fail", kDispFail}, {L"OnMainThread", kDispOnMainThread}};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const auto& k : known)
                if (names[i] != nullptr && std::wcscmp(names[i], k.name) == 0) ids[i] = k.id;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                        UINT*) override {
        if (params == nullptr) return E_INVALIDARG;
        CComVariant ignored;
        if (result == nullptr) result = &ignored;
        HRESULT hr = S_OK;
        switch (member) {
        case kDispAdd:
            if (params->cArgs != 2 || params->rgvarg[0].vt != VT_I4 || params->rgvarg[1].vt != VT_I4)
                return DISP_E_TYPEMISMATCH;
            result->vt = VT_I4;
            result->lVal = params->rgvarg[0].lVal + params->rgvarg[1].lVal;
            break;
        case kDispEcho:
            if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
            hr = VariantCopy(result, &params->rgvarg[0]);
            break;
        case kDispServerPid:
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(getpid());
            break;
        case kDispIdentity: {
            SAFEARRAY* ids = SafeArrayCreateVector(VT_I4, 0, 3);
            auto* data = static_cast<LONG*>(ids->pvData);
            data[0] = static_cast<LONG>(qv::com::CallerIdentity());
            CoImpersonateClient();
            data[1] = static_cast<LONG>(qv::com::ThreadIdentity());
            CoRevertToSelf();
            data[2] = static_cast<LONG>(qv::com::ThreadIdentity());
            result->vt = VT_ARRAY | VT_I4;
            result->parray = ids;
            break;
        }
        case kDispFail:
            if (exception != nullptr) {
                std::memset(exception, 0, sizeof(*exception));
                exception->scode = E_FAIL;
                exception->bstrDescription = SysAllocString(L"Deliberate failure");
            }
            hr = DISP_E_EXCEPTION;
            break;
        case kDispOnMainThread:
            result->vt = VT_BOOL;
            result->boolVal = GetCurrentThreadId() == main_thread ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        default: hr = DISP_E_MEMBERNOTFOUND;
        }
        return hr;
    }

    // --- IWbemProviderInit ---
    STDMETHODIMP Initialize(LPWSTR, LONG, LPWSTR ns, LPWSTR, IWbemServices*, IWbemContext*,
                            IWbemProviderInitSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        bool ok = ns != nullptr && std::wcscmp(ns, L"root\\test") == 0;
        sink->SetStatus(ok ? static_cast<LONG>(WBEM_S_INITIALIZED) : static_cast<LONG>(WBEM_E_FAILED), 0);
        return WBEM_S_NO_ERROR;
    }

    // --- IWbemServices: the filter of CreateInstanceEnumAsync is the number of values to stream ---
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR filter, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        if (filter == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        long count = std::wcstol(filter, nullptr, 10);
        HRESULT hr = S_OK;
        for (long i = 0; i < count && SUCCEEDED(hr); ++i) {
            Microsoft::WRL::ComPtr<IWbemClassObject> value;
            value.Attach(NewTestValue(static_cast<LONG>(i), L"Item"));
            hr = sink->Indicate(1, value.GetAddressOf());
        }
        sink->SetStatus(0, hr, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }
    QV_UNSUPPORTED(OpenNamespace, (const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**))
    STDMETHODIMP CancelAsyncCall(IWbemObjectSink* sink) override {
        Microsoft::WRL::ComPtr<IWbemObjectSink> held;
        {
            std::lock_guard hold(subscriptions_mutex);
            for (auto it = subscriptions.begin(); it != subscriptions.end(); ++it) {
                // Compared by identity: the same sink may arrive as another proxy pointer.
                if (SameObject(*it, sink)) {
                    held.Attach(*it);  // the subscription's reference
                    subscriptions.erase(it);
                    break;
                }
            }
        }
        if (!held) return WBEM_E_NOT_FOUND;
        held->SetStatus(0, WBEM_E_CALL_CANCELLED, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }
    QV_UNSUPPORTED(QueryObjectSink, (LONG, IWbemObjectSink**))
    // GetObject("<n>") answers test value n by value; CreateInstanceEnum("<n>") an enumerator of n values.
    STDMETHODIMP GetObject(const BSTR path, LONG, IWbemContext*, IWbemClassObject** object,
                           IWbemCallResult**) override {
        if (path == nullptr || object == nullptr) return WBEM_E_INVALID_PARAMETER;
        *object = NewTestValue(static_cast<LONG>(std::wcstol(path, nullptr, 10)), L"Object");
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP CreateInstanceEnum(const BSTR filter, LONG, IWbemContext*, IEnumWbemClassObject** out) override {
        if (filter == nullptr || out == nullptr) return WBEM_E_INVALID_PARAMETER;
        *out = new ValueEnumerator(static_cast<LONG>(std::wcstol(filter, nullptr, 10)));
        return WBEM_S_NO_ERROR;
    }
    QV_UNSUPPORTED(GetObjectAsync, (const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(PutClass, (IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
    QV_UNSUPPORTED(PutClassAsync, (IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(DeleteClass, (const BSTR, LONG, IWbemContext*, IWbemCallResult**))
    QV_UNSUPPORTED(DeleteClassAsync, (const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(CreateClassEnum, (const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    QV_UNSUPPORTED(CreateClassEnumAsync, (const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(PutInstance, (IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
    QV_UNSUPPORTED(PutInstanceAsync, (IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(DeleteInstance, (const BSTR, LONG, IWbemContext*, IWbemCallResult**))
    QV_UNSUPPORTED(DeleteInstanceAsync, (const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(ExecQuery, (const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    QV_UNSUPPORTED(ExecQueryAsync, (const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QV_UNSUPPORTED(ExecNotificationQuery, (const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    STDMETHODIMP ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                            IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        sink->AddRef();
        std::lock_guard hold(subscriptions_mutex);
        subscriptions.push_back(sink);
        return WBEM_S_NO_ERROR;
    }
    QV_UNSUPPORTED(ExecMethod, (const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                                IWbemCallResult**))
    QV_UNSUPPORTED(ExecMethodAsync, (const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*))

private:
    ~TestObject() { Unlock(); }
};

class Factory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Microsoft::WRL::ComPtr<TestObject> created;
        created.Attach(new TestObject());
        return created.CopyTo(riid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? Lock() : Unlock();
        return S_OK;
    }
};

}  // namespace

int main(int argc, char** argv) {
    bool silent = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-Silent") == 0) silent = true;
    if (silent) {
        // A server that starts but never registers its class object: it idles a while on purpose.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        return 0;
    }
    if (FAILED(OleInitialize(nullptr))) return 1;
    if (FAILED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                    RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_DYNAMIC_CLOAKING | EOAC_SECURE_REFS,
                                    nullptr)))
        return 2;
    main_thread = GetCurrentThreadId();
    RegisterTestValueClass();
    static Factory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_QvTestServer, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
        return 3;
    // A server nobody uses does not linger.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(20));
        if (!ever_locked) PostThreadMessageW(main_thread, WM_QUIT, 0, 0);
    }).detach();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
    CoRevokeClassObject(cookie);
    CoUninitialize();
    return 0;
}
