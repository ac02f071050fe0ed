// qvt_test_provider: a provider local server for the instrumentation service tests. It serves the dynamic
// classes of test_schema.mof (QVT_Dynamic: 3 instances; QVT_Bulk10, QVT_Bulk5000), their methods, and fires
// QVT_Event through the decoupled event provider. Each start appends "start <pid>" to
// <root>/test_provider.log, each Stall call "stall"; a put or delete that reaches it appends "put" or "delete" (the service must refuse
// them first). It exits about 50 ms after its last object is released.
#include "objbase.h"
#include "qv_com_object.h"
#include "qv_system_root.h"
#include "wbemprov.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// {6A0B2C4D-1E3F-4A5B-8C7D-9E0F1A2B3C4D}
DEFINE_GUID(CLSID_QvtTestProvider, 0x6a0b2c4d, 0x1e3f, 0x4a5b, 0x8c, 0x7d, 0x9e, 0x0f, 0x1a, 0x2b, 0x3c, 0x4d);

namespace {

std::mutex life_mutex;
std::condition_variable life_cv;
long objects = 0;
bool ever_used = false;
std::atomic<int> serial{0};

void Lock() {
    std::lock_guard lock(life_mutex);
    ++objects;
    ever_used = true;
}
void Unlock() {
    std::lock_guard lock(life_mutex);
    --objects;
    life_cv.notify_all();
}

void Log(const std::string& line) {
    std::ofstream out(qv::win::SystemRoot() / "test_provider.log", std::ios::app);
    out << line << '\n';
}

// The objects of "select * from MSSmBios_RawSMBiosTables" in root\\WMI, through a locator of this process;
// -1 when the query fails.
long CountRawSmbiosTables() {
    IWbemLocator* locator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator))))
        return -1;
    IWbemServices* wmi = nullptr;
    BSTR path = SysAllocString(L"root\\WMI");
    HRESULT hr = locator->ConnectServer(path, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &wmi);
    SysFreeString(path);
    locator->Release();
    if (FAILED(hr)) return -1;
    BSTR language = SysAllocString(L"WQL"), query = SysAllocString(L"select * from MSSmBios_RawSMBiosTables");
    IEnumWbemClassObject* answer = nullptr;
    hr = wmi->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY, nullptr, &answer);
    SysFreeString(language);
    SysFreeString(query);
    wmi->Release();
    if (FAILED(hr)) return -1;
    long count = 0;
    for (;;) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        if (answer->Next(10000, 1, &object, &returned) != WBEM_S_NO_ERROR || returned != 1) break;
        object->Release();
        ++count;
    }
    answer->Release();
    return count;
}

void PutText(IWbemClassObject* o, const wchar_t* name, const std::wstring& text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text.c_str());
    o->Put(name, 0, &v, 0);
    VariantClear(&v);
}
void PutInt(IWbemClassObject* o, const wchar_t* name, LONG value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    o->Put(name, 0, &v, 0);
}

LONG CountOf(const std::wstring& cls) {
    if (cls == L"QVT_Bulk10") return 10;
    if (cls == L"QVT_Bulk5000") return 5000;
    if (cls == L"QVT_Dynamic") return 3;
    return -1;
}

class Provider final : public IWbemProviderInit, public IWbemServices {
public:
    Provider() : id_(std::to_string(getpid()) + ":" + std::to_string(++serial)) { Lock(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWbemProviderInit))
            *out = static_cast<IWbemProviderInit*>(this);
        else if (IsEqualGUID(riid, IID_IWbemServices))
            *out = static_cast<IWbemServices*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            delete this;
            Unlock();
        }
        return left;
    }

    STDMETHODIMP Initialize(LPWSTR, LONG, LPWSTR ns, LPWSTR, IWbemServices* services, IWbemContext*,
                            IWbemProviderInitSink* sink) override {
        services_ = services;
        services_->AddRef();
        // As the BIOS provider's library does while it starts: read another provider's class of the service.
        if (std::getenv("QVT_INIT_READS_ROOT_WMI") != nullptr) Log("smbios " + std::to_string(CountRawSmbiosTables()));
        if (SUCCEEDED(CoCreateInstance(CLSID_WbemDecoupledBasicEventProvider, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IWbemDecoupledBasicEventProvider, reinterpret_cast<void**>(&events_))) &&
            FAILED(events_->Register(0, nullptr, nullptr, nullptr, ns, L"QVT_DecoupledEvents", nullptr))) {
            events_->Release();
            events_ = nullptr;
        }
        return sink->SetStatus(WBEM_S_INITIALIZED, 0);
    }

    // --- instances ---
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR cls, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        std::wstring name(cls);
        LONG count = CountOf(name);
        if (count < 0) return sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_INVALID_CLASS, nullptr, nullptr);
        IWbemClassObject* definition = nullptr;
        HRESULT hr = services_->GetObject(cls, 0, nullptr, &definition, nullptr);
        if (FAILED(hr)) return sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        std::vector<IWbemClassObject*> batch;
        for (LONG i = 0; i < count && SUCCEEDED(hr); ++i) {
            batch.push_back(Make(definition, name, i));
            if (batch.size() == 100 || i + 1 == count) {
                hr = sink->Indicate(static_cast<LONG>(batch.size()), batch.data());
                for (auto* o : batch) o->Release();
                batch.clear();
            }
        }
        definition->Release();
        sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP GetObjectAsync(const BSTR path, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        std::wstring text(path);
        auto dot = text.find(L".Index=");
        HRESULT hr = WBEM_E_NOT_FOUND;
        if (dot != std::wstring::npos) {
            std::wstring cls = text.substr(0, dot);
            long index = std::wcstol(text.c_str() + dot + 7, nullptr, 10);
            IWbemClassObject* definition = nullptr;
            BSTR name = SysAllocString(cls.c_str());
            if (index >= 0 && index < CountOf(cls) &&
                SUCCEEDED(services_->GetObject(name, 0, nullptr, &definition, nullptr))) {
                IWbemClassObject* instance = Make(definition, cls, index);
                sink->Indicate(1, &instance);
                instance->Release();
                definition->Release();
                hr = S_OK;
            }
            SysFreeString(name);
        }
        sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        Log("put");
        sink->SetStatus(WBEM_STATUS_COMPLETE, S_OK, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        Log("delete");
        sink->SetStatus(WBEM_STATUS_COMPLETE, S_OK, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }

    // --- methods ---
    STDMETHODIMP ExecMethodAsync(const BSTR, const BSTR method, LONG, IWbemContext* context, IWbemClassObject* in,
                                 IWbemObjectSink* sink) override {
        IWbemClassObject* definition = nullptr;
        BSTR cls = SysAllocString(L"QVT_Dynamic");
        HRESULT hr = services_->GetObject(cls, 0, nullptr, &definition, nullptr);
        SysFreeString(cls);
        IWbemClassObject* out_signature = nullptr;
        if (SUCCEEDED(hr)) hr = definition->GetMethod(method, 0, nullptr, &out_signature);
        IWbemClassObject* out = nullptr;
        if (SUCCEEDED(hr)) hr = out_signature->SpawnInstance(0, &out);
        std::wstring name(method);
        if (SUCCEEDED(hr) && name == L"Add") {
            VARIANT a, b;
            VariantInit(&a);
            VariantInit(&b);
            in->Get(L"A", 0, &a, nullptr, nullptr);
            in->Get(L"B", 0, &b, nullptr, nullptr);
            PutInt(out, L"Sum", a.lVal + b.lVal);
            PutText(out, L"ProviderObject", qv::win::FromUtf8(id_));
            VARIANT tag;
            VariantInit(&tag);
            if (context != nullptr && SUCCEEDED(context->GetValue(L"Tag", 0, &tag)) && tag.vt == VT_BSTR)
                PutText(out, L"ContextTag", tag.bstrVal);
            VariantClear(&tag);
            PutInt(out, L"ReturnValue", 0);
        } else if (SUCCEEDED(hr) && name == L"Fire") {
            VARIANT message;
            VariantInit(&message);
            in->Get(L"Message", 0, &message, nullptr, nullptr);
            PutInt(out, L"ReturnValue", FireEvent(message.vt == VT_BSTR ? message.bstrVal : L"") ? 0 : 1);
            VariantClear(&message);
        } else if (SUCCEEDED(hr) && name == L"Stall") {
            Log("stall");
            std::this_thread::sleep_for(std::chrono::seconds(30));
            PutInt(out, L"ReturnValue", 0);
        }
        if (SUCCEEDED(hr)) sink->Indicate(1, &out);
        sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        if (out) out->Release();
        if (out_signature) out_signature->Release();
        if (definition) definition->Release();
        return WBEM_S_NO_ERROR;
    }

#define QVT_UNSUPPORTED(name, params) \
    STDMETHODIMP name params override { return WBEM_E_NOT_SUPPORTED; }
    QVT_UNSUPPORTED(OpenNamespace, (const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**))
    QVT_UNSUPPORTED(CancelAsyncCall, (IWbemObjectSink*))
    QVT_UNSUPPORTED(QueryObjectSink, (LONG, IWbemObjectSink**))
    QVT_UNSUPPORTED(GetObject, (const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**))
    QVT_UNSUPPORTED(PutClass, (IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
    QVT_UNSUPPORTED(PutClassAsync, (IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*))
    QVT_UNSUPPORTED(DeleteClass, (const BSTR, LONG, IWbemContext*, IWbemCallResult**))
    QVT_UNSUPPORTED(DeleteClassAsync, (const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QVT_UNSUPPORTED(CreateClassEnum, (const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    QVT_UNSUPPORTED(CreateClassEnumAsync, (const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QVT_UNSUPPORTED(PutInstance, (IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**))
    QVT_UNSUPPORTED(DeleteInstance, (const BSTR, LONG, IWbemContext*, IWbemCallResult**))
    QVT_UNSUPPORTED(CreateInstanceEnum, (const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    QVT_UNSUPPORTED(ExecQuery, (const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    QVT_UNSUPPORTED(ExecQueryAsync, (const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QVT_UNSUPPORTED(ExecNotificationQuery, (const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**))
    QVT_UNSUPPORTED(ExecNotificationQueryAsync, (const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*))
    QVT_UNSUPPORTED(ExecMethod, (const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                                 IWbemCallResult**))

private:
    ~Provider() {
        if (events_ != nullptr) {
            events_->UnRegister();
            events_->Release();
        }
        if (services_ != nullptr) services_->Release();
    }

    IWbemClassObject* Make(IWbemClassObject* definition, const std::wstring& cls, LONG index) {
        IWbemClassObject* instance = nullptr;
        definition->SpawnInstance(0, &instance);
        PutInt(instance, L"Index", index);
        PutText(instance, L"Label", cls + L" " + std::to_wstring(index));
        if (cls == L"QVT_Dynamic") PutText(instance, L"ProviderObject", qv::win::FromUtf8(id_));
        return instance;
    }

    // Delivers one QVT_Event when the platform hands out a sink (someone is subscribed).
    bool FireEvent(const std::wstring& message) {
        if (events_ == nullptr) return false;
        IWbemObjectSink* sink = nullptr;
        if (events_->GetSink(0, nullptr, &sink) != S_OK || sink == nullptr) return false;
        IWbemClassObject* definition = nullptr;
        IWbemClassObject* event = nullptr;
        BSTR cls = SysAllocString(L"QVT_Event");
        bool fired = SUCCEEDED(services_->GetObject(cls, 0, nullptr, &definition, nullptr)) &&
                     SUCCEEDED(definition->SpawnInstance(0, &event));
        SysFreeString(cls);
        if (fired) {
            PutText(event, L"Message", message);
            fired = SUCCEEDED(sink->Indicate(1, &event));
            event->Release();
        }
        if (definition) definition->Release();
        sink->Release();
        return fired;
    }

    std::string id_;
    std::atomic<ULONG> refs_{1};
    IWbemServices* services_ = nullptr;
    IWbemDecoupledBasicEventProvider* events_ = nullptr;
};

class Factory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* p = new Provider();
        HRESULT hr = p->QueryInterface(riid, out);
        static_cast<IWbemProviderInit*>(p)->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? Lock() : Unlock();
        return S_OK;
    }
};

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    Log("start " + std::to_string(getpid()));
    static Factory factory;
    DWORD cookie = 0;
    if (FAILED(
            CoRegisterClassObject(CLSID_QvtTestProvider, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
        return 3;
    {
        std::unique_lock lock(life_mutex);
        // Unused, it does not linger; used, it ends once its last object is gone.
        life_cv.wait_for(lock, std::chrono::seconds(20), [] { return ever_used; });
        life_cv.wait(lock, [] { return objects == 0; });
    }
    CoSuspendClassObjects();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CoRevokeClassObject(cookie);
    Log("exit " + std::to_string(getpid()));
    CoUninitialize();
    return 0;
}
