// The COM runtime: initialisation, security, class objects, activation, GUID text and task memory.
#pragma once

#include "guiddef.h"
#include "objidl.h"
#include "unknwn.h"
#include "windef.h"
#include "winerror.h"

// --- result codes the runtime adds ---------------------------------------------------------------------------
#ifndef RPC_E_CALL_COMPLETE
#define RPC_E_CALL_COMPLETE static_cast<HRESULT>(0x80010117L)
#endif
#ifndef RPC_S_PROCNUM_OUT_OF_RANGE_HR
#define RPC_S_PROCNUM_OUT_OF_RANGE_HR static_cast<HRESULT>(0x800706D1L)
#endif
#ifndef CO_E_NOT_SUPPORTED
#define CO_E_NOT_SUPPORTED static_cast<HRESULT>(0x80004021L)
#endif
#ifndef CO_E_WRONG_SERVER_IDENTITY
#define CO_E_WRONG_SERVER_IDENTITY static_cast<HRESULT>(0x80004015L)
#endif

// --- initialisation ------------------------------------------------------------------------------------------
enum COINIT {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};

// Per thread and counted: the first call answers S_OK, later ones S_FALSE, a different apartment model
// RPC_E_CHANGED_MODE; each successful call needs one CoUninitialize. A single-threaded apartment receives
// the calls to its objects through its thread's message queue (GetMessage/DispatchMessage).
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();

// --- security -----------------------------------------------------------------------------------------------
#define RPC_C_AUTHN_LEVEL_DEFAULT 0
#define RPC_C_AUTHN_LEVEL_NONE 1
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#define RPC_C_AUTHN_LEVEL_CALL 3
#define RPC_C_AUTHN_LEVEL_PKT 4
#define RPC_C_AUTHN_LEVEL_PKT_INTEGRITY 5
#define RPC_C_AUTHN_LEVEL_PKT_PRIVACY 6
#define RPC_C_IMP_LEVEL_DEFAULT 0
#define RPC_C_IMP_LEVEL_ANONYMOUS 1
#define RPC_C_IMP_LEVEL_IDENTIFY 2
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
#define RPC_C_IMP_LEVEL_DELEGATE 4
#define RPC_C_AUTHN_NONE 0
#define RPC_C_AUTHN_WINNT 10
#define RPC_C_AUTHN_DEFAULT 0xFFFFFFFFu
#define RPC_C_AUTHZ_NONE 0
#define RPC_C_AUTHZ_DEFAULT 0xFFFFFFFFu
#define COLE_DEFAULT_PRINCIPAL (reinterpret_cast<OLECHAR*>(static_cast<INT_PTR>(-1)))
#define COLE_DEFAULT_AUTHINFO (reinterpret_cast<void*>(static_cast<INT_PTR>(-1)))

enum EOLE_AUTHENTICATION_CAPABILITIES {
    EOAC_NONE = 0x0,
    EOAC_MUTUAL_AUTH = 0x1,
    EOAC_STATIC_CLOAKING = 0x20,
    EOAC_DYNAMIC_CLOAKING = 0x40,
    EOAC_SECURE_REFS = 0x2,
    EOAC_DEFAULT = 0x800,
};

struct SOLE_AUTHENTICATION_SERVICE;
typedef void* PSECURITY_DESCRIPTOR;

// Once per process: a second call answers RPC_E_TOO_LATE. Calls always carry the caller's user id (socket peer
// credentials), whatever level is asked for. With QV_COM_FAIL_SECURITY=1 in the environment the call fails
// with RPC_E_NO_GOOD_SECURITY_PACKAGES, so that start-up failure paths can be tested.
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServiceCount,
                             SOLE_AUTHENTICATION_SERVICE* authServices, void* reserved1, DWORD authnLevel,
                             DWORD impLevel, void* authList, DWORD capabilities, void* reserved3);
// During a served call: the thread acts for the calling client (its user id) until CoRevertToSelf. Outside a
// served call: RPC_E_CALL_COMPLETE. qv::com::ThreadIdentity() tells whom the thread acts for.
HRESULT CoImpersonateClient();
HRESULT CoRevertToSelf();
// Accepted for any interface pointer; calls are always authenticated by the peer's user id.
HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService, OLECHAR* serverPrincipal,
                          DWORD authnLevel, DWORD impLevel, void* authInfo, DWORD capabilities);

// --- class objects and activation ---------------------------------------------------------------------------
enum CLSCTX {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_INPROC = 0x3,
    CLSCTX_SERVER = 0x15,
    CLSCTX_ALL = 0x17,
};

enum REGCLS {
    REGCLS_SINGLEUSE = 0,
    REGCLS_MULTIPLEUSE = 1,
    REGCLS_MULTI_SEPARATE = 2,
    REGCLS_SUSPENDED = 4,
    REGCLS_SURROGATE = 8,
};

// Makes the class object reachable by other processes (CLSCTX_LOCAL_SERVER; REGCLS_MULTIPLEUSE or
// REGCLS_MULTI_SEPARATE; REGCLS_SUSPENDED waits for CoResumeClassObjects). Holds one reference until revoked.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* object, DWORD context, DWORD flags, LPDWORD cookie);
HRESULT CoRevokeClassObject(DWORD cookie);
// Stops handing out this process's class objects: later activations start a new server.
HRESULT CoSuspendClassObjects();
HRESULT CoResumeClassObjects();

// In-process classes come from the platform's class table (qv_com_runtime.h); local servers from the
// registry (HKCR\CLSID\{clsid}\LocalServer32), started with "-Embedding" when none is running and waited for
// (QV_COM_ACTIVATION_TIMEOUT_MS, default 30 s). Failures: REGDB_E_CLASSNOTREG, CO_E_SERVER_EXEC_FAILURE,
// RPC_E_DISCONNECTED, E_NOINTERFACE.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);

// --- GUID text and ProgIDs ----------------------------------------------------------------------------------
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case); returns the characters written with the NUL, or 0
// when the buffer is shorter than 39.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);  // free with CoTaskMemFree
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
// Accepts the braced form; anything else is looked up as a ProgID. CO_E_CLASSSTRING when malformed.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, LPIID iid);
// HKCR\<progid>\CLSID, following CurVer when the ProgID itself has no CLSID. CO_E_CLASSSTRING when unknown.
HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);

// --- task memory and streams --------------------------------------------------------------------------------
LPVOID CoTaskMemAlloc(SIZE_T size);
LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size);
void CoTaskMemFree(LPVOID block);

// A growable stream in memory (the HGLOBAL must be null here: the stream owns its own buffer).
HRESULT CreateStreamOnHGlobal(HGLOBAL global, BOOL deleteOnRelease, LPSTREAM* stream);
