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
#include "errhandlingapi.h"
#include "fileapi.h"
#include "synchapi.h"
#include "winnls.h"
#include "handleapi.h"
#include "namedpipeapi.h"
#include "processthreadsapi.h"
