// The COM registration of qvpwdctl: the class script (resource REGISTRY 101: the ProgIDs
// "qvPwdCtl.PasswordEdit" and "qvPwdCtl.PasswordEdit.1", the class with this program as its local server)
// applied through the system's registrar with MODULE set to the program's path, and the type library of the
// program's own resource TYPELIB 1, whose library identifier must be qvPwdCtl's.
#pragma once

#include "windows.h"

// Registers from the resources of the program at modulePath. A type library that cannot be loaded or is
// not qvPwdCtl's (TYPE_E_INVDATAREAD) stops it before anything is written; otherwise the first failure.
HRESULT RegisterPasswordEditServer(LPCWSTR modulePath);
// Removes both registrations. Tries every step; returns the first failure, or S_OK.
HRESULT UnregisterPasswordEditServer(LPCWSTR modulePath);
