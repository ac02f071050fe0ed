// Internals shared by the runtime's parts: apartments, call contexts, class tables, time limits.
#pragma once

#include "objbase.h"
#include "qv_com_runtime.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qv::com {

// --- apartments ---------------------------------------------------------------------------------------------
// The thread of the calling thread's single-threaded apartment, or 0 when it is in the multithreaded one (or
// not initialised).
DWORD CurrentApartmentThread();
bool IsThreadInitialised();

// --- served calls -------------------------------------------------------------------------------------------
// Set while a thread serves an incoming call; nests. The causality identifies the logical thread of calls
// across processes, so that a call back into a waiting client finds the thread that waits.
class ServedCallScope {
public:
    ServedCallScope(const CallerCredentials& caller, uint64_t causality);
    ~ServedCallScope();
    ServedCallScope(const ServedCallScope&) = delete;
    ServedCallScope& operator=(const ServedCallScope&) = delete;

private:
    const CallerCredentials* saved_caller_;
    uint64_t saved_causality_;
    bool saved_served_;
    bool saved_impersonating_;
};
// The causality of the thread's current logical call, 0 outside any.
uint64_t CurrentCausality();
// Sets the causality for the duration of an outgoing call that starts a new logical call.
class CausalityScope {
public:
    explicit CausalityScope(uint64_t causality);
    ~CausalityScope();
    CausalityScope(const CausalityScope&) = delete;
    CausalityScope& operator=(const CausalityScope&) = delete;

private:
    uint64_t saved_;
};

// --- class tables -------------------------------------------------------------------------------------------
// A platform-provided in-process class object, AddRef'd, or REGDB_E_CLASSNOTREG.
HRESULT GetPlatformClassObject(REFCLSID clsid, IUnknown** object);
// A class object registered by this process with CoRegisterClassObject and not suspended, AddRef'd, with the
// apartment its calls belong to; CO_E_SERVER_STOPPING when suspended, REGDB_E_CLASSNOTREG when absent.
HRESULT GetRegisteredClassObject(REFCLSID clsid, IUnknown** object, DWORD* apartment);
// Starts (or finds) the local server of the class and asks it for its class object (`create` false) or for a
// new object of the class (`create` true).
HRESULT ActivateLocalServer(REFCLSID clsid, REFIID iid, bool create, void** object);
// Where the running local servers are announced: <root>/com/running/{CLSID} holds "pid address".
std::string RunningFile(REFCLSID clsid);

// Whether a server of this process admits callers of every user (AdmitEveryLocalUser).
bool AdmitsEveryLocalUser();

// --- limits -------------------------------------------------------------------------------------------------
std::chrono::milliseconds CallTimeout();        // QV_COM_CALL_TIMEOUT_MS, default 5 minutes
std::chrono::milliseconds ActivationTimeout();  // QV_COM_ACTIVATION_TIMEOUT_MS, default 30 s

std::wstring GuidText(REFGUID guid);

}  // namespace qv::com
