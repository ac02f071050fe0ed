// Finding a setting record by its full name, as setting instances name it: the instance-key texts, each
// followed by "\", then the setting's own name ("SATA 0\SATA Port"; a setting without a key is just its name).
#pragma once

#include "LibraryBinding.h"

// The record named `name` (ANSI) in the library's current records, or null. Each part is turned into its
// string identifier the way the library matches texts; a part without an identifier, more than four key
// parts, or a part longer than 99 bytes finds nothing. A null name finds nothing.
SRI* FindSettingRecord(LibraryBinding& library, const char* name);
