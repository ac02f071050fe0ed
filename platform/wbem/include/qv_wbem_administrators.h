// Who administers an installation's instrumentation: root and the members of the group "qvadmins" (the
// built-in Administrators of Windows; local system is root). Only administrators may change the firmware
// through WMI (execute a provider's methods), subscribe to events whose provider's security descriptor admits
// administrators only, or change the schema (compile MOF, put or delete classes and instances). Everyone else
// may read what the schema lets them read.
#pragma once

#include "qv_com_runtime.h"

#include <sys/types.h>

namespace qv::wbem {

inline constexpr char kAdministratorsGroup[] = "qvadmins";

// Whether `user` is an administrator; `administrators` is the group's id (none: only root is one).
bool IsAdministrator(const qv::com::CallerCredentials& user, const gid_t* administrators);
// The same with the group as the system's group database names it now.
bool IsAdministrator(const qv::com::CallerCredentials& user);
// Whether the client whose call this thread serves (outside a served call: this process) is an administrator.
bool CallerIsAdministrator();

}  // namespace qv::wbem
