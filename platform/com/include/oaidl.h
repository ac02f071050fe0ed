// IDispatch (late-bound automation calls) and the type-library interfaces the system registers.
#pragma once

#include "oleauto.h"
#include "unknwn.h"

typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef DWORD LCID;

#define DISPID_UNKNOWN (-1)
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

struct DISPPARAMS {
    VARIANTARG* rgvarg;  // arguments in reverse order, as on Windows
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT(STDAPICALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// {00020400-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
// {00020401-0000-0000-C000-000000000046}
DEFINE_GUID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
// {00020402-0000-0000-C000-000000000046}
DEFINE_GUID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct ITypeInfo;
struct ITypeComp;

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* count) = 0;
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** info) = 0;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) = 0;
    STDMETHOD(Invoke)(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) = 0;

protected:
    ~IDispatch() = default;
};
typedef IDispatch* LPDISPATCH;

enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };
enum TYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

struct ITypeLib : IUnknown {
    STDMETHOD_(UINT, GetTypeInfoCount)() = 0;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** info) = 0;
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* kind) = 0;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** info) = 0;
    STDMETHOD(GetLibAttr)(TLIBATTR** attributes) = 0;
    STDMETHOD(GetTypeComp)(ITypeComp** comp) = 0;
    STDMETHOD(GetDocumentation)(INT index, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) = 0;
    STDMETHOD(IsName)(LPOLESTR name, ULONG hash, BOOL* found) = 0;
    STDMETHOD(FindName)(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids, USHORT* found) = 0;
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* attributes) = 0;

protected:
    ~ITypeLib() = default;
};

// --- type libraries -------------------------------------------------------------------------------------------
// A type library on this platform is a text resource of type "TYPELIB" (or a text file), one item per line:
//   library <name> {LIBID} <major>.<minor> [<lcid>]
//   interface <name> {IID} [dispatch]
//   coclass <name> {CLSID}
// Blank lines and lines starting with '#' are ignored. LoadTypeLibEx takes a file (a module: its TYPELIB
// resource 1) or "<module>\<n>" for resource n. Registration records the library under
// HKCR\TypeLib\{LIBID}\<major>.<minor> (name, "<lcid>\win32" = path, FLAGS, HELPDIR) and each interface
// under HKCR\Interface\{IID} (name, ProxyStubClsid32, TypeLib with Version); unregistration removes them.
enum REGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER = 1, REGKIND_NONE = 2 };
#define TYPE_E_REGISTRYACCESS static_cast<HRESULT>(0x8002801CL)
#define TYPE_E_INVDATAREAD static_cast<HRESULT>(0x80028018L)

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** library);
HRESULT LoadTypeLibEx(LPCOLESTR file, REGKIND kind, ITypeLib** library);
HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, SYSKIND kind);

// --- error information ----------------------------------------------------------------------------------------
// The error object a method leaves for its caller: CreateErrorInfo makes one, the method fills it through
// ICreateErrorInfo and hands it to SetErrorInfo; the caller takes it with GetErrorInfo (once: the thread's slot
// is cleared). An object tells with ISupportErrorInfo which of its interfaces leave error objects. Error
// objects stay in their process: across processes IDispatch::Invoke carries the same texts in its EXCEPINFO.
// {1CF2B120-547D-101B-8E65-08002B2BD119}
DEFINE_GUID(IID_IErrorInfo, 0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
// {22F03340-547D-101B-8E65-08002B2BD119}
DEFINE_GUID(IID_ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
// {DF0B3D60-548F-101B-8E65-08002B2BD119}
DEFINE_GUID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);

struct IErrorInfo : IUnknown {
    STDMETHOD(GetGUID)(GUID* guid) = 0;
    STDMETHOD(GetSource)(BSTR* source) = 0;
    STDMETHOD(GetDescription)(BSTR* description) = 0;
    STDMETHOD(GetHelpFile)(BSTR* helpFile) = 0;
    STDMETHOD(GetHelpContext)(DWORD* helpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    STDMETHOD(SetGUID)(REFGUID guid) = 0;
    STDMETHOD(SetSource)(LPOLESTR source) = 0;
    STDMETHOD(SetDescription)(LPOLESTR description) = 0;
    STDMETHOD(SetHelpFile)(LPOLESTR helpFile) = 0;
    STDMETHOD(SetHelpContext)(DWORD helpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    // S_OK when the interface iid leaves error objects, S_FALSE otherwise.
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

HRESULT CreateErrorInfo(ICreateErrorInfo** created);
// Replaces the calling thread's error object (null clears it); the thread holds one reference.
HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info);
// Hands the thread's error object over to the caller: S_OK with it, S_FALSE (and null) when there is none.
HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info);
