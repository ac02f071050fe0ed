// The in-process classes of the WMI stand-in, registered with the COM runtime in every process that links
// the WMI library (a static registrar runs before main):
//   CLSID_WbemLocator                      the locator: connects to the instrumentation service of the root
//   CLSID_WbemContext                      IWbemContext, a set of named values (also its unmarshal class)
//   CLSID_WbemDecoupledBasicEventProvider  the decoupled event provider a provider process fires events with
//   CLSID_QvWbemObjectUnmarshal            rebuilds an IWbemClassObject that crossed processes by value
//
// WMI objects and contexts implement IMarshal: they travel between processes by value (the object codec's
// bytes), so Indicate, GetObject results and method parameters arrive as local objects.
#pragma once

#include "wbemprov.h"

#include <string>

namespace qv::wbem {

// {B7E3C1D2-5A4F-4E0B-8C61-0D2F9A7B3E51}
DEFINE_GUID(CLSID_QvWbemObjectUnmarshal, 0xb7e3c1d2, 0x5a4f, 0x4e0b, 0x8c, 0x61, 0x0d, 0x2f, 0x9a, 0x7b, 0x3e, 0x51);
// The instrumentation service's own class: a local server ("winmgmt") whose objects are IWbemLocator.
// {B7E3C1D2-5A4F-4E0B-8C61-0D2F9A7B3E52}
DEFINE_GUID(CLSID_QvWbemService, 0xb7e3c1d2, 0x5a4f, 0x4e0b, 0x8c, 0x61, 0x0d, 0x2f, 0x9a, 0x7b, 0x3e, 0x52);

// Registers the classes above (again); the static registrar already did so. Returns the first failure.
HRESULT RegisterWbemPlatformClasses();

// A new, empty context (reference count 1).
IWbemContext* CreateWbemContext();

// The program the locator starts as the service: $QV_WBEM_SERVICE when set, else "winmgmt" beside the
// running program, else "../bin/winmgmt" from it (test programs live in build/tests).
std::string ServiceProgram();

}  // namespace qv::wbem
