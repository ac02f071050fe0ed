// Resource identifiers of vrxBIOS.
#pragma once

// Registry scripts (type "REGISTRY").
#define IDR_APPID 100
#define IDR_BIOSINTERFACE 101
// Files written to the working folder (type "BINARY").
#define IDR_ZMRMC_LIBRARY 102  // the settings library, written as "ZMRMC.DLL"
#define IDR_COMMON_MOF 103
#define IDR_FWPROV_MOF 104
#define IDR_SWPROV_MOF 105
// String table.
#define IDS_OLE_INIT_FAILED 201
#define IDS_NT_REQUIRED 202
#define IDS_NO_64BIT 203
#define IDS_SECURITY_FAILED 204
#define IDS_CONFIRM_UNINSTALL 205
#define IDS_CONFIRM_NATIVE_UNINSTALL 206
