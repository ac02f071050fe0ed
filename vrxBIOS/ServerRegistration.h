// The COM registration of vrxBIOS: the AppID and class scripts (resources REGISTRY 100 and 101) applied
// through the system's COM registrar with MODULE set to the program's path (single quotes doubled), and the
// type library (resource TYPELIB 1, "VRXBIOSLib"), registered and unregistered together with the class.
// Used by the installation and removal work.
#pragma once

#include "windows.h"

// Registers from the resources of the program at modulePath. Returns the first failure (the steps after it
// are not attempted), or S_OK.
HRESULT RegisterServer(LPCWSTR modulePath);
// Removes what RegisterServer wrote (HKCR\AppID and HKCR\CLSID themselves stay). Tries every step; returns
// the first failure, or S_OK.
HRESULT UnregisterServer(LPCWSTR modulePath);
