// The configuration events the provider raises as instances of QV_BIOSConfigurationEvent through its
// decoupled event source: a setting changed, the defaults restored, a wrong setup password given.
#pragma once

#include "WMIEventSource.h"

enum class ConfigurationEvent { kNone, kChange, kReset, kSecurity };

// Builds and fires one event when the source holds an event sink (nothing is built otherwise). `setting` is
// the change event's Description: the Name argument of the call. A failure while building the event is thrown
// (E_OUTOFMEMORY, or the failing store's code).
void RaiseConfigurationEvent(WMIEventSource& source, ConfigurationEvent event, LPCWSTR setting = nullptr);
