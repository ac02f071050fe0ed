// The connection the detection and removal steps use: the WMI locator (CLSID_WbemLocator, CLSCTX_ALL) ->
// ConnectServer("\\.\root\QV\InstrumentedBIOS", no user, password, locale, authority or context) ->
// CoSetProxyBlanket(default authentication, no authorisation, no principal, RPC_C_AUTHN_LEVEL_CALL,
// RPC_C_IMP_LEVEL_IMPERSONATE, no identity, EOAC_NONE).
#pragma once

#include "wbemcli.h"
#include "wrl/client.h"

// A connected namespace, or null. A locator that cannot be created
// or a connection that fails is traced ("Unable to connect to root\QV\InstrumentedBIOS: 0x%08X\n") and gives
// null without touching WMI further; a failing CoSetProxyBlanket writes `blanketFailureFormat` with the code
// (one %08X) and gives null too.
Microsoft::WRL::ComPtr<IWbemServices> ConnectInstrumentedBios(LPCWSTR blanketFailureFormat);
