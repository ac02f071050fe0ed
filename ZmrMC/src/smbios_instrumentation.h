// The SMBIOS store's first source: the operating system's class MSSmBios_RawSMBiosTables in "\\.\root\WMI".
#pragma once

#include "smbios_store.h"

namespace zmrmc {

// Initialises COM on the calling thread for the duration, connects, queries the class and fills `tables` from
// the last object returned (version bytes, Size and SMBiosData; a null property is skipped, and the copy is
// Size bytes long: SMBiosData cut or zero-filled to that length). False when nothing usable came back.
bool ReadRawSmbiosTables(RawSmbiosTables* tables);

}  // namespace zmrmc
