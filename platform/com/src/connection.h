// One connection between two processes: either side exports objects to the other and holds proxies of the
// other's objects, so calls run both ways (a server calls back into a client's sink while the client waits).
//
// A reader thread receives every message. Replies wake the thread that waits for them; calls are served on
// the thread that waits for an outgoing call of the same causality (a call back into a waiting client), else
// on the single-threaded apartment the object lives in (through that thread's message queue), else on a
// worker thread of the multithreaded apartment. When the peer goes away, every outgoing call fails with
// RPC_E_DISCONNECTED and every reference the peer held on this side's objects is released, whichever side
// served and whichever called: in the object's apartment, or by the apartment's thread as it ends.
#pragma once

#include "guiddef.h"
#include "qv_com_runtime.h"
#include "unknwn.h"
#include "wire.h"

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv::com {

class ProxyManager;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    // Takes the socket and starts its reader; `initiator` connections close themselves once they hold no
    // proxies, exports or calls. A negative socket gives a connection that is already closed (decoding tests).
    static std::shared_ptr<Connection> Start(int socket, bool initiator);
    ~Connection();

    // Sends a call and waits (bounded, serving calls meanwhile) for its reply. Returns the transport's
    // failure, or S_OK with the callee's HRESULT in *result and its out-data in *reply.
    HRESULT Call(uint64_t object, uint32_t slot, std::vector<uint8_t> body, std::vector<uint8_t>* reply,
                 HRESULT* result);
    // Returns `count` references of the peer's object (no answer is awaited).
    void Release(uint64_t object, uint32_t count);

    // Exports `object` as `iid` for the peer and counts one reference the peer now holds. Calls to it are
    // served in `apartment` (a thread id, 0 for the multithreaded apartment).
    HRESULT Export(IUnknown* object, REFIID iid, DWORD apartment, uint64_t* id);
    // This side's exported object `id` as `iid` (a pointer the peer passes back), AddRef'd.
    HRESULT LookupExport(uint64_t id, REFIID iid, void** object);
    // A proxy of the peer's object `id` as `iid`, AddRef'd; takes over the one reference the peer counted.
    HRESULT Unmarshal(uint64_t id, REFIID iid, void** object);
    // Asks the peer's activator for a class object registered there (`create` false), or for a new object
    // that the class object creates there in the same call (`create` true), as Windows' activation does.
    HRESULT Activate(REFCLSID clsid, REFIID iid, bool create, void** object);

    bool connected() const { return !closed_; }
    uid_t peer_uid() const { return peer_.uid; }
    void Close();

    // Called by a proxy manager whose last reference went.
    void ProxyReleased(uint64_t id, uint64_t serial);

private:
    struct ExportEntry {
        IUnknown* identity = nullptr;
        std::map<GUID, IUnknown*, bool (*)(const GUID&, const GUID&)> interfaces{&GuidLess};
        int64_t refs = 0;
        DWORD apartment = 0;
    };
    struct Pending {
        DWORD waiter = 0;
        bool done = false;
        HRESULT result = S_OK;
        std::vector<uint8_t> body;
    };
    static bool GuidLess(const GUID& a, const GUID& b);
    // Work handed to an apartment's thread that must not vanish unheard when the thread ends (or the queue
    // goes) before running it: a call is then answered RPC_E_DISCONNECTED, an export's references released.
    struct PostedCall;
    struct PostedRelease;

    Connection(int socket, bool initiator);
    void ReadLoop();
    bool Send(const wire::Header& header, const std::vector<uint8_t>& body);
    void OnCall(const wire::Header& header, std::vector<uint8_t> body);
    void Serve(const wire::Header& header, const std::vector<uint8_t>& body);
    HRESULT ServeActivation(wire::Reader& reader, wire::Writer& out);
    HRESULT ServeMethod(uint64_t object, uint32_t slot, const GUID& iid, wire::Reader& reader, wire::Writer& out);
    void Reply(const wire::Header& call, HRESULT result, const std::vector<uint8_t>& body);
    void OnRelease(uint64_t id, uint32_t count);
    static void ReleaseExport(ExportEntry entry);
    void CloseIfIdle();

    int socket_;
    bool initiator_;
    CallerCredentials peer_{static_cast<uid_t>(-1), static_cast<gid_t>(-1), {}};  // as the kernel vouches
    std::atomic<bool> closed_{false};
    std::mutex write_mutex_;

    std::mutex mutex_;  // guards everything below
    uint64_t next_call_ = 1;
    uint64_t next_export_ = 1;
    uint64_t next_serial_ = 1;
    std::map<uint64_t, Pending> pending_;
    std::map<uint64_t, ExportEntry> exports_;
    std::map<uint64_t, ProxyManager*> proxies_;
};

// The listening socket of this process (created on first use, reachable by its own user and root only) and
// its address ("/path" or "@abstract-name"), or an empty string when it cannot listen.
std::string LocalEndpoint();
// Connects to a server's address; connections are shared per address while they live.
std::shared_ptr<Connection> ConnectTo(const std::string& address);

}  // namespace qv::com
