// Event subscriptions and delivery. A consumer subscribes with an event query (ExecNotificationQuery); a
// decoupled event provider obtains the namespace's event sink (QueryObjectSink) while anyone is subscribed
// there, and every event it indicates goes to each subscription of that namespace whose query matches.
#include "com_object.h"

#include "qv_object_path.h"
#include "qv_wbem_administrators.h"

#include <map>

namespace qv::wbem::service {

namespace {

struct Subscription {
    std::wstring ns;
    std::shared_ptr<wql::Query> query;
    std::shared_ptr<ObjectQueue> queue;
    IWbemObjectSink* sink = nullptr;  // one reference, when delivering to a client's sink
};

std::mutex hub_mutex;
std::map<uint64_t, Subscription> subscriptions;
uint64_t next_id = 1;

bool IsAObject(IWbemClassObject* object, const std::wstring& class_name) {
    const CimObject* data = CimObjectOf(object);
    return data != nullptr && IsA(*data, class_name);
}

void Deliver(const std::wstring& ns, IWbemClassObject* event) {
    const CimObject* data = CimObjectOf(event);
    if (data == nullptr) return;
    std::vector<std::shared_ptr<ObjectQueue>> queues;
    std::vector<std::pair<uint64_t, IWbemObjectSink*>> sinks;
    {
        std::lock_guard lock(hub_mutex);
        for (auto& [id, s] : subscriptions) {
            if (!NamesEqual(s.ns, ns) || !IsA(*data, s.query->class_name) || !wql::Matches(*s.query, event, &IsAObject))
                continue;
            if (s.queue)
                queues.push_back(s.queue);
            else {
                s.sink->AddRef();
                sinks.emplace_back(id, s.sink);
            }
        }
    }
    for (auto& q : queues) q->Push(CreateClassObject(*data));
    for (auto& [id, sink] : sinks) {
        IWbemClassObject* copy = CreateClassObject(*data);
        HRESULT hr = sink->Indicate(1, &copy);
        copy->Release();
        sink->Release();
        if (hr == RPC_E_DISCONNECTED) Unsubscribe(id);  // the consumer went away
    }
}

class EventSink final : public ServiceObject<IWbemObjectSink> {
public:
    explicit EventSink(std::wstring ns) : ServiceObject(IID_IWbemObjectSink), ns_(std::move(ns)) {}
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
        if (count < 0 || (count > 0 && objects == nullptr)) return WBEM_E_INVALID_PARAMETER;
        for (LONG i = 0; i < count; ++i)
            if (objects[i] != nullptr) Deliver(ns_, objects[i]);
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override { return S_OK; }

private:
    std::wstring ns_;
};

std::wstring Text(const CimObject& o, const wchar_t* name) {
    const Property* p = FindProperty(o, name);
    if (p == nullptr || p->value.null || p->value.elements.empty() ||
        !std::holds_alternative<std::wstring>(p->value.elements[0]))
        return L"";
    return std::get<std::wstring>(p->value.elements[0]);
}

// Whether an SDDL descriptor's DACL allows `caller`: an allow ACE for everyone (WD) or authenticated users
// (AU) allows anyone; one for built-in administrators (BA) allows administrators (qv_wbem_administrators.h),
// one for local system (SY) root.
bool Allows(const std::wstring& sddl, const com::CallerCredentials& caller) {
    auto dacl = sddl.find(L"D:");
    if (dacl == std::wstring::npos) return false;
    size_t pos = dacl + 2;
    while ((pos = sddl.find(L'(', pos)) != std::wstring::npos) {
        auto close = sddl.find(L')', pos);
        if (close == std::wstring::npos) return false;
        std::vector<std::wstring> fields;
        std::wstring ace = sddl.substr(pos + 1, close - pos - 1);
        for (size_t start = 0;;) {
            auto semi = ace.find(L';', start);
            fields.push_back(ace.substr(start, semi == std::wstring::npos ? std::wstring::npos : semi - start));
            if (semi == std::wstring::npos) break;
            start = semi + 1;
        }
        if (fields.size() == 6 && fields[0] == L"A") {
            const std::wstring& sid = fields[5];
            if (sid == L"WD" || sid == L"AU") return true;
            if (sid == L"BA" && IsAdministrator(caller)) return true;
            if (sid == L"SY" && caller.uid == 0) return true;
        }
        pos = close + 1;
    }
    return false;
}

}  // namespace

HRESULT AdmitConsumer(const std::wstring& ns, const CimObject& event_class, const com::CallerCredentials& caller) {
    return WithRepository([&](Repository& repository) -> HRESULT {
        std::vector<CimObject> providers, registrations;
        HRESULT hr = repository.Providers(ns, &providers);
        if (SUCCEEDED(hr)) hr = repository.Registrations(ns, &registrations);
        if (FAILED(hr)) return hr;
        for (const auto& r : registrations) {
            if (!NamesEqual(r.className, L"__EventProviderRegistration")) continue;
            // Does this registration deliver events of the class (or of its subclasses, or its bases)?
            bool relevant = false;
            const Property* list = FindProperty(r, L"EventQueryList");
            if (list != nullptr && !list->value.null)
                for (const auto& element : list->value.elements) {
                    if (!std::holds_alternative<std::wstring>(element)) continue;
                    wql::Query q;
                    wql::ParseError error;
                    if (FAILED(wql::Parse(std::get<std::wstring>(element), &q, &error))) continue;
                    CimObject delivered;
                    bool sub = SUCCEEDED(repository.GetClass(ns, q.class_name, &delivered)) &&
                               IsA(delivered, event_class.className);
                    if (IsA(event_class, q.class_name) || sub) relevant = true;
                }
            if (!relevant) continue;
            auto path = ParseObjectPath(Text(r, L"Provider"));
            if (!path || path->keys.size() != 1 || path->keys[0].value.elements.empty() ||
                !std::holds_alternative<std::wstring>(path->keys[0].value.elements[0]))
                continue;
            const std::wstring& name = std::get<std::wstring>(path->keys[0].value.elements[0]);
            for (const auto& p : providers) {
                if (!NamesEqual(Text(p, L"Name"), name)) continue;
                std::wstring sd = Text(p, L"SecurityDescriptor");
                if (!sd.empty() && !Allows(sd, caller)) return WBEM_E_ACCESS_DENIED;
            }
        }
        return S_OK;
    });
}

uint64_t Subscribe(const std::wstring& ns, std::shared_ptr<wql::Query> query, std::shared_ptr<ObjectQueue> queue,
                   IWbemObjectSink* sink) {
    if (sink != nullptr) sink->AddRef();
    std::lock_guard lock(hub_mutex);
    uint64_t id = next_id++;
    subscriptions[id] = Subscription{ns, std::move(query), std::move(queue), sink};
    return id;
}

void Unsubscribe(uint64_t id) {
    IWbemObjectSink* sink = nullptr;
    {
        std::lock_guard lock(hub_mutex);
        auto it = subscriptions.find(id);
        if (it == subscriptions.end()) return;
        sink = it->second.sink;
        subscriptions.erase(it);
    }
    if (sink != nullptr) sink->Release();
}

bool CancelSinkSubscriptions(IWbemObjectSink* sink) {
    std::vector<uint64_t> ids;
    {
        std::lock_guard lock(hub_mutex);
        for (auto& [id, s] : subscriptions)
            if (s.sink != nullptr && s.sink == sink) ids.push_back(id);
    }
    for (auto id : ids) Unsubscribe(id);
    return !ids.empty();
}

size_t SubscriptionCount() {
    std::lock_guard lock(hub_mutex);
    return subscriptions.size();
}

HRESULT EventSinkFor(const std::wstring& ns, IWbemObjectSink** sink) {
    *sink = nullptr;
    {
        std::lock_guard lock(hub_mutex);
        bool any = false;
        for (auto& [id, s] : subscriptions)
            if (NamesEqual(s.ns, ns)) any = true;
        if (!any) return WBEM_S_FALSE;
    }
    *sink = new EventSink(ns);
    return S_OK;
}

}  // namespace qv::wbem::service
