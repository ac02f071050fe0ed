// The client side of a remote object: one proxy manager per object and connection (the object's identity
// here), with one interface proxy per interface asked for. References taken here are counted locally; when
// the last goes, the manager returns every reference it received to the exporting side in one message.
#pragma once

#include "connection.h"
#include "interfaces.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace qv::com {

struct InterfaceProxy {
    const void* vptr;  // the interface's generated vtable: the object is usable as that interface
    class ProxyManager* manager;
    const InterfaceSpec* spec;
};

class ProxyManager {
public:
    ProxyManager(std::shared_ptr<Connection> connection, uint64_t id, uint64_t serial);
    ~ProxyManager();

    HRESULT QueryInterface(REFIID iid, void** object);
    ULONG AddRef() { return ++refs_; }
    ULONG Release();
    // The interface proxy for an interface the peer already counted a reference for (guarded by the
    // connection's lock): one more remote reference, one more local one.
    HRESULT TakeReference(REFIID iid, void** object);

    Connection& connection() { return *connection_; }
    uint64_t id() const { return id_; }
    uint64_t serial() const { return serial_; }
    long refs() const { return refs_; }
    uint32_t remote_refs() const { return remote_refs_; }

private:
    InterfaceProxy* Find(REFIID iid);
    InterfaceProxy* Add(const InterfaceSpec* spec);

    std::shared_ptr<Connection> connection_;
    uint64_t id_;
    uint64_t serial_;
    std::atomic<long> refs_{0};
    std::atomic<uint32_t> remote_refs_{0};
    std::mutex mutex_;
    std::vector<InterfaceProxy*> interfaces_;
};

// The proxy manager behind `object` when it is an interface proxy of this copy of the runtime, else null
// (no reference is taken, and the object is not called).
ProxyManager* ProxyManagerOf(IUnknown* object);

}  // namespace qv::com
