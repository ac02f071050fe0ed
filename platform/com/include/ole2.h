// OLE initialisation: a single-threaded apartment for the calling thread.
#pragma once

#include "oaidl.h"
#include "objbase.h"
#include "oleauto.h"

// CoInitializeEx(COINIT_APARTMENTTHREADED) for the thread; S_FALSE when it already was.
HRESULT OleInitialize(LPVOID reserved);
void OleUninitialize();
