// One event under construction: a WMIInstance made from the decoupled provider's own services (its context
// and response sink stay null). WMIEventSource::CreateEvent gives it its instance; WMIEventSource::Fire
// delivers it. Without an instance every put throws E_POINTER.
#pragma once

#include "WMIInstance.h"

class WMIEventInstance : public WMIInstance {
public:
    WMIEventInstance() = default;

private:
    friend class WMIEventSource;
};
