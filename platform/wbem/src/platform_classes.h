// Factories of the in-process WMI classes (see qv_wbem_classes.h).
#pragma once

#include "unknwn.h"

namespace qv::wbem {

IUnknown* CreateLocator();                 // locator.cpp
IUnknown* CreateDecoupledEventProvider();  // decoupled_provider.cpp

}  // namespace qv::wbem
