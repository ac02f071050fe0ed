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
