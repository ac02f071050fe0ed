// The Windows API surface of the emulated platform: what system code includes to reach base services.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winreg.h"
#include "winuser.h"
#include "sysinfoapi.h"
#include "memoryapi.h"
#include "winioctl.h"
#include "winsvc.h"
