// Classes shared by the COM tests, the test server and the test client: the server's class and ProgIDs,
// and a small object that travels by value (IMarshal) the way WMI objects do.
#pragma once

#include "objbase.h"
#include "oaidl.h"
#include "wbemcli.h"

#include <string>

// {5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A11}
DEFINE_GUID(CLSID_QvTestServer, 0x5e1f0c3a, 0x7b2d, 0x4c61, 0x9a, 0x43, 0x2b, 0x8e, 0x6d, 0x0f, 0x1a, 0x11);
// {5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A12}
DEFINE_GUID(CLSID_QvTestValue, 0x5e1f0c3a, 0x7b2d, 0x4c61, 0x9a, 0x43, 0x2b, 0x8e, 0x6d, 0x0f, 0x1a, 0x12);
// {5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A13}: registered with a server that never announces its class object.
DEFINE_GUID(CLSID_QvSilentServer, 0x5e1f0c3a, 0x7b2d, 0x4c61, 0x9a, 0x43, 0x2b, 0x8e, 0x6d, 0x0f, 0x1a, 0x13);

// Dispatch identifiers of the test server's automation methods.
enum TestDispId : DISPID {
    kDispAdd = 1,          // Add(a, b) -> a + b
    kDispEcho = 2,         // Echo(v) -> v
    kDispServerPid = 3,    // ServerPid() -> the server's process id
    kDispIdentity = 4,     // Identity() -> [caller, impersonated, after revert] user ids
    kDispFail = 5,         // Fail() -> DISP_E_EXCEPTION with a description
    kDispOnMainThread = 6  // OnMainThread() -> true when served on the server's message-loop thread
};

// A WMI-like object with an index and a name that marshals itself by value.
IWbemClassObject* NewTestValue(LONG index, const std::wstring& name);
// Registers CLSID_QvTestValue as an in-process class (the unmarshaler of test values).
void RegisterTestValueClass();
// Reads a test value's fields through IWbemClassObject::Get("Index"/"Name").
bool ReadTestValue(IWbemClassObject* object, LONG* index, std::wstring* name);

// The registry script that registers the test server (replacements MODULE and SILENT).
extern const wchar_t kTestServerScript[];
