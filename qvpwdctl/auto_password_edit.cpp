#include "auto_password_edit.h"

#include "resource.h"
#include "trace.h"
#include "windows.h"

#include <cwctype>
#include <new>

#ifndef DISP_E_NONAMEDARGS
#define DISP_E_NONAMEDARGS static_cast<HRESULT>(0x80020007L)
#endif

namespace qvpwdctl {
namespace {

std::wstring LoadText(UINT id) {
    wchar_t text[256] = {};
    LoadStringW(GetModuleHandleW(nullptr), id, text, 256);
    return text;
}

bool SameName(const wchar_t* a, const wchar_t* b) {
    for (; *a != 0 && *b != 0; ++a, ++b)
        if (std::towlower(*a) != std::towlower(*b)) return false;
    return *a == *b;
}

}  // namespace

CAutoPasswordEdit::CAutoPasswordEdit(PasswordDialogRunner runner, ServerLocks* locks)
    : runner_(std::move(runner)), locks_(locks) {
    if (locks_ != nullptr) locks_->Lock();
}

CAutoPasswordEdit::~CAutoPasswordEdit() {
    if (locks_ != nullptr) locks_->Unlock();
}

void* CAutoPasswordEdit::FindOther(REFIID riid) {
    return IsEqualGUID(riid, IID_IAutoPasswordEdit) ? static_cast<IDispatch*>(this) : nullptr;
}

HRESULT CAutoPasswordEdit::Fail(HRESULT code, UINT textId) {
    std::wstring text = LoadText(textId);
    ICreateErrorInfo* created = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&created))) {
        created->SetGUID(IID_IAutoPasswordEdit);
        created->SetSource(const_cast<LPOLESTR>(kProgId));
        created->SetDescription(text.data());
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(created->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        created->Release();
    }
    Trace(L"GetPassword failed (0x%08X): %ls", static_cast<unsigned>(code), text.c_str());
    return code;
}

HRESULT CAutoPasswordEdit::GetPassword(const VARIANT& prompt, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    SetErrorInfo(0, nullptr);
    try {
        VARIANT text;
        VariantInit(&text);
        HRESULT hr = VariantChangeType(&text, &prompt, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
        std::wstring given(text.bstrVal != nullptr ? text.bstrVal : L"", SysStringLen(text.bstrVal));
        VariantClear(&text);
        std::wstring answer = runner_(given);
        BSTR result = SysAllocStringLen(answer.data(), static_cast<UINT>(answer.size()));
        for (auto& c : answer) c = 0;
        if (result == nullptr) throw std::bad_alloc();
        value->vt = VT_BSTR;
        value->bstrVal = result;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, IDS_OUT_OF_MEMORY);
    } catch (...) {
        return Fail(E_UNEXPECTED, IDS_INTERNAL_ERROR);
    }
}

STDMETHODIMP CAutoPasswordEdit::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CAutoPasswordEdit::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CAutoPasswordEdit::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        // The first name is the method; the rest would name its parameters.
        bool known = i == 0 && names[0] != nullptr && SameName(names[0], L"GetPassword");
        bool parameter = i == 1 && known && names[1] != nullptr && SameName(names[1], L"varPrompt");
        ids[i] = known && i == 0 ? kDispGetPassword : parameter ? 0 : DISPID_UNKNOWN;
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP CAutoPasswordEdit::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO* exception, UINT* argumentError) {
    if (member != kDispGetPassword) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT value;
    HRESULT hr = GetPassword(params->rgvarg[0], &value);
    if (hr == DISP_E_TYPEMISMATCH) {
        if (argumentError != nullptr) *argumentError = 0;
        return hr;
    }
    if (FAILED(hr)) {
        IErrorInfo* info = nullptr;
        if (exception == nullptr || GetErrorInfo(0, &info) != S_OK) return hr;
        *exception = EXCEPINFO{};
        exception->scode = hr;
        info->GetSource(&exception->bstrSource);
        info->GetDescription(&exception->bstrDescription);
        info->Release();
        return DISP_E_EXCEPTION;
    }
    if (result != nullptr)
        *result = value;
    else
        VariantClear(&value);
    return S_OK;
}

STDMETHODIMP CAutoPasswordEdit::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualGUID(riid, IID_IAutoPasswordEdit) ? S_OK : S_FALSE;
}

STDMETHODIMP PasswordEditFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) CAutoPasswordEdit(runner_, locks_);
    if (created == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

STDMETHODIMP PasswordEditFactory::LockServer(BOOL lock) {
    if (locks_ != nullptr) lock ? locks_->Lock() : locks_->Unlock();
    return S_OK;
}

}  // namespace qvpwdctl
