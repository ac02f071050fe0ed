// Provider hosting: finding a class's provider, creating and initialising it through the COM runtime by the
// CLSID of its __Win32Provider (an in-process class registered with the runtime is used first, as main.cpp
// registers the kernel-data provider, else its local server), keeping it while requests use it and for the idle period after
// (QV_WBEM_PROVIDER_IDLE_MS, WMI's provider cache default of 30 s), and forgetting it when it died.
#include "com_object.h"

#include "qv_object_path.h"

#include <map>

namespace qv::wbem::service {

namespace {

constexpr HRESULT kProviderGone[] = {RPC_E_DISCONNECTED, CO_E_SERVER_STOPPING};

bool Gone(HRESULT hr) {
    for (HRESULT g : kProviderGone)
        if (hr == g) return true;
    return false;
}

long CallTimeout() { return EnvMilliseconds("QV_WBEM_PROVIDER_TIMEOUT_MS", 300000); }

bool BoolProperty(const CimObject& o, const wchar_t* name) {
    const Property* p = FindProperty(o, name);
    return p != nullptr && !p->value.null && !p->value.elements.empty() &&
           std::holds_alternative<bool>(p->value.elements[0]) && std::get<bool>(p->value.elements[0]);
}

std::wstring TextProperty(const CimObject& o, const wchar_t* name) {
    const Property* p = FindProperty(o, name);
    if (p == nullptr || p->value.null || p->value.elements.empty() ||
        !std::holds_alternative<std::wstring>(p->value.elements[0]))
        return L"";
    return std::get<std::wstring>(p->value.elements[0]);
}

// Whether a registration's Provider reference names the provider `name`.
bool NamesProvider(const CimObject& registration, const std::wstring& name) {
    auto path = ParseObjectPath(TextProperty(registration, L"Provider"));
    if (!path || path->keys.size() != 1) return false;
    const CimValue& key = path->keys[0].value;
    return !key.null && !key.elements.empty() && std::holds_alternative<std::wstring>(key.elements[0]) &&
           NamesEqual(std::get<std::wstring>(key.elements[0]), name);
}

class InitSink final : public ServiceObject<IWbemProviderInitSink> {
public:
    explicit InitSink(std::shared_ptr<Completion> done)
        : ServiceObject(IID_IWbemProviderInitSink), done_(std::move(done)) {}
    STDMETHODIMP SetStatus(LONG status, LONG) override {
        done_->Set(status);
        return S_OK;
    }

protected:
    std::function<void()> OnlyOwnerLeft() const override {
        return [done = done_] { done->Set(WBEM_E_PROVIDER_FAILURE); };
    }

private:
    std::shared_ptr<Completion> done_;
};

// The provider's reference goes with the last holder: the cache or a request still running on it.
struct Entry {
    ~Entry() {
        if (provider != nullptr) provider->Release();
    }
    IWbemServices* provider = nullptr;
    int users = 0;
    std::chrono::steady_clock::time_point last;
};

std::mutex cache_mutex;
std::map<std::wstring, std::shared_ptr<Entry>> cache;  // "namespace|provider", lower case
// One start at a time per provider. Starts of different providers do not wait for each other: a provider may
// ask the service for another provider's classes while it is being created or initialised (the BIOS provider
// reads the SMBIOS table of root\WMI when its library starts).
std::map<std::wstring, std::shared_ptr<std::mutex>> start_locks;  // under cache_mutex

std::wstring CacheKey(const std::wstring& ns, const std::wstring& name) {
    return LowerName(ns) + L"|" + LowerName(name);
}

HRESULT StartProvider(const std::wstring& ns, const ProviderInfo& info, IWbemServices** out) {
    IWbemProviderInit* init = nullptr;
    HRESULT hr = CoCreateInstance(info.clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IWbemProviderInit, reinterpret_cast<void**>(&init));
    if (FAILED(hr)) return WBEM_E_PROVIDER_LOAD_FAILURE;
    IWbemServices* provider = nullptr;
    hr = init->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(&provider));
    if (FAILED(hr)) {
        init->Release();
        return WBEM_E_PROVIDER_LOAD_FAILURE;
    }
    auto done = std::make_shared<Completion>();
    IWbemProviderInitSink* sink = new InitSink(done);
    IWbemServices* services = CreateNamespaceServices(ns);
    std::wstring ns_text = ns;
    hr = init->Initialize(nullptr, 0, ns_text.data(), nullptr, services, nullptr, sink);
    services->Release();
    sink->Release();
    init->Release();
    if (SUCCEEDED(hr)) hr = done->Wait(CallTimeout());
    if (FAILED(hr)) {
        provider->Release();
        return WBEM_E_INITIALIZATION_FAILURE;
    }
    *out = provider;
    return S_OK;
}

void Forget(const std::wstring& ns, const ProviderInfo& info, const std::shared_ptr<Entry>& entry);
void Done(const std::shared_ptr<Entry>& entry);

HRESULT Acquire(const std::wstring& ns, const ProviderInfo& info, std::shared_ptr<Entry>* out) {
    std::wstring key = CacheKey(ns, info.name);
    std::shared_ptr<Entry> cached;
    {
        std::lock_guard lock(cache_mutex);
        if (auto it = cache.find(key); it != cache.end()) {
            ++it->second->users;
            cached = it->second;
        }
    }
    if (cached) {
        // A provider that died while held idle is found out by one cheap round trip, and replaced.
        IWbemObjectSink* unused = nullptr;
        HRESULT alive = cached->provider->QueryObjectSink(0, &unused);
        if (unused != nullptr) unused->Release();
        if (!Gone(alive)) {
            *out = cached;
            return S_OK;
        }
        Done(cached);
        Forget(ns, info, cached);
    }
    std::shared_ptr<std::mutex> start_lock;
    {
        std::lock_guard lock(cache_mutex);
        auto& slot = start_locks[key];
        if (!slot) slot = std::make_shared<std::mutex>();
        start_lock = slot;
    }
    std::lock_guard creating(*start_lock);
    {
        std::lock_guard lock(cache_mutex);
        if (auto it = cache.find(key); it != cache.end()) {
            ++it->second->users;
            *out = it->second;
            return S_OK;
        }
    }
    IWbemServices* provider = nullptr;
    HRESULT hr = StartProvider(ns, info, &provider);
    if (FAILED(hr)) return hr;
    auto entry = std::make_shared<Entry>();
    entry->provider = provider;
    entry->users = 1;
    std::lock_guard lock(cache_mutex);
    cache[key] = entry;
    *out = entry;
    return S_OK;
}

void Done(const std::shared_ptr<Entry>& entry) {
    std::lock_guard lock(cache_mutex);
    --entry->users;
    entry->last = std::chrono::steady_clock::now();
}

// Drops a provider that died; its reference goes when its last request is done.
void Forget(const std::wstring& ns, const ProviderInfo& info, const std::shared_ptr<Entry>& entry) {
    std::shared_ptr<Entry> dropped;
    std::lock_guard lock(cache_mutex);
    auto it = cache.find(CacheKey(ns, info.name));
    if (it != cache.end() && it->second == entry) {
        dropped = std::move(it->second);
        cache.erase(it);
    }
}

}  // namespace

HRESULT FindProvider(const std::wstring& ns, const CimObject& cls, ProviderInfo* info) {
    const Qualifier* q = FindQualifier(cls.qualifiers, L"provider");
    if (q == nullptr || q->value.null || q->value.elements.empty() ||
        !std::holds_alternative<std::wstring>(q->value.elements[0]))
        return S_FALSE;
    info->name = std::get<std::wstring>(q->value.elements[0]);
    return WithRepository([&](Repository& repository) -> HRESULT {
        std::vector<CimObject> providers, registrations;
        HRESULT hr = repository.Providers(ns, &providers);
        if (SUCCEEDED(hr)) hr = repository.Registrations(ns, &registrations);
        if (FAILED(hr)) return hr;
        bool found = false;
        for (const auto& p : providers)
            if (NamesEqual(TextProperty(p, L"Name"), info->name)) {
                found = SUCCEEDED(CLSIDFromString(TextProperty(p, L"CLSID").c_str(), &info->clsid));
                break;
            }
        if (!found) return WBEM_E_PROVIDER_NOT_FOUND;
        for (const auto& r : registrations) {
            if (!NamesProvider(r, info->name)) continue;
            if (NamesEqual(r.className, L"__InstanceProviderRegistration")) {
                info->supports_get |= BoolProperty(r, L"SupportsGet");
                info->supports_put |= BoolProperty(r, L"SupportsPut");
                info->supports_delete |= BoolProperty(r, L"SupportsDelete");
                info->supports_enumeration |= BoolProperty(r, L"SupportsEnumeration");
            } else if (NamesEqual(r.className, L"__MethodProviderRegistration")) {
                info->methods = true;
            }
        }
        return S_OK;
    });
}

HRESULT CallProvider(const std::wstring& ns, const ProviderInfo& info,
                     const std::function<HRESULT(IWbemServices*, IWbemObjectSink*)>& call,
                     const std::function<void(IWbemClassObject*)>& on_object) {
    ObjectCreated();  // a running request keeps the service
    std::shared_ptr<Entry> entry;
    HRESULT hr = Acquire(ns, info, &entry);
    if (SUCCEEDED(hr)) {
        auto done = std::make_shared<Completion>();
        IWbemObjectSink* sink = CreateCollectSink(on_object, done);
        hr = call(entry->provider, sink);
        if (SUCCEEDED(hr))
            hr = done->Wait(CallTimeout());
        else
            done->Set(hr);
        sink->Release();
        Done(entry);
        if (Gone(hr)) hr = WBEM_E_PROVIDER_FAILURE;
        // A provider that died or hangs is not used again; the next request starts a fresh one.
        if (hr == WBEM_E_PROVIDER_FAILURE || hr == WBEM_E_TIMED_OUT) Forget(ns, info, entry);
    }
    ObjectDestroyed();
    return hr;
}

size_t SweepProviders() {
    long idle = EnvMilliseconds("QV_WBEM_PROVIDER_IDLE_MS", 30000);
    auto now = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<Entry>> released;  // released after the lock
    size_t held = 0;
    {
        std::lock_guard lock(cache_mutex);
        for (auto it = cache.begin(); it != cache.end();) {
            auto& e = *it->second;
            if (e.users == 0 && now - e.last >= std::chrono::milliseconds(idle)) {
                released.push_back(std::move(it->second));
                it = cache.erase(it);
            } else {
                ++held;
                ++it;
            }
        }
    }
    return held;
}

void ReleaseAllProviders() {
    std::map<std::wstring, std::shared_ptr<Entry>> released;
    {
        std::lock_guard lock(cache_mutex);
        released.swap(cache);
    }
}

}  // namespace qv::wbem::service
