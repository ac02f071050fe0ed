// IWbemServices of one namespace, for clients and for the providers the service hosts: static objects from
// the repository, dynamic ones from the class's provider, WQL's WHERE and SELECT list applied here, events.
#include "com_object.h"

#include "qv_com_runtime.h"
#include "qv_object_path.h"
#include "qv_wbem_administrators.h"

#include <thread>

namespace qv::wbem::service {

namespace {

constexpr LONG kBatch = 64;  // objects per Indicate to an async client

bool IsWql(const BSTR language) { return language != nullptr && NamesEqual(language, L"WQL"); }

// The object the SELECT list leaves: only the selected properties (system properties stay).
void ApplySelect(const wql::Query& query, CimObject* object) {
    if (query.select_all) return;
    std::vector<Property> kept;
    for (auto& p : object->properties)
        if (query.Selects(p.name)) kept.push_back(std::move(p));
    object->properties = std::move(kept);
}

// Runs `work` on a thread of the multithreaded apartment; the work counts as activity while it runs.
void RunDetached(std::function<void()> work) {
    ObjectCreated();
    std::thread([work = std::move(work)] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        work();
        CoUninitialize();
        ObjectDestroyed();
    }).detach();
}

HRESULT GetClassFromRepository(const std::wstring& ns, const std::wstring& name, CimObject* out) {
    if (name.empty()) return WBEM_E_INVALID_CLASS;
    HRESULT hr = WithRepository([&](Repository& r) { return r.GetClass(ns, name, out); });
    return hr == WBEM_E_NOT_FOUND ? WBEM_E_INVALID_CLASS : hr;
}

// Receives each object an enumeration produces; borrowed for the call (AddRef to keep it).
using EmitObject = std::function<void(IWbemClassObject*)>;

// Every instance of `class_name` (and its subclasses unless shallow) that matches `query` (or all), handed to
// `emit` one by one as providers stream them. Static instances come from the repository. An object a
// provider indicated is this service's own copy (it arrived by value), so it is handed on as it is unless the
// SELECT list narrows it.
HRESULT EnumerateInstances(const std::wstring& ns, const std::wstring& class_name, LONG flags, const wql::Query* query,
                           const EmitObject& emit) {
    std::vector<CimObject> classes(1);
    HRESULT hr = GetClassFromRepository(ns, class_name, &classes[0]);
    if (FAILED(hr)) return hr;
    if ((flags & WBEM_FLAG_SHALLOW) == 0) {
        std::vector<CimObject> subclasses;
        hr = WithRepository([&](Repository& r) { return r.EnumClasses(ns, class_name, WBEM_FLAG_DEEP, &subclasses); });
        if (FAILED(hr)) return hr;
        for (auto& c : subclasses) classes.push_back(std::move(c));
    }
    auto pass = [&](IWbemClassObject* object) {
        if (query != nullptr) {
            if (!wql::Matches(*query, object)) return;
            if (!query->select_all) {
                const CimObject* data = CimObjectOf(object);
                if (data == nullptr) return;
                CimObject narrowed = *data;
                ApplySelect(*query, &narrowed);
                IWbemClassObject* selected = CreateClassObject(std::move(narrowed));
                emit(selected);
                selected->Release();
                return;
            }
        }
        emit(object);
    };
    for (const auto& cls : classes) {
        ProviderInfo info;
        hr = FindProvider(ns, cls, &info);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE) {
            if (HasTrueQualifier(cls.qualifiers, L"abstract")) continue;
            std::vector<CimObject> found;
            hr = WithRepository(
                [&](Repository& r) { return r.EnumInstances(ns, cls.className, WBEM_FLAG_SHALLOW, &found); });
            if (FAILED(hr)) return hr;
            for (auto& o : found) {
                IWbemClassObject* object = CreateClassObject(std::move(o));
                pass(object);
                object->Release();
            }
            continue;
        }
        if (HasTrueQualifier(cls.qualifiers, L"abstract")) continue;
        std::wstring name = cls.className;
        hr = CallProvider(
            ns, info,
            [&](IWbemServices* provider, IWbemObjectSink* sink) {
                BSTR text = SysAllocString(name.c_str());
                HRESULT result = provider->CreateInstanceEnumAsync(text, WBEM_FLAG_SHALLOW, nullptr, sink);
                SysFreeString(text);
                return result;
            },
            [&](IWbemClassObject* object) {
                const CimObject* data = CimObjectOf(object);
                // A provider answers for the class asked; the subclasses get their own request.
                if (data != nullptr && NamesEqual(data->className, name)) pass(object);
            });
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// Streams a query into a queue (sync callers) on a worker thread.
void StartIntoQueue(std::shared_ptr<ObjectQueue> queue, std::function<HRESULT(const EmitObject&)> run) {
    RunDetached([queue, run = std::move(run)] {
        HRESULT hr = run([&](IWbemClassObject* o) {
            o->AddRef();
            queue->Push(o);
        });
        queue->Finish(hr);
    });
}

// Streams a query into a client's sink in batches, then its status.
void StartIntoSink(IWbemObjectSink* sink, std::function<HRESULT(const EmitObject&)> run) {
    sink->AddRef();
    RunDetached([sink, run = std::move(run)] {
        std::vector<IWbemClassObject*> batch;
        HRESULT delivery = S_OK;
        auto flush = [&] {
            if (!batch.empty() && SUCCEEDED(delivery))
                delivery = sink->Indicate(static_cast<LONG>(batch.size()), batch.data());
            for (auto* o : batch) o->Release();
            batch.clear();
        };
        HRESULT hr = run([&](IWbemClassObject* o) {
            o->AddRef();
            batch.push_back(o);
            if (static_cast<LONG>(batch.size()) >= kBatch) flush();
        });
        flush();
        if (SUCCEEDED(delivery)) sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        sink->Release();
    });
}

// Finishes an async call whose work was done synchronously.
HRESULT Complete(IWbemObjectSink* sink, HRESULT hr, IWbemClassObject* object) {
    if (sink == nullptr) {
        if (object != nullptr) object->Release();
        return WBEM_E_INVALID_PARAMETER;
    }
    if (SUCCEEDED(hr) && object != nullptr) sink->Indicate(1, &object);
    if (object != nullptr) object->Release();
    sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
}

class NamespaceServices final : public ServiceObject<IWbemServices> {
public:
    explicit NamespaceServices(std::wstring ns) : ServiceObject(IID_IWbemServices), ns_(std::move(ns)) {}

    STDMETHODIMP OpenNamespace(const BSTR ns, LONG, IWbemContext*, IWbemServices** working,
                               IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (working == nullptr || ns == nullptr) return WBEM_E_INVALID_PARAMETER;
        *working = nullptr;
        std::wstring child = ns_ + L"\\" + NormalizeNamespace(ns);
        bool exists = false;
        WithRepository([&](Repository& r) {
            exists = r.NamespaceExists(child);
            return S_OK;
        });
        if (!exists) return WBEM_E_INVALID_NAMESPACE;
        *working = CreateNamespaceServices(child);
        return S_OK;
    }
    STDMETHODIMP CancelAsyncCall(IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        return CancelSinkSubscriptions(sink) ? S_OK : WBEM_E_NOT_FOUND;
    }
    STDMETHODIMP QueryObjectSink(LONG flags, IWbemObjectSink** handler) override {
        if (handler == nullptr || flags != 0) return WBEM_E_INVALID_PARAMETER;
        // The sink delivers events to every subscriber: event providers (administrators) only.
        if (!CallerIsAdministrator()) return WBEM_E_ACCESS_DENIED;
        return EventSinkFor(ns_, handler);
    }

    // --- objects ---
    STDMETHODIMP GetObject(const BSTR path, LONG, IWbemContext*, IWbemClassObject** object,
                           IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (object == nullptr) return WBEM_E_INVALID_PARAMETER;
        *object = nullptr;
        CimObject found;
        HRESULT hr = Get(path, &found);
        if (SUCCEEDED(hr)) *object = CreateClassObject(found);
        return hr;
    }
    STDMETHODIMP GetObjectAsync(const BSTR path, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        CimObject found;
        HRESULT hr = Get(path, &found);
        return Complete(sink, hr, SUCCEEDED(hr) ? CreateClassObject(found) : nullptr);
    }

    // --- classes ---
    STDMETHODIMP PutClass(IWbemClassObject* object, LONG flags, IWbemContext*, IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (!CallerIsAdministrator()) return WBEM_E_ACCESS_DENIED;
        const CimObject* data = object ? CimObjectOf(object) : nullptr;
        if (data == nullptr || !data->IsClass()) return WBEM_E_INVALID_PARAMETER;
        return WithRepository([&](Repository& r) { return r.PutClass(ns_, *data, flags & 3); });
    }
    STDMETHODIMP PutClassAsync(IWbemClassObject* object, LONG flags, IWbemContext* context,
                               IWbemObjectSink* sink) override {
        return Complete(sink, PutClass(object, flags, context, nullptr), nullptr);
    }
    STDMETHODIMP DeleteClass(const BSTR name, LONG, IWbemContext*, IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (!CallerIsAdministrator()) return WBEM_E_ACCESS_DENIED;
        if (name == nullptr || *name == 0) return WBEM_E_INVALID_PARAMETER;
        auto path = ParseObjectPath(name);
        if (!path || !path->IsClassPath()) return WBEM_E_INVALID_CLASS;
        return WithRepository([&](Repository& r) { return r.DeleteClass(ns_, path->className); });
    }
    STDMETHODIMP DeleteClassAsync(const BSTR name, LONG flags, IWbemContext* context, IWbemObjectSink* sink) override {
        return Complete(sink, DeleteClass(name, flags, context, nullptr), nullptr);
    }
    STDMETHODIMP CreateClassEnum(const BSTR superclass, LONG flags, IWbemContext*,
                                 IEnumWbemClassObject** enumerator) override {
        if (enumerator == nullptr) return WBEM_E_INVALID_PARAMETER;
        *enumerator = nullptr;
        std::vector<CimObject> classes;
        std::wstring base = superclass ? std::wstring(superclass) : L"";
        HRESULT hr = WithRepository(
            [&](Repository& r) { return r.EnumClasses(ns_, base, flags & WBEM_FLAG_SHALLOW, &classes); });
        if (FAILED(hr)) return hr == WBEM_E_NOT_FOUND ? WBEM_E_INVALID_CLASS : hr;
        auto queue = std::make_shared<ObjectQueue>();
        for (const auto& c : classes) queue->Push(CreateClassObject(c));
        queue->Finish(S_OK);
        *enumerator = CreateEnumerator(queue);
        return S_OK;
    }
    STDMETHODIMP CreateClassEnumAsync(const BSTR superclass, LONG flags, IWbemContext* context,
                                      IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        IEnumWbemClassObject* found = nullptr;
        HRESULT hr = CreateClassEnum(superclass, flags, context, &found);
        if (SUCCEEDED(hr)) {
            IWbemClassObject* object = nullptr;
            ULONG got = 0;
            while (found->Next(0, 1, &object, &got) == S_OK && got == 1) {
                sink->Indicate(1, &object);
                object->Release();
            }
            found->Release();
        }
        return Complete(sink, hr, nullptr);
    }

    // --- instances ---
    // The provider serving instances of a class: S_OK with `info` when it has one, S_FALSE for a class whose
    // instances the repository keeps, or the failure of finding the class.
    HRESULT ProviderOfClass(const std::wstring& class_name, ProviderInfo* info) {
        CimObject cls;
        HRESULT hr = GetClassFromRepository(ns_, class_name, &cls);
        if (FAILED(hr)) return hr;
        return FindProvider(ns_, cls, info);
    }

    STDMETHODIMP PutInstance(IWbemClassObject* instance, LONG flags, IWbemContext*, IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (!CallerIsAdministrator()) return WBEM_E_ACCESS_DENIED;
        const CimObject* data = instance ? CimObjectOf(instance) : nullptr;
        if (data == nullptr || data->IsClass()) return WBEM_E_INVALID_PARAMETER;
        ProviderInfo info;
        HRESULT hr = ProviderOfClass(data->className, &info);
        if (FAILED(hr)) return hr;
        if (hr == S_OK) {
            if (!info.supports_put) return WBEM_E_PROVIDER_NOT_CAPABLE;
            return CallProvider(
                ns_, info,
                [&](IWbemServices* provider, IWbemObjectSink* sink) {
                    return provider->PutInstanceAsync(instance, flags, nullptr, sink);
                },
                [](IWbemClassObject*) {});
        }
        return WithRepository([&](Repository& r) { return r.PutInstance(ns_, *data, flags & 3); });
    }
    STDMETHODIMP PutInstanceAsync(IWbemClassObject* instance, LONG flags, IWbemContext* context,
                                  IWbemObjectSink* sink) override {
        return Complete(sink, PutInstance(instance, flags, context, nullptr), nullptr);
    }
    STDMETHODIMP DeleteInstance(const BSTR path_text, LONG flags, IWbemContext*, IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (!CallerIsAdministrator()) return WBEM_E_ACCESS_DENIED;
        if (path_text == nullptr) return WBEM_E_INVALID_PARAMETER;
        auto path = ParseObjectPath(path_text);
        if (!path || path->IsClassPath()) return WBEM_E_INVALID_OBJECT_PATH;
        ProviderInfo info;
        HRESULT hr = ProviderOfClass(path->className, &info);
        if (FAILED(hr)) return hr;
        if (hr == S_OK) {
            if (!info.supports_delete) return WBEM_E_PROVIDER_NOT_CAPABLE;
            return CallProvider(
                ns_, info,
                [&](IWbemServices* provider, IWbemObjectSink* sink) {
                    return provider->DeleteInstanceAsync(path_text, flags, nullptr, sink);
                },
                [](IWbemClassObject*) {});
        }
        return WithRepository([&](Repository& r) { return r.DeleteInstance(ns_, path->RelativeText()); });
    }
    STDMETHODIMP DeleteInstanceAsync(const BSTR path, LONG flags, IWbemContext* context,
                                     IWbemObjectSink* sink) override {
        return Complete(sink, DeleteInstance(path, flags, context, nullptr), nullptr);
    }
    STDMETHODIMP CreateInstanceEnum(const BSTR filter, LONG flags, IWbemContext*,
                                    IEnumWbemClassObject** enumerator) override {
        if (enumerator == nullptr) return WBEM_E_INVALID_PARAMETER;
        *enumerator = nullptr;
        std::wstring name;
        HRESULT hr = CheckClass(filter, &name);
        if (FAILED(hr)) return hr;
        auto queue = std::make_shared<ObjectQueue>();
        std::wstring ns = ns_;
        StartIntoQueue(
            queue, [ns, name, flags](const auto& emit) { return EnumerateInstances(ns, name, flags, nullptr, emit); });
        *enumerator = CreateEnumerator(queue);
        return S_OK;
    }
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR filter, LONG flags, IWbemContext*, IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::wstring name;
        HRESULT hr = CheckClass(filter, &name);
        if (FAILED(hr)) return hr;
        std::wstring ns = ns_;
        StartIntoSink(
            sink, [ns, name, flags](const auto& emit) { return EnumerateInstances(ns, name, flags, nullptr, emit); });
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP ExecQuery(const BSTR language, const BSTR text, LONG flags, IWbemContext*,
                           IEnumWbemClassObject** enumerator) override {
        if (enumerator == nullptr) return WBEM_E_INVALID_PARAMETER;
        *enumerator = nullptr;
        std::shared_ptr<wql::Query> query;
        HRESULT hr = ParseDataQuery(language, text, &query);
        if (FAILED(hr)) return hr;
        auto queue = std::make_shared<ObjectQueue>();
        std::wstring ns = ns_;
        StartIntoQueue(queue, [ns, query, flags](const auto& emit) {
            return EnumerateInstances(ns, query->class_name, flags & WBEM_FLAG_SHALLOW, query.get(), emit);
        });
        *enumerator = CreateEnumerator(queue);
        return S_OK;
    }
    STDMETHODIMP ExecQueryAsync(const BSTR language, const BSTR text, LONG flags, IWbemContext*,
                                IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::shared_ptr<wql::Query> query;
        HRESULT hr = ParseDataQuery(language, text, &query);
        if (FAILED(hr)) return hr;
        std::wstring ns = ns_;
        StartIntoSink(sink, [ns, query, flags](const auto& emit) {
            return EnumerateInstances(ns, query->class_name, flags & WBEM_FLAG_SHALLOW, query.get(), emit);
        });
        return WBEM_S_NO_ERROR;
    }

    // --- events ---
    STDMETHODIMP ExecNotificationQuery(const BSTR language, const BSTR text, LONG, IWbemContext*,
                                       IEnumWbemClassObject** enumerator) override {
        if (enumerator == nullptr) return WBEM_E_INVALID_PARAMETER;
        *enumerator = nullptr;
        std::shared_ptr<wql::Query> query;
        HRESULT hr = ParseEventQuery(language, text, &query);
        if (FAILED(hr)) return hr;
        auto queue = std::make_shared<ObjectQueue>();
        uint64_t id = Subscribe(ns_, query, queue, nullptr);
        *enumerator = CreateEnumerator(queue, [id] { Unsubscribe(id); });
        return S_OK;
    }
    STDMETHODIMP ExecNotificationQueryAsync(const BSTR language, const BSTR text, LONG, IWbemContext*,
                                            IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::shared_ptr<wql::Query> query;
        HRESULT hr = ParseEventQuery(language, text, &query);
        if (FAILED(hr)) return hr;
        Subscribe(ns_, query, nullptr, sink);
        return WBEM_S_NO_ERROR;
    }

    // --- methods ---
    STDMETHODIMP ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context, IWbemClassObject* in,
                            IWbemClassObject** out, IWbemCallResult** result) override {
        if (result != nullptr) *result = nullptr;
        if (out != nullptr) *out = nullptr;
        IWbemClassObject* returned = nullptr;
        HRESULT hr = Call(path, method, flags, context, in, &returned);
        if (out != nullptr)
            *out = returned;
        else if (returned != nullptr)
            returned->Release();
        return hr;
    }
    STDMETHODIMP ExecMethodAsync(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                                 IWbemClassObject* in, IWbemObjectSink* sink) override {
        if (sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        IWbemClassObject* returned = nullptr;
        HRESULT hr = Call(path, method, flags, context, in, &returned);
        return Complete(sink, hr, returned);
    }

private:
    HRESULT CheckClass(const BSTR filter, std::wstring* name) {
        if (filter == nullptr || *filter == 0) return WBEM_E_INVALID_PARAMETER;
        CimObject cls;
        HRESULT hr = GetClassFromRepository(ns_, filter, &cls);
        if (SUCCEEDED(hr)) *name = cls.className;
        return hr;
    }

    // Parses a WQL text and finds the class it names (the query then carries the class's own spelling).
    HRESULT ParseQuery(const BSTR language, const BSTR text, std::shared_ptr<wql::Query>* out, CimObject* cls) {
        if (!IsWql(language)) return WBEM_E_INVALID_QUERY_TYPE;
        if (text == nullptr) return WBEM_E_INVALID_PARAMETER;
        auto query = std::make_shared<wql::Query>();
        wql::ParseError error;
        if (FAILED(wql::Parse(text, query.get(), &error))) return WBEM_E_INVALID_QUERY;
        HRESULT hr = GetClassFromRepository(ns_, query->class_name, cls);
        if (FAILED(hr)) return hr;
        query->class_name = cls->className;
        *out = std::move(query);
        return S_OK;
    }

    HRESULT ParseDataQuery(const BSTR language, const BSTR text, std::shared_ptr<wql::Query>* out) {
        CimObject cls;
        return ParseQuery(language, text, out, &cls);
    }

    // A subscription: the class must be an event class and the caller admitted to its events.
    HRESULT ParseEventQuery(const BSTR language, const BSTR text, std::shared_ptr<wql::Query>* out) {
        std::shared_ptr<wql::Query> query;
        CimObject cls;
        HRESULT hr = ParseQuery(language, text, &query, &cls);
        if (FAILED(hr)) return hr;
        bool is_event = NamesEqual(cls.className, L"__Event");
        for (const auto& d : cls.derivation) is_event |= NamesEqual(d, L"__Event");
        if (!is_event) return WBEM_E_NOT_EVENT_CLASS;
        hr = AdmitConsumer(ns_, cls, com::CurrentCaller());
        if (FAILED(hr)) return hr;
        *out = std::move(query);
        return S_OK;
    }

    HRESULT Get(const BSTR text, CimObject* out) {
        if (text == nullptr || *text == 0) return WBEM_E_INVALID_PARAMETER;
        auto path = ParseObjectPath(text);
        if (!path) return WBEM_E_INVALID_OBJECT_PATH;
        CimObject cls;
        HRESULT hr = GetClassFromRepository(ns_, path->className, &cls);
        if (FAILED(hr)) return path->IsClassPath() ? WBEM_E_NOT_FOUND : hr;
        if (path->IsClassPath()) {
            *out = std::move(cls);
            return S_OK;
        }
        ProviderInfo info;
        hr = FindProvider(ns_, cls, &info);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE)
            return WithRepository([&](Repository& r) { return r.GetInstance(ns_, path->RelativeText(), out); });
        bool found = false;
        hr = CallProvider(
            ns_, info,
            [&](IWbemServices* provider, IWbemObjectSink* sink) {
                return provider->GetObjectAsync(text, 0, nullptr, sink);
            },
            [&](IWbemClassObject* object) {
                const CimObject* data = CimObjectOf(object);
                if (data != nullptr && !found) {
                    *out = *data;
                    found = true;
                }
            });
        if (SUCCEEDED(hr) && !found) hr = WBEM_E_NOT_FOUND;
        return hr;
    }

    // The client's context goes on to the provider.
    HRESULT Call(const BSTR path_text, const BSTR method, LONG flags, IWbemContext* context, IWbemClassObject* in,
                 IWbemClassObject** out) {
        if (path_text == nullptr || method == nullptr || *method == 0) return WBEM_E_INVALID_PARAMETER;
        auto path = ParseObjectPath(path_text);
        if (!path) return WBEM_E_INVALID_OBJECT_PATH;
        CimObject cls;
        HRESULT hr = GetClassFromRepository(ns_, path->className, &cls);
        if (FAILED(hr)) return hr;
        if (FindMethod(cls, method) == nullptr) return WBEM_E_INVALID_METHOD;
        ProviderInfo info;
        hr = FindProvider(ns_, cls, &info);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE || !info.methods) return WBEM_E_PROVIDER_NOT_CAPABLE;
        // A provider's methods change the firmware (or what the provider keeps): administrators only.
        if (!CallerIsAdministrator()) return WBEM_E_ACCESS_DENIED;
        CimObject result;
        bool returned = false;
        hr = CallProvider(
            ns_, info,
            [&](IWbemServices* provider, IWbemObjectSink* sink) {
                return provider->ExecMethodAsync(path_text, method, flags, context, in, sink);
            },
            [&](IWbemClassObject* object) {
                const CimObject* data = CimObjectOf(object);
                if (data != nullptr && !returned) {
                    result = *data;
                    returned = true;
                }
            });
        if (SUCCEEDED(hr) && returned) *out = CreateClassObject(result);
        return hr;
    }

    std::wstring ns_;
};

class ServiceLocator final : public ServiceObject<IWbemLocator> {
public:
    ServiceLocator() : ServiceObject(IID_IWbemLocator) {}
    STDMETHODIMP ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR, LONG, const BSTR, IWbemContext*,
                               IWbemServices** ns) override {
        if (ns == nullptr) return WBEM_E_INVALID_PARAMETER;
        *ns = nullptr;
        std::wstring name = resource ? NormalizeNamespace(resource) : L"";
        bool exists = false;
        HRESULT hr = WithRepository([&](Repository& r) {
            exists = !name.empty() && r.NamespaceExists(name);
            return S_OK;
        });
        if (FAILED(hr)) return hr;
        if (!exists) return WBEM_E_INVALID_NAMESPACE;
        *ns = CreateNamespaceServices(name);
        return S_OK;
    }
};

}  // namespace

IWbemServices* CreateNamespaceServices(const std::wstring& ns) { return new NamespaceServices(ns); }
IUnknown* CreateServiceLocator() { return static_cast<IWbemLocator*>(new ServiceLocator()); }

}  // namespace qv::wbem::service
