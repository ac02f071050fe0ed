// RPC run-time helpers: UUID creation and text form.
#pragma once

#include "windef.h"
#include "guiddef.h"

typedef GUID UUID;
typedef LONG RPC_STATUS;
typedef WCHAR* RPC_WSTR;
typedef unsigned char* RPC_CSTR;

#define RPC_S_OK 0L
#define RPC_S_UUID_LOCAL_ONLY 1824L
#define RPC_S_OUT_OF_MEMORY 14L
#define RPC_S_INVALID_ARG 87L

// A version-1 UUID that sorts after every earlier one of this process: time-based, with a per-process random
// node and clock sequence. Returns RPC_S_UUID_LOCAL_ONLY, as Windows does when no network address is used.
RPC_STATUS UuidCreateSequential(UUID* uuid);
// Lower-case text without braces ("a1b2c3d4-..."); free the text with RpcStringFree.
RPC_STATUS UuidToStringW(const UUID* uuid, RPC_WSTR* text);
RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* text);
RPC_STATUS RpcStringFreeW(RPC_WSTR* text);
RPC_STATUS RpcStringFreeA(RPC_CSTR* text);
