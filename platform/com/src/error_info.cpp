// Error objects and the calling thread's slot for the last one.

#include "oaidl.h"
#include "qv_com_object.h"

#include <string>

QV_COM_INTERFACE_ID(IErrorInfo, IUnknown, IID_IErrorInfo);
QV_COM_INTERFACE_ID(ICreateErrorInfo, IUnknown, IID_ICreateErrorInfo);

namespace {

class ErrorInfo final : public qv::com::Object<IErrorInfo, ICreateErrorInfo> {
public:
    STDMETHODIMP GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    STDMETHODIMP GetSource(BSTR* source) override { return Give(source_, source); }
    STDMETHODIMP GetDescription(BSTR* description) override { return Give(description_, description); }
    STDMETHODIMP GetHelpFile(BSTR* helpFile) override { return Give(help_file_, helpFile); }
    STDMETHODIMP GetHelpContext(DWORD* helpContext) override {
        if (helpContext == nullptr) return E_INVALIDARG;
        *helpContext = help_context_;
        return S_OK;
    }

    STDMETHODIMP SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    STDMETHODIMP SetSource(LPOLESTR source) override { return Take(source, &source_); }
    STDMETHODIMP SetDescription(LPOLESTR description) override { return Take(description, &description_); }
    STDMETHODIMP SetHelpFile(LPOLESTR helpFile) override { return Take(helpFile, &help_file_); }
    STDMETHODIMP SetHelpContext(DWORD helpContext) override {
        help_context_ = helpContext;
        return S_OK;
    }

private:
    ~ErrorInfo() override = default;

    static HRESULT Give(const std::wstring& text, BSTR* out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = SysAllocString(text.c_str());
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Take(LPCOLESTR text, std::wstring* into) {
        into->assign(text != nullptr ? text : L"");
        return S_OK;
    }

    GUID guid_{};
    std::wstring source_, description_, help_file_;
    DWORD help_context_ = 0;
};

// The thread's error object; released when it is replaced, taken or the thread ends.
struct Slot {
    IErrorInfo* info = nullptr;
    ~Slot() {
        if (info != nullptr) info->Release();
    }
};
thread_local Slot slot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** created) {
    if (created == nullptr) return E_INVALIDARG;
    *created = static_cast<ICreateErrorInfo*>(new ErrorInfo());
    return S_OK;
}

HRESULT SetErrorInfo(DWORD, IErrorInfo* info) {
    if (info != nullptr) info->AddRef();
    if (slot.info != nullptr) slot.info->Release();
    slot.info = info;
    return S_OK;
}

HRESULT GetErrorInfo(DWORD, IErrorInfo** info) {
    if (info == nullptr) return E_INVALIDARG;
    *info = slot.info;
    slot.info = nullptr;
    return *info != nullptr ? S_OK : S_FALSE;
}
