// CAutoPasswordEdit: the automation object of "qvPwdCtl.PasswordEdit". Its dispatch interface
// IAutoPasswordEdit has one method, GetPassword (dispatch identifier 1): it shows the compact password dialog
// with the prompt and returns the encoding of the keys typed ("<kbd/>1E30"), or an empty text when the user
// cancelled or typed nothing. A failure while the dialog runs is answered with E_OUTOFMEMORY (string 61706)
// or E_UNEXPECTED (string 61704), with an error object naming IAutoPasswordEdit; through IDispatch::Invoke the
// same as DISP_E_EXCEPTION with the code and text in the EXCEPINFO.
//
// Every object holds a lock on the server (ServerLocks), so the process lives while a client holds one.
#pragma once

#include "oaidl.h"
#include "qv_com_object.h"

#include <functional>
#include <string>

// {96BBFC9C-E3D8-48FE-95B6-24E0B96703B3}
DEFINE_GUID(LIBID_qvPwdCtl, 0x96BBFC9C, 0xE3D8, 0x48FE, 0x95, 0xB6, 0x24, 0xE0, 0xB9, 0x67, 0x03, 0xB3);
// {CB71391E-505A-4278-A16C-AC3B516C4A6C}
DEFINE_GUID(IID_IAutoPasswordEdit, 0xCB71391E, 0x505A, 0x4278, 0xA1, 0x6C, 0xAC, 0x3B, 0x51, 0x6C, 0x4A, 0x6C);
// {3BE691DD-D30E-4D30-A04A-C0A8A0F61976}
DEFINE_GUID(CLSID_PasswordEdit, 0x3BE691DD, 0xD30E, 0x4D30, 0xA0, 0x4A, 0xC0, 0xA8, 0xA0, 0xF6, 0x19, 0x76);

QV_COM_INTERFACE_ID(ISupportErrorInfo, IUnknown, IID_ISupportErrorInfo);

namespace qvpwdctl {

constexpr DISPID kDispGetPassword = 1;
constexpr const wchar_t* kProgId = L"qvPwdCtl.PasswordEdit";

// Shows the compact dialog with the prompt given (not yet trimmed) and returns the dialog's answer. It may
// throw: std::bad_alloc for memory, anything else for any other failure.
using PasswordDialogRunner = std::function<std::wstring(const std::wstring& prompt)>;

// Locks that keep the server process alive.
class ServerLocks {
public:
    virtual ~ServerLocks() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

class CAutoPasswordEdit final : public qv::com::Object<IDispatch, ISupportErrorInfo> {
public:
    CAutoPasswordEdit(PasswordDialogRunner runner, ServerLocks* locks);

    // The method itself: `value` receives a VT_BSTR.
    HRESULT GetPassword(const VARIANT& prompt, VARIANT* value);

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // The dispatch interface is IDispatch itself.
    void* FindOther(REFIID riid) override;

private:
    ~CAutoPasswordEdit() override;
    HRESULT Fail(HRESULT code, UINT textId);

    PasswordDialogRunner runner_;
    ServerLocks* locks_;
};

// The class object: one for the process, a new object on every CreateInstance.
class PasswordEditFactory final : public qv::com::UncountedObject<IClassFactory> {
public:
    PasswordEditFactory(PasswordDialogRunner runner, ServerLocks* locks) : runner_(std::move(runner)), locks_(locks) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    PasswordDialogRunner runner_;
    ServerLocks* locks_;
};

}  // namespace qvpwdctl
