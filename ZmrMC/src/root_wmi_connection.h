// The connection to the firmware's and the operating system's instrumentation namespace "\\.\root\WMI",
// made as both the call gate and the SMBIOS store make it: the in-process WMI locator, no credentials, the
// maximum-wait flag on Windows XP and later, and an impersonating proxy blanket.
#pragma once

#include <objbase.h>
#include <wbemcli.h>

namespace zmrmc {

// On success *services holds a reference the caller releases (an out parameter of COM's kind: pass an empty
// ComPtr's GetAddressOf); null on failure. The calling thread must have initialised COM.
HRESULT ConnectRootWmi(IWbemServices** services);

}  // namespace zmrmc
