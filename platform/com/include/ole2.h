// OLE: initialisation of a single-threaded apartment.
#pragma once

#include "objbase.h"
#include "oleauto.h"
