// COM initialisation of a thread (apartments).
//
// Each thread initialises COM for itself: the first successful call fixes the thread's apartment model and
// returns S_OK, further calls with the same model return S_FALSE, a call with the other model
// RPC_E_CHANGED_MODE. Every successful call is balanced by one CoUninitialize (OleUninitialize).
// OleInitialize enters a single-threaded apartment.
#pragma once

#include "unknwn.h"
#include "windef.h"
#include "winerror.h"

enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
HRESULT OleInitialize(LPVOID reserved);
void OleUninitialize();

// --- calls served by this process ----------------------------------------------------------------------------
// Impersonation of the client of the call being served. This runtime does not serve calls from other
// processes yet, so there is never a call context: both return RPC_E_CALL_COMPLETE and the thread keeps the
// process's own identity.
#define RPC_E_CALL_COMPLETE static_cast<HRESULT>(0x80010117L)
HRESULT CoImpersonateClient();
HRESULT CoRevertToSelf();

// --- object creation ----------------------------------------------------------------------------------------
enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
};
// Creates an object of a registered class. This runtime has no class registrations yet: every class is
// unknown (REGDB_E_CLASSNOTREG, *object null).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object);

// --- class objects of a server ----------------------------------------------------------------------------------
// Stops new activation requests from reaching this process's registered class objects. This runtime has no
// class-object registrations yet, so there is nothing to suspend: S_OK.
HRESULT CoSuspendClassObjects();
