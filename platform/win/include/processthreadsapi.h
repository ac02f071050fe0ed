// Thread identity.
#pragma once

#include "windef.h"

// The kernel's identifier of the calling thread; unique among the live threads of the system.
DWORD GetCurrentThreadId();
