// The process's table of interface descriptions (qv_com_interfaces.h).
#pragma once

#include "qv_com_interfaces.h"

namespace qv::com {

// The description of an interface, or null when it cannot cross processes.
const InterfaceSpec* FindInterface(REFGUID iid);

}  // namespace qv::com
