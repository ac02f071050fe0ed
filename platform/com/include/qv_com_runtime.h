// What the emulated COM runtime offers beyond Windows' own calls: the table of in-process classes that the
// platform itself provides, and who the current thread acts for.
#pragma once

#include "objbase.h"

#include <sys/types.h>

#include <vector>

namespace qv::com {

// Adds an in-process class: CoCreateInstance/CoGetClassObject with CLSCTX_INPROC_SERVER find `factory`
// (one reference is held for the life of the process). A second registration of the same CLSID replaces
// the first. Returns E_POINTER for a null factory.
HRESULT RegisterPlatformClass(REFCLSID clsid, IClassFactory* factory);
// Removes it again (tests); S_FALSE when the class was not registered.
HRESULT UnregisterPlatformClass(REFCLSID clsid);

// The user id the calling thread acts for: the calling client's while it impersonates during a served call,
// otherwise the process's own effective user id.
uid_t ThreadIdentity();
// The user id of the client whose call this thread is serving, or the process's own outside a served call.
uid_t CallerIdentity();

// Who a process is, as the kernel vouches for a connection's peer (taken when the connection was made).
struct CallerCredentials {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups
};
// The credentials of the client whose call this thread is serving, or the process's own outside a served call.
CallerCredentials CurrentCaller();

// By default a server admits calls only from its own user and root. A server that decides per call who may do
// what (the instrumentation service) admits every local user instead; call before registering class objects.
void AdmitEveryLocalUser();

}  // namespace qv::com
