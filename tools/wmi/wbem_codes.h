// Names of the result codes a WMI client meets, for messages ("WBEM_E_NOT_FOUND (0x80041002)").
#pragma once

#include "wbemcli.h"

#include <string>

namespace qv::wmi {

// The code's symbolic name, or "" when it has none here.
const char* CodeName(HRESULT code);
// "NAME (0x8004xxxx)", or just the hexadecimal value for codes without a name.
std::string DescribeCode(HRESULT code);

}  // namespace qv::wmi
