// qvt_test_provider: a provider local server for the instrumentation service tests. It serves the dynamic
// classes of test_schema.mof (QVT_Dynamic: 3 instances; QVT_Bulk10, QVT_Bulk5000), their methods, and fires
// QVT_Event through the decoupled event provider. Each start appends "start <pid>" to
// <root>/test_provider.log, each Stall call "stall"; a put or delete that reaches it appends "put" or "delete" (the service must refuse
// them first). It exits about 50 ms after its last object is released.
#include "atlbase.h"
#include "objbase.h"
#include "qv_com_object.h"
#include "qv_system_root.h"
#include "wbemprov.h"
#include "wrl/client.h"

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

using Microsoft::WRL::ComPtr;

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
    ComPtr<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(locator.GetAddressOf()))))
        return -1;
    ComPtr<IWbemServices> wmi;
    HRESULT hr = locator->ConnectServer(CComBSTR(L"root\\WMI"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                        wmi.GetAddressOf());
    if (FAILED(hr)) return -1;
    ComPtr<IEnumWbemClassObject> answer;
    hr = wmi->ExecQuery(CComBSTR(L"WQL"), CComBSTR(L"select * from MSSmBios_RawSMBiosTables"), WBEM_FLAG_FORWARD_ONLY,
                        nullptr, answer.GetAddressOf());
    if (FAILED(hr)) return -1;
    long count = 0;
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        if (answer->Next(10000, 1, object.GetAddressOf(), &returned) != WBEM_S_NO_ERROR || returned != 1) break;
        ++count;
    }
    return count;
}

void PutText(IWbemClassObject* o, const wchar_t* name, const std::wstring& text) {
    CComVariant v(text.c_str());
    o->Put(name, 0, &v, 0);
}
void PutInt(IWbemClassObject* o, const wchar_t* name, LONG value) {
    CComVariant v(value);
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
        // As the BIOS provider's library does while it starts: read another provider's class of the service.
        if (std::getenv("QVT_INIT_READS_ROOT_WMI") != nullptr) Log("smbios " + std::to_string(CountRawSmbiosTables()));
        if (SUCCEEDED(CoCreateInstance(CLSID_WbemDecoupledBasicEventProvider, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IWbemDecoupledBasicEventProvider,
                                       reinterpret_cast<void**>(events_.GetAddressOf()))) &&
            FAILED(events_->Register(0, nullptr, nullptr, nullptr, ns, L"QVT_DecoupledEvents", nullptr)))
            events_.Reset();
        return sink->SetStatus(WBEM_S_INITIALIZED, 0);
    }

    // --- instances ---
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR cls, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        std::wstring name(cls);
        LONG count = CountOf(name);
        if (count < 0) return sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_INVALID_CLASS, nullptr, nullptr);
        ComPtr<IWbemClassObject> definition;
        HRESULT hr = services_->GetObject(cls, 0, nullptr, definition.GetAddressOf(), nullptr);
        if (FAILED(hr)) return sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        std::vector<ComPtr<IWbemClassObject>> batch;
        for (LONG i = 0; i < count && SUCCEEDED(hr); ++i) {
            batch.push_back(Make(definition.Get(), name, i));
            if (batch.size() == 100 || i + 1 == count) {
                std::vector<IWbemClassObject*> indicated;
                for (const auto& o : batch) indicated.push_back(o.Get());
                hr = sink->Indicate(static_cast<LONG>(indicated.size()), indicated.data());
                batch.clear();
            }
        }
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
            ComPtr<IWbemClassObject> definition;
            if (index >= 0 && index < CountOf(cls) &&
                SUCCEEDED(
                    services_->GetObject(CComBSTR(cls.c_str()), 0, nullptr, definition.GetAddressOf(), nullptr))) {
                ComPtr<IWbemClassObject> instance = Make(definition.Get(), cls, index);
                sink->Indicate(1, instance.GetAddressOf());
                hr = S_OK;
            }
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
        ComPtr<IWbemClassObject> definition;
        HRESULT hr = services_->GetObject(CComBSTR(L"QVT_Dynamic"), 0, nullptr, definition.GetAddressOf(), nullptr);
        ComPtr<IWbemClassObject> out_signature;
        if (SUCCEEDED(hr)) hr = definition->GetMethod(method, 0, nullptr, out_signature.GetAddressOf());
        ComPtr<IWbemClassObject> out;
        if (SUCCEEDED(hr)) hr = out_signature->SpawnInstance(0, out.GetAddressOf());
        std::wstring name(method);
        if (SUCCEEDED(hr) && name == L"Add") {
            CComVariant a, b;
            in->Get(L"A", 0, &a, nullptr, nullptr);
            in->Get(L"B", 0, &b, nullptr, nullptr);
            PutInt(out.Get(), L"Sum", a.lVal + b.lVal);
            PutText(out.Get(), L"ProviderObject", qv::win::FromUtf8(id_));
            CComVariant tag;
            if (context != nullptr && SUCCEEDED(context->GetValue(L"Tag", 0, &tag)) && tag.vt == VT_BSTR)
                PutText(out.Get(), L"ContextTag", tag.bstrVal);
            PutInt(out.Get(), L"ReturnValue", 0);
        } else if (SUCCEEDED(hr) && name == L"Fire") {
            CComVariant message;
            in->Get(L"Message", 0, &message, nullptr, nullptr);
            PutInt(out.Get(), L"ReturnValue", FireEvent(message.vt == VT_BSTR ? message.bstrVal : L"") ? 0 : 1);
        } else if (SUCCEEDED(hr) && name == L"Stall") {
            Log("stall");
            // A call that takes long on purpose: the tests cancel or time out clients while it runs.
            std::this_thread::sleep_for(std::chrono::seconds(30));
            PutInt(out.Get(), L"ReturnValue", 0);
        }
        if (SUCCEEDED(hr)) sink->Indicate(1, out.GetAddressOf());
        sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
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
        if (events_) events_->UnRegister();
    }

    ComPtr<IWbemClassObject> Make(IWbemClassObject* definition, const std::wstring& cls, LONG index) {
        ComPtr<IWbemClassObject> instance;
        definition->SpawnInstance(0, instance.GetAddressOf());
        PutInt(instance.Get(), L"Index", index);
        PutText(instance.Get(), L"Label", cls + L" " + std::to_wstring(index));
        if (cls == L"QVT_Dynamic") PutText(instance.Get(), L"ProviderObject", qv::win::FromUtf8(id_));
        return instance;
    }

    // Delivers one QVT_Event when the platform hands out a sink (someone is subscribed).
    bool FireEvent(const std::wstring& message) {
        if (!events_) return false;
        ComPtr<IWbemObjectSink> sink;
        if (events_->GetSink(0, nullptr, sink.GetAddressOf()) != S_OK || !sink) return false;
        ComPtr<IWbemClassObject> definition;
        ComPtr<IWbemClassObject> event;
        bool fired = SUCCEEDED(services_->GetObject(CComBSTR(L"QVT_Event"), 0, nullptr, definition.GetAddressOf(),
                                                    nullptr)) &&
                     SUCCEEDED(definition->SpawnInstance(0, event.GetAddressOf()));
        if (fired) {
            PutText(event.Get(), L"Message", message);
            fired = SUCCEEDED(sink->Indicate(1, event.GetAddressOf()));
        }
        return fired;
    }

    std::string id_;
    std::atomic<ULONG> refs_{1};
    ComPtr<IWbemServices> services_;
    ComPtr<IWbemDecoupledBasicEventProvider> events_;
};

class Factory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        ComPtr<IWbemProviderInit> created;
        created.Attach(new Provider());
        return created.CopyTo(riid, out);
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
    // Time passes on purpose: like a provider host, it ends about 50 ms after its last object went.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CoRevokeClassObject(cookie);
    Log("exit " + std::to_string(getpid()));
    CoUninitialize();
    return 0;
}
