// The instrumentation service ("winmgmt"): what its parts share.
//
// One process per system root. Clients reach it through the in-process locator (CLSID_WbemLocator), which
// creates the service's own class (CLSID_QvWbemService, a local server) and asks it for a namespace's
// IWbemServices. The service owns the repository, hosts providers (ProviderCache) and event subscriptions
// (EventHub), and exits by itself once nothing has used it for the idle period.
//
// Calls arrive on the COM runtime's worker threads; every shared structure here is locked. The repository
// is one connection used under one lock (WithRepository); no lock is held while a provider or a client is
// called, so a provider may call back into the service while serving it.
#pragma once

#include "objbase.h"
#include "qv_class_object.h"
#include "qv_com_runtime.h"
#include "qv_wbem_repository.h"
#include "qv_wql.h"
#include "wbemprov.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv::wbem::service {

// --- activity: what keeps the service alive (activity.cpp) -----------------------------------------------------
void ObjectCreated();  // a COM object of the service (or a running request) came to life
void ObjectDestroyed();
long LiveObjects();
// Milliseconds from the environment variable `name`, or `fallback`.
long EnvMilliseconds(const char* name, long fallback);

// Runs `work` with the repository under its lock; WBEM_E_CRITICAL_ERROR when it cannot be opened.
HRESULT WithRepository(const std::function<HRESULT(Repository&)>& work);

// --- objects -----------------------------------------------------------------------------------------------
// A completion a waiter waits for, bounded.
class Completion {
public:
    void Set(HRESULT result);
    // The result, or WBEM_E_TIMED_OUT after `milliseconds`.
    HRESULT Wait(long milliseconds);
    bool Done();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    HRESULT result_ = S_OK;
};

// Objects handed from a producer to an enumerator: Push, then Finish with the outcome. Events never finish.
class ObjectQueue {
public:
    ~ObjectQueue();
    void Push(IWbemClassObject* object);  // takes the reference
    void Finish(HRESULT status);
    // Up to `count` objects within `timeout` ms (WBEM_INFINITE: the call time limit): S_OK when all came,
    // WBEM_S_FALSE at the end, WBEM_S_TIMEDOUT when time ran out first, the failure the producer ended with.
    HRESULT Pop(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<IWbemClassObject*> objects_;
    bool finished_ = false;
    HRESULT status_ = S_OK;
};

// A forward-only IEnumWbemClassObject over a queue; `on_release` runs when the client lets it go.
IEnumWbemClassObject* CreateEnumerator(std::shared_ptr<ObjectQueue> queue, std::function<void()> on_release = {});

// A sink a provider writes to: each object goes to `on_object`; SetStatus(COMPLETE) completes `done`. When
// the provider lets go of the sink without a status (it ended or died), `done` gets WBEM_E_PROVIDER_FAILURE.
IWbemObjectSink* CreateCollectSink(std::function<void(IWbemClassObject*)> on_object, std::shared_ptr<Completion> done);

// --- namespaces ----------------------------------------------------------------------------------------------
IWbemServices* CreateNamespaceServices(const std::wstring& ns);
// The service's class object creates these: ConnectServer checks the namespace.
IUnknown* CreateServiceLocator();

// --- providers (providers.cpp) --------------------------------------------------------------------------------
struct ProviderInfo {
    std::wstring name;
    CLSID clsid{};
    bool supports_get = false, supports_put = false, supports_delete = false, supports_enumeration = false;
    bool methods = false;
};
// The provider a class names in its "provider" qualifier: S_FALSE when the class has none (static).
HRESULT FindProvider(const std::wstring& ns, const CimObject& cls, ProviderInfo* info);

// Runs one request on the namespace's provider: `call` starts the provider's async method with the sink;
// objects the provider indicates go to `on_object`; returns the provider's final status. The provider is
// created and initialised on first use and kept for the idle period after its last request; a provider that
// died is forgotten (the request fails with WBEM_E_PROVIDER_FAILURE, or is retried on a fresh provider when
// it had died before the request reached it).
HRESULT CallProvider(const std::wstring& ns, const ProviderInfo& info,
                     const std::function<HRESULT(IWbemServices*, IWbemObjectSink*)>& call,
                     const std::function<void(IWbemClassObject*)>& on_object);
// Releases providers idle for longer than the provider idle period; returns how many are still held.
size_t SweepProviders();
void ReleaseAllProviders();

// --- events (events.cpp) -----------------------------------------------------------------------------------
// Admits the calling client to events of `event_class` per the SecurityDescriptor of the decoupled provider
// registrations that deliver it: WBEM_E_ACCESS_DENIED when a descriptor exists and does not allow it.
HRESULT AdmitConsumer(const std::wstring& ns, const CimObject& event_class, const com::CallerCredentials& caller);
// A subscription delivering matching events to `queue` or (when queue is null) to `sink`. Returns its id.
uint64_t Subscribe(const std::wstring& ns, std::shared_ptr<wql::Query> query, std::shared_ptr<ObjectQueue> queue,
                   IWbemObjectSink* sink);
void Unsubscribe(uint64_t id);
// Ends the subscriptions that deliver to `sink`; false when there were none.
bool CancelSinkSubscriptions(IWbemObjectSink* sink);
size_t SubscriptionCount();
// The event sink of a namespace when a consumer is subscribed there, else null (WBEM_S_FALSE).
HRESULT EventSinkFor(const std::wstring& ns, IWbemObjectSink** sink);

}  // namespace qv::wbem::service
