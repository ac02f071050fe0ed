// Per-thread initialisation, process security, impersonation and the served-call context.

#include "ole2.h"
#include "qv_com_runtime.h"
#include "qv_thread_tasks.h"
#include "runtime.h"
#include "windows.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace qv::com {
namespace {

struct ThreadState {
    int init_count = 0;
    bool single_threaded = false;
    bool served = false;                        // serving an incoming call
    const CallerCredentials* caller = nullptr;  // while served: the connection's peer
    uint64_t causality = 0;
    bool impersonating = false;
};
thread_local ThreadState state;

std::mutex security_mutex;
bool security_initialised = false;
std::atomic<bool> admit_every_user{false};

CallerCredentials OwnCredentials() {
    CallerCredentials own{geteuid(), getegid(), {}};
    int count = getgroups(0, nullptr);
    if (count > 0) {
        own.groups.resize(static_cast<size_t>(count));
        count = getgroups(count, own.groups.data());
        own.groups.resize(count > 0 ? static_cast<size_t>(count) : 0);
    }
    return own;
}

std::chrono::milliseconds FromEnvironment(const char* name, long long fallback) {
    const char* text = std::getenv(name);
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        long long value = std::strtoll(text, &end, 10);
        if (end != text && *end == '\0' && value > 0) return std::chrono::milliseconds(value);
    }
    return std::chrono::milliseconds(fallback);
}

}  // namespace

DWORD CurrentApartmentThread() { return state.init_count > 0 && state.single_threaded ? GetCurrentThreadId() : 0; }
bool IsThreadInitialised() { return state.init_count > 0 || state.served; }

ServedCallScope::ServedCallScope(const CallerCredentials& caller, uint64_t causality)
    : saved_caller_(state.caller),
      saved_causality_(state.causality),
      saved_served_(state.served),
      saved_impersonating_(state.impersonating) {
    state.caller = &caller;
    state.causality = causality;
    state.served = true;
    state.impersonating = false;
}

ServedCallScope::~ServedCallScope() {
    state.caller = saved_caller_;
    state.causality = saved_causality_;
    state.served = saved_served_;
    state.impersonating = saved_impersonating_;
}

uint64_t CurrentCausality() { return state.causality; }

CausalityScope::CausalityScope(uint64_t causality) : saved_(state.causality) { state.causality = causality; }
CausalityScope::~CausalityScope() { state.causality = saved_; }

uid_t ThreadIdentity() { return state.served && state.impersonating ? state.caller->uid : geteuid(); }
uid_t CallerIdentity() { return state.served ? state.caller->uid : geteuid(); }
CallerCredentials CurrentCaller() { return state.served ? *state.caller : OwnCredentials(); }

void AdmitEveryLocalUser() { admit_every_user = true; }
bool AdmitsEveryLocalUser() { return admit_every_user; }

std::chrono::milliseconds CallTimeout() { return FromEnvironment("QV_COM_CALL_TIMEOUT_MS", 300000); }
std::chrono::milliseconds ActivationTimeout() { return FromEnvironment("QV_COM_ACTIVATION_TIMEOUT_MS", 30000); }

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return text;
}

}  // namespace qv::com

using qv::com::state;

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    bool single = (coInit & COINIT_APARTMENTTHREADED) != 0;
    if (state.init_count > 0) {
        if (state.single_threaded != single) return RPC_E_CHANGED_MODE;
        ++state.init_count;
        return S_FALSE;
    }
    state.single_threaded = single;
    state.init_count = 1;
    qv::win::EnsureThreadQueue();
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (state.init_count > 0) --state.init_count;
}

HRESULT OleInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }
void OleUninitialize() { CoUninitialize(); }

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD, void*,
                             DWORD, void*) {
    if (const char* fail = std::getenv("QV_COM_FAIL_SECURITY"); fail != nullptr && std::string(fail) == "1")
        return RPC_E_NO_GOOD_SECURITY_PACKAGES;
    std::lock_guard lock(qv::com::security_mutex);
    if (qv::com::security_initialised) return RPC_E_TOO_LATE;
    qv::com::security_initialised = true;
    return S_OK;
}

HRESULT CoImpersonateClient() {
    if (!state.served) return RPC_E_CALL_COMPLETE;
    state.impersonating = true;
    return S_OK;
}

HRESULT CoRevertToSelf() {
    if (!state.served) return RPC_E_CALL_COMPLETE;
    state.impersonating = false;
    return S_OK;
}

HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) {
    return proxy != nullptr ? S_OK : E_INVALIDARG;
}
