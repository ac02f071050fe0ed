// Connections: framing over a Unix socket, outgoing calls, serving incoming calls, exports and proxies.

#include "connection.h"

#include "marshal.h"
#include "proxy.h"
#include "qv_module_unload.h"
#include "qv_thread_tasks.h"
#include "runtime.h"
#include "runtime_threads.h"
#include "windows.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <unordered_map>

namespace qv::com {
namespace {

// How long the rest of a message may take once its first byte arrived.
constexpr int kMessageTimeoutMs = 10000;
// Threads serving calls into the multithreaded apartment at once, for the whole process.
constexpr int kMaxWorkers = 128;
std::atomic<int> workers{0};

// Threads that wait for the reply of an outgoing call, by causality: a call back of the same causality is
// served by the waiting thread.
std::mutex waiting_mutex;
std::unordered_map<uint64_t, std::pair<DWORD, int>>& Waiting() {
    static auto* waiting = qv::win::KeepUntilUnload(new std::unordered_map<uint64_t, std::pair<DWORD, int>>());
    return *waiting;
}

DWORD WaitingThread(uint64_t causality) {
    std::lock_guard lock(waiting_mutex);
    auto it = Waiting().find(causality);
    return it == Waiting().end() ? 0 : it->second.first;
}

class WaitingScope {
public:
    explicit WaitingScope(uint64_t causality) : causality_(causality) {
        std::lock_guard lock(waiting_mutex);
        auto& entry = Waiting()[causality];
        entry.first = GetCurrentThreadId();
        ++entry.second;
    }
    ~WaitingScope() {
        std::lock_guard lock(waiting_mutex);
        auto it = Waiting().find(causality_);
        if (it != Waiting().end() && --it->second.second == 0) Waiting().erase(it);
    }
    WaitingScope(const WaitingScope&) = delete;
    WaitingScope& operator=(const WaitingScope&) = delete;

private:
    uint64_t causality_;
};

// The live connections of a shared library's copy of the runtime, which unloading closes.
std::mutex live_mutex;
std::vector<std::weak_ptr<Connection>>& Live() {
    static auto* live = qv::win::KeepUntilUnload(new std::vector<std::weak_ptr<Connection>>());
    return *live;
}

void Track(const std::shared_ptr<Connection>& connection) {
    if (!qv::win::PlatformInSharedLibrary()) return;
    std::lock_guard lock(live_mutex);
    auto& live = Live();
    std::erase_if(live, [](const std::weak_ptr<Connection>& c) { return c.expired(); });
    live.push_back(connection);
}

uint64_t NewCausality() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    uint64_t value = 0;
    while (value == 0) value = random();
    return value;
}

// Reads exactly `size` bytes. Before the first byte of a message the wait is unbounded (an idle connection);
// after it, the rest must arrive within kMessageTimeoutMs.
bool ReadFull(int socket, uint8_t* data, size_t size, bool started) {
    size_t done = 0;
    while (done < size) {
        if (started || done > 0) {
            pollfd p{socket, POLLIN, 0};
            int ready = poll(&p, 1, kMessageTimeoutMs);
            if (ready <= 0) {
                if (ready < 0 && errno == EINTR) continue;
                return false;
            }
        }
        ssize_t got = recv(socket, data + done, size - done, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

bool Connection::GuidLess(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }

struct Connection::PostedCall {
    PostedCall(std::shared_ptr<Connection> c, const wire::Header& h, std::vector<uint8_t> b)
        : connection(std::move(c)), header(h), body(std::move(b)) {}
    ~PostedCall() {
        if (!served) connection->Reply(header, RPC_E_DISCONNECTED, {});
    }
    PostedCall(const PostedCall&) = delete;
    PostedCall& operator=(const PostedCall&) = delete;
    void Run() {
        served = true;
        connection->Serve(header, body);
    }
    std::shared_ptr<Connection> connection;
    wire::Header header;
    std::vector<uint8_t> body;
    bool served = false;
};

struct Connection::PostedRelease {
    explicit PostedRelease(Connection::ExportEntry e) : entry(std::move(e)) {}
    ~PostedRelease() { Run(); }
    PostedRelease(const PostedRelease&) = delete;
    PostedRelease& operator=(const PostedRelease&) = delete;
    void Run() {
        if (released) return;
        released = true;
        for (auto& [iid, itf] : entry.interfaces) itf->Release();
        entry.identity->Release();
    }
    Connection::ExportEntry entry;
    bool released = false;
};

Connection::Connection(int socket, bool initiator) : socket_(socket), initiator_(initiator) {
    if (socket_ < 0) {
        closed_ = true;
        return;
    }
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(socket_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
        peer_.uid = credentials.uid;
        peer_.gid = credentials.gid;
        // The peer's supplementary groups as they were when it connected.
        std::vector<gid_t> groups(64);
        for (int attempt = 0; attempt < 4; ++attempt) {
            socklen_t size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
            if (getsockopt(socket_, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size) == 0) {
                groups.resize(size / sizeof(gid_t));
                peer_.groups = std::move(groups);
                break;
            }
            if (errno != ERANGE) break;
            groups.resize(size / sizeof(gid_t) + 1);
        }
    }
    timeval send_limit{30, 0};
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof(send_limit));
}

Connection::~Connection() {
    if (socket_ >= 0) close(socket_);
}

std::shared_ptr<Connection> Connection::Start(int socket, bool initiator) {
    std::shared_ptr<Connection> connection(new Connection(socket, initiator));
    if (socket < 0) return connection;
    Track(connection);
    if (!StartRuntimeThread([connection] { connection->ReadLoop(); })) connection->Close();
    return connection;
}

void CloseAllConnections() {
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(live_mutex);
        for (auto& weak : Live())
            if (auto connection = weak.lock()) open.push_back(std::move(connection));
        Live().clear();
    }
    for (auto& connection : open) connection->Close();
}

bool Connection::Send(const wire::Header& header, const std::vector<uint8_t>& body) {
    if (closed_) return false;
    uint8_t head[wire::kHeaderSize];
    wire::Header h = header;
    h.body_size = static_cast<uint32_t>(body.size());
    wire::EncodeHeader(h, head);
    std::lock_guard lock(write_mutex_);
    iovec parts[2] = {{head, sizeof(head)}, {const_cast<uint8_t*>(body.data()), body.size()}};
    size_t total = sizeof(head) + body.size(), sent = 0;
    while (sent < total) {
        msghdr msg{};
        iovec rest[2];
        int count = 0;
        size_t skip = sent;
        for (auto& part : parts) {
            if (skip >= part.iov_len) {
                skip -= part.iov_len;
                continue;
            }
            rest[count++] = {static_cast<uint8_t*>(part.iov_base) + skip, part.iov_len - skip};
            skip = 0;
        }
        msg.msg_iov = rest;
        msg.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = sendmsg(socket_, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            shutdown(socket_, SHUT_RDWR);  // the reader notices and closes the connection
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

HRESULT Connection::Call(uint64_t object, uint32_t slot, std::vector<uint8_t> body, std::vector<uint8_t>* reply,
                         HRESULT* result) {
    if (closed_) return RPC_E_DISCONNECTED;
    auto self = shared_from_this();
    uint64_t causality = CurrentCausality();
    if (causality == 0) causality = NewCausality();
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return RPC_E_DISCONNECTED;
        id = next_call_++;
        pending_[id].waiter = GetCurrentThreadId();
    }
    HRESULT hr = S_OK;
    {
        WaitingScope waiting(causality);
        CausalityScope scope(causality);
        wire::Header h;
        h.kind = wire::Kind::kCall;
        h.method = slot;
        h.call_id = id;
        h.object_id = object;
        h.causality = causality;
        if (!Send(h, body)) {
            hr = RPC_E_DISCONNECTED;
        } else {
            auto deadline = std::chrono::steady_clock::now() + CallTimeout();
            bool answered = win::RunThreadTasksUntil(
                [&] {
                    std::lock_guard lock(mutex_);
                    return pending_[id].done || closed_;
                },
                deadline);
            if (!answered) hr = RPC_E_TIMEOUT;
        }
    }
    std::unique_lock lock(mutex_);
    Pending done = std::move(pending_[id]);
    pending_.erase(id);
    if (SUCCEEDED(hr) && !done.done) hr = RPC_E_DISCONNECTED;
    if (SUCCEEDED(hr)) {
        *result = done.result;
        *reply = std::move(done.body);
    }
    return hr;
}

void Connection::Release(uint64_t object, uint32_t count) {
    wire::Writer w;
    w.U32(count);
    wire::Header h;
    h.kind = wire::Kind::kRelease;
    h.object_id = object;
    Send(h, w.bytes());
}

void Connection::ReadLoop() {
    auto self = shared_from_this();
    for (;;) {
        uint8_t head[wire::kHeaderSize];
        wire::Header h;
        if (!ReadFull(socket_, head, 1, false) || !ReadFull(socket_, head + 1, sizeof(head) - 1, true)) break;
        if (!wire::DecodeHeader(head, sizeof(head), &h)) break;  // cannot find the next message: give up
        std::vector<uint8_t> body(h.body_size);
        if (h.body_size != 0 && !ReadFull(socket_, body.data(), body.size(), true)) break;
        switch (h.kind) {
        case wire::Kind::kReply: {
            DWORD waiter = 0;
            {
                std::lock_guard lock(mutex_);
                auto it = pending_.find(h.call_id);
                if (it == pending_.end()) break;  // late reply of a call that gave up
                it->second.done = true;
                it->second.result = static_cast<HRESULT>(h.method);
                it->second.body = std::move(body);
                waiter = it->second.waiter;
            }
            win::WakeThread(waiter);
            break;
        }
        case wire::Kind::kCall: OnCall(h, std::move(body)); break;
        case wire::Kind::kRelease: {
            wire::Reader r(body.data(), body.size());
            uint32_t count = 0;
            if (r.U32(&count) && r.remaining() == 0) OnRelease(h.object_id, count);
            break;
        }
        }
    }
    Close();
}

void Connection::OnCall(const wire::Header& header, std::vector<uint8_t> body) {
    DWORD target = 0;
    if (header.object_id == 0) {
        // Activation runs in the apartment of the class object it asks for: body = IID_NULL, CLSID, ...
        wire::Reader r(body.data(), body.size());
        GUID marker{};
        CLSID clsid{};
        IUnknown* object = nullptr;
        if (r.Guid(&marker) && r.Guid(&clsid) && SUCCEEDED(GetRegisteredClassObject(clsid, &object, &target)))
            object->Release();
    } else {
        std::lock_guard lock(mutex_);
        auto it = exports_.find(header.object_id);
        if (it != exports_.end()) target = it->second.apartment;
    }
    if (target == 0 && header.causality != 0) target = WaitingThread(header.causality);
    auto self = shared_from_this();
    if (target != 0) {
        auto call = std::make_shared<PostedCall>(self, header, std::move(body));
        win::PostThreadTask(target, [call] { call->Run(); });  // not posted: answered as the task goes
        return;
    }
    // Calls into the multithreaded apartment each get a worker of their own (an idle one, or a new one), up to a
    // limit a flood cannot pass.
    if (++workers >= kMaxWorkers) {
        --workers;
        Reply(header, RPC_E_CALL_REJECTED, {});
        return;
    }
    bool started = RunOnWorker([self, header, body = std::move(body)] {
        self->Serve(header, body);
        --workers;
    });
    if (!started) {
        --workers;
        Reply(header, RPC_E_CALL_REJECTED, {});
    }
}

void Connection::Reply(const wire::Header& call, HRESULT result, const std::vector<uint8_t>& body) {
    wire::Header h;
    h.kind = wire::Kind::kReply;
    h.method = static_cast<uint32_t>(result);
    h.call_id = call.call_id;
    h.object_id = call.object_id;
    h.causality = call.causality;
    Send(h, body);
}

void Connection::Serve(const wire::Header& header, const std::vector<uint8_t>& body) {
    ServedCallScope scope(peer_, header.causality);
    wire::Reader r(body.data(), body.size());
    wire::Writer out;
    GUID iid{};
    HRESULT hr;
    try {
        if (!r.Guid(&iid))
            hr = RPC_E_INVALID_DATAPACKET;
        else if (header.object_id == 0)
            hr = ServeActivation(r, out);
        else
            hr = ServeMethod(header.object_id, header.method, iid, r, out);
    } catch (...) {
        hr = RPC_E_SERVERFAULT;
        out.bytes().clear();
    }
    Reply(header, hr, out.bytes());
}

HRESULT Connection::ServeActivation(wire::Reader& r, wire::Writer& out) {
    CLSID clsid{};
    GUID iid{};
    uint8_t create = 0;
    if (!r.Guid(&clsid) || !r.Guid(&iid) || !r.U8(&create) || create > 1 || r.remaining() != 0)
        return RPC_E_INVALID_DATAPACKET;
    IUnknown* object = nullptr;
    DWORD apartment = 0;
    HRESULT hr = GetRegisteredClassObject(clsid, &object, &apartment);
    if (FAILED(hr)) return hr;
    IUnknown* wanted = nullptr;
    if (create) {
        // Served in the class object's apartment (see OnCall): the new object lives there too.
        IClassFactory* factory = nullptr;
        hr = object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (SUCCEEDED(hr)) {
            hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&wanted));
            factory->Release();
        }
        apartment = CurrentApartmentThread();
    } else {
        hr = object->QueryInterface(iid, reinterpret_cast<void**>(&wanted));
    }
    object->Release();
    if (FAILED(hr)) return hr;
    if (wanted == nullptr) return E_NOINTERFACE;
    hr = WriteInterface(*this, out, wanted, iid, apartment);
    wanted->Release();
    if (FAILED(hr)) out.bytes().clear();
    return hr;
}

HRESULT Connection::ServeMethod(uint64_t object, uint32_t slot, const GUID& iid, wire::Reader& r, wire::Writer& out) {
    IUnknown* target = nullptr;
    if (slot == 0) {  // QueryInterface: export the interface and count the reference for the peer
        if (r.remaining() != 0) return RPC_E_INVALID_DATAPACKET;
        HRESULT hr = LookupExport(object, IID_IUnknown, reinterpret_cast<void**>(&target));
        if (FAILED(hr)) return hr;
        uint64_t id = 0;
        DWORD apartment = 0;
        {
            std::lock_guard lock(mutex_);
            auto it = exports_.find(object);
            if (it != exports_.end()) apartment = it->second.apartment;
        }
        hr = Export(target, iid, apartment, &id);
        target->Release();
        return hr;
    }
    const InterfaceSpec* spec = FindInterface(iid);
    if (spec == nullptr) return E_NOINTERFACE;
    if (slot < 3 || slot - 3 >= spec->methods.size()) return RPC_S_PROCNUM_OUT_OF_RANGE_HR;
    {
        std::lock_guard lock(mutex_);
        auto it = exports_.find(object);
        if (it == exports_.end()) return RPC_E_DISCONNECTED;
        auto itf = it->second.interfaces.find(iid);
        if (itf == it->second.interfaces.end()) return E_NOINTERFACE;  // never handed out: the peer cannot hold it
        target = itf->second;
        target->AddRef();
    }
    const MethodSpec& method = spec->methods[slot - 3];
    HRESULT hr;
    {
        CallFrame frame(method);
        hr = frame.DecodeArguments(*this, r);
        if (SUCCEEDED(hr)) {
            hr = method.invoke(target, frame.argv());
            HRESULT encoded = frame.EncodeResults(*this, out);
            if (FAILED(encoded)) {
                out.bytes().clear();
                hr = encoded;
            }
        }
    }
    target->Release();
    return hr;
}

HRESULT Connection::Export(IUnknown* object, REFIID iid, DWORD apartment, uint64_t* id) {
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) return E_NOINTERFACE;
    IUnknown* itf = nullptr;
    if (FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(&itf)))) {
        identity->Release();
        return E_NOINTERFACE;
    }
    std::unique_lock lock(mutex_);
    if (closed_) {
        lock.unlock();
        itf->Release();
        identity->Release();
        return RPC_E_DISCONNECTED;
    }
    uint64_t found = 0;
    for (auto& [key, entry] : exports_)
        if (entry.identity == identity) found = key;
    if (found == 0) {
        found = next_export_++;
        Connection::ExportEntry& entry = exports_[found];
        entry.identity = identity;
        entry.apartment = apartment;
        identity = nullptr;
    }
    Connection::ExportEntry& entry = exports_[found];
    if (entry.interfaces.count(iid) == 0) {
        entry.interfaces[iid] = itf;
        itf = nullptr;
    }
    ++entry.refs;
    *id = found;
    lock.unlock();
    if (itf != nullptr) itf->Release();
    if (identity != nullptr) identity->Release();
    return S_OK;
}

HRESULT Connection::LookupExport(uint64_t id, REFIID iid, void** object) {
    IUnknown* identity = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto it = exports_.find(id);
        if (it == exports_.end()) return RPC_E_DISCONNECTED;
        identity = it->second.identity;
        identity->AddRef();
    }
    HRESULT hr = identity->QueryInterface(iid, object);
    identity->Release();
    return hr;
}

HRESULT Connection::Unmarshal(uint64_t id, REFIID iid, void** object) {
    *object = nullptr;
    ProxyManager* dropped = nullptr;
    HRESULT hr;
    {
        std::lock_guard lock(mutex_);
        auto it = proxies_.find(id);
        ProxyManager* manager;
        if (it != proxies_.end()) {
            manager = it->second;
        } else {
            manager = new ProxyManager(shared_from_this(), id, next_serial_++);
            proxies_[id] = manager;
        }
        hr = manager->TakeReference(iid, object);
        if (FAILED(hr) && manager->refs() == 0) {
            proxies_.erase(id);
            dropped = manager;
        }
    }
    if (dropped != nullptr) {
        Release(id, dropped->remote_refs());
        delete dropped;
    }
    return hr;
}

void Connection::ProxyReleased(uint64_t id, uint64_t serial) {
    ProxyManager* dropped = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto it = proxies_.find(id);
        if (it == proxies_.end() || it->second->serial() != serial || it->second->refs() != 0) return;
        dropped = it->second;
        proxies_.erase(it);
    }
    Release(id, dropped->remote_refs());
    delete dropped;
    CloseIfIdle();
}

HRESULT Connection::Activate(REFCLSID clsid, REFIID iid, bool create, void** object) {
    *object = nullptr;
    wire::Writer w;
    w.Guid(IID_NULL);
    w.Guid(clsid);
    w.Guid(iid);
    w.U8(create ? 1 : 0);
    std::vector<uint8_t> reply;
    HRESULT result = S_OK;
    HRESULT hr = Call(0, 3, std::move(w.bytes()), &reply, &result);
    if (SUCCEEDED(hr) && FAILED(result)) hr = result;
    if (FAILED(hr)) {
        CloseIfIdle();
        return hr;
    }
    wire::Reader r(reply.data(), reply.size());
    hr = ReadInterface(*this, r, iid, object);
    if (SUCCEEDED(hr) && r.remaining() != 0) {
        static_cast<IUnknown*>(*object)->Release();
        *object = nullptr;
        hr = RPC_E_INVALID_DATAPACKET;
    }
    if (SUCCEEDED(hr) && *object == nullptr) hr = E_NOINTERFACE;
    CloseIfIdle();  // nothing came of it: no proxy keeps the connection
    return hr;
}

void Connection::OnRelease(uint64_t id, uint32_t count) {
    Connection::ExportEntry entry;
    {
        std::lock_guard lock(mutex_);
        auto it = exports_.find(id);
        if (it == exports_.end()) return;
        it->second.refs -= count;
        if (it->second.refs > 0) return;
        entry = std::move(it->second);
        exports_.erase(it);
    }
    ReleaseExport(std::move(entry));
    CloseIfIdle();
}

// Releases what an export held, in the object's apartment when it has one: there as a task, or on the
// apartment's thread when it ends without running it; at once when the apartment's thread is gone.
void Connection::ReleaseExport(Connection::ExportEntry entry) {
    DWORD apartment = entry.apartment;
    auto release = std::make_shared<PostedRelease>(std::move(entry));
    if (apartment != 0 && win::PostThreadTask(apartment, [release] { release->Run(); })) return;
    release->Run();
}

void Connection::Close() {
    std::map<uint64_t, Connection::ExportEntry> exports;
    std::vector<DWORD> waiters;
    {
        std::lock_guard lock(mutex_);
        if (closed_.exchange(true)) return;
        exports.swap(exports_);
        for (auto& [id, p] : pending_) waiters.push_back(p.waiter);
    }
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
    for (DWORD w : waiters) win::WakeThread(w);
    for (auto& [id, entry] : exports) ReleaseExport(std::move(entry));
}

void Connection::CloseIfIdle() {
    if (!initiator_) return;
    {
        std::lock_guard lock(mutex_);
        if (!proxies_.empty() || !exports_.empty() || !pending_.empty() || closed_) return;
        closed_ = true;
    }
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
}

}  // namespace qv::com
