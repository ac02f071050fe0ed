// Proxy managers and the generic proxy entry points that every generated vtable uses.

#include "proxy.h"

#include "marshal.h"

namespace qv::com {

ProxyManager::ProxyManager(std::shared_ptr<Connection> connection, uint64_t id, uint64_t serial)
    : connection_(std::move(connection)), id_(id), serial_(serial) {
    Add(FindInterface(IID_IUnknown));
}

ProxyManager::~ProxyManager() {
    for (auto* p : interfaces_) delete p;
}

InterfaceProxy* ProxyManager::Find(REFIID iid) {
    for (auto* p : interfaces_)
        if (p->spec->iid == iid) return p;
    return nullptr;
}

InterfaceProxy* ProxyManager::Add(const InterfaceSpec* spec) {
    auto* proxy = new InterfaceProxy{spec->vtable.data() + 2, this, spec};
    interfaces_.push_back(proxy);
    return proxy;
}

ULONG ProxyManager::Release() {
    uint64_t serial = serial_;
    uint64_t id = id_;
    long left = --refs_;
    if (left == 0) {
        // The connection may outlive this call only through our reference: keep it until we are done.
        std::shared_ptr<Connection> connection = connection_;
        connection->ProxyReleased(id, serial);
    }
    return static_cast<ULONG>(left);
}

HRESULT ProxyManager::TakeReference(REFIID iid, void** object) {
    const InterfaceSpec* spec = FindInterface(iid);
    ++remote_refs_;
    ++refs_;
    std::lock_guard lock(mutex_);
    if (spec == nullptr) {
        --refs_;  // the remote reference stays counted and goes back with the others
        *object = nullptr;
        return E_NOINTERFACE;
    }
    InterfaceProxy* proxy = Find(iid);
    if (proxy == nullptr) proxy = Add(spec);
    *object = proxy;
    return S_OK;
}

HRESULT ProxyManager::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (InterfaceProxy* proxy = Find(iid)) {
            AddRef();
            *object = proxy;
            return S_OK;
        }
    }
    const InterfaceSpec* spec = FindInterface(iid);
    if (spec == nullptr) return E_NOINTERFACE;
    // Ask the object itself; on success the exporter counted one more reference for us.
    wire::Writer w;
    w.Guid(iid);
    std::vector<uint8_t> reply;
    HRESULT result = S_OK;
    HRESULT hr = connection_->Call(id_, 0, std::move(w.bytes()), &reply, &result);
    if (FAILED(hr)) return hr;
    if (FAILED(result)) return result;
    std::lock_guard lock(mutex_);
    ++remote_refs_;
    InterfaceProxy* proxy = Find(iid);
    if (proxy == nullptr) proxy = Add(spec);
    AddRef();
    *object = proxy;
    return S_OK;
}

ProxyManager* ProxyManagerOf(IUnknown* object) {
    // Every COM object starts with its vtable pointer, whose first slot is QueryInterface; only this runtime's
    // generated proxy vtables hold ProxyQueryInterface there. The object itself is not asked: an object whose
    // QueryInterface answers any IID would claim to be a proxy (and keep the reference it took).
    const auto* vtable = *reinterpret_cast<void* const* const*>(object);
    if (vtable[0] != reinterpret_cast<void*>(&ProxyQueryInterface)) return nullptr;
    return static_cast<InterfaceProxy*>(static_cast<void*>(object))->manager;
}

HRESULT ProxyQueryInterface(void* self, REFIID riid, void** object) {
    return static_cast<InterfaceProxy*>(self)->manager->QueryInterface(riid, object);
}

ULONG ProxyAddRef(void* self) { return static_cast<InterfaceProxy*>(self)->manager->AddRef(); }

ULONG ProxyRelease(void* self) { return static_cast<InterfaceProxy*>(self)->manager->Release(); }

HRESULT ProxyInvoke(void* self, size_t index, const uint64_t* argv) {
    auto* proxy = static_cast<InterfaceProxy*>(self);
    const MethodSpec& method = proxy->spec->methods[index];
    Connection& connection = proxy->manager->connection();
    wire::Writer w;
    w.Guid(proxy->spec->iid);
    HRESULT hr = EncodeArguments(connection, method, argv, w);
    if (FAILED(hr)) {
        ClearResults(method, argv);
        return hr;
    }
    std::vector<uint8_t> reply;
    HRESULT result = S_OK;
    hr = connection.Call(proxy->manager->id(), static_cast<uint32_t>(index + 3), std::move(w.bytes()), &reply, &result);
    if (FAILED(hr)) {
        ClearResults(method, argv);
        return hr;
    }
    if (FAILED(result) && reply.empty()) {
        ClearResults(method, argv);
        return result;
    }
    wire::Reader r(reply.data(), reply.size());
    hr = DecodeResults(connection, method, argv, r);
    if (FAILED(hr)) {
        ClearResults(method, argv);
        return hr;
    }
    return result;
}

}  // namespace qv::com
