// The system's COM registrar: applies registry scripts written in the ATL registrar syntax.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {D7B353ED-...} = s 'BIOSInterface Class'
//           {
//               LocalServer32 = s '%MODULE%'
//               val AppID = s '%APPID%'
//           }
//       }
//   }
//
// Registration creates every key and sets every value (s text, d number, b hex bytes, m multi-text); a key
// marked ForceRemove is deleted with everything below it first, a key marked Delete is only deleted.
// Removal deletes every key of the script with its whole subtree, except keys marked NoRemove, whose own
// content is handled the same way, and deletes the values named with val. %NAME% is replaced by the text of
// a replacement added with AddReplacement (%% is a single %). Root keys: HKCR, HKLM, HKCU, HKU and their long
// names. A script with a syntax error changes nothing (DISP_E_EXCEPTION).
#pragma once

#include "objbase.h"

// {44EC053A-400F-11D0-9DCD-00A0C90391D3}
DEFINE_GUID(CLSID_Registrar, 0x44ec053a, 0x400f, 0x11d0, 0x9d, 0xcd, 0x00, 0xa0, 0xc9, 0x03, 0x91, 0xd3);
// {44EC053B-400F-11D0-9DCD-00A0C90391D3}
DEFINE_GUID(IID_IRegistrar, 0x44ec053b, 0x400f, 0x11d0, 0x9d, 0xcd, 0x00, 0xa0, 0xc9, 0x03, 0x91, 0xd3);

struct IRegistrar : IUnknown {
    STDMETHOD(AddReplacement)(LPCOLESTR key, LPCOLESTR item) = 0;
    STDMETHOD(ClearReplacements)() = 0;
    // Script from a module's resource: file name of the module, resource name (or "#id") and type (usually
    // "REGISTRY"). The resource is text in the ANSI code page, or UTF-16LE with a byte-order mark.
    STDMETHOD(ResourceRegisterSz)(LPCOLESTR resourceFile, LPCOLESTR id, LPCOLESTR type) = 0;
    STDMETHOD(ResourceUnregisterSz)(LPCOLESTR resourceFile, LPCOLESTR id, LPCOLESTR type) = 0;
    STDMETHOD(FileRegister)(LPCOLESTR fileName) = 0;
    STDMETHOD(FileUnregister)(LPCOLESTR fileName) = 0;
    STDMETHOD(StringRegister)(LPCOLESTR script) = 0;
    STDMETHOD(StringUnregister)(LPCOLESTR script) = 0;
    STDMETHOD(ResourceRegister)(LPCOLESTR resourceFile, UINT id, LPCOLESTR type) = 0;
    STDMETHOD(ResourceUnregister)(LPCOLESTR resourceFile, UINT id, LPCOLESTR type) = 0;

protected:
    ~IRegistrar() = default;
};
