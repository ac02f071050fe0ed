#include "qvpwdctl_client.h"

#include "oaidl.h"
#include "objbase.h"
#include "oleauto.h"
#include "password_dialog.h"
#include "terminal_password_prompt.h"

#include <unistd.h>

#include <cstdlib>

namespace qvpwdctl {
namespace {

constexpr const wchar_t* kProgId = L"qvPwdCtl.PasswordEdit";

HRESULT Call(IDispatch* control, const std::wstring& prompt, std::wstring* encoding, std::wstring* error) {
    DISPID id = DISPID_UNKNOWN;
    wchar_t name[] = L"GetPassword";
    LPOLESTR names[] = {name};
    HRESULT hr = control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocStringLen(prompt.data(), static_cast<UINT>(prompt.size()));
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT bad_argument = 0;
    hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception,
                         &bad_argument);
    VariantClear(&argument);
    if (hr == DISP_E_EXCEPTION) {
        hr = exception.scode;
        if (exception.bstrDescription != nullptr) error->assign(exception.bstrDescription);
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (SUCCEEDED(hr)) {
        VARIANT text;
        VariantInit(&text);
        hr = VariantChangeType(&text, &result, 0, VT_BSTR);
        if (SUCCEEDED(hr)) encoding->assign(text.bstrVal != nullptr ? text.bstrVal : L"", SysStringLen(text.bstrVal));
        VariantClear(&text);
    }
    VariantClear(&result);
    return hr;
}

}  // namespace

HRESULT GetPasswordThroughControl(const std::wstring& prompt, std::wstring* encoding, std::wstring* error) {
    if (encoding == nullptr || error == nullptr) return E_POINTER;
    encoding->clear();
    error->clear();
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    IDispatch* control = nullptr;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr)) hr = Call(control, prompt, encoding, error);
    if (control != nullptr) control->Release();
    if (SUCCEEDED(init)) CoUninitialize();
    return hr;
}

HRESULT ObtainPassword(const std::wstring& prompt, std::wstring* encoding, std::wstring* error) {
    if (encoding == nullptr || error == nullptr) return E_POINTER;
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && display[0] != '\0') return GetPasswordThroughControl(prompt, encoding, error);
    encoding->clear();
    error->clear();
    auto typed = RunTerminalPasswordPrompt(STDIN_FILENO, STDERR_FILENO,
                                           {L"", DialogPrompt(prompt, L"Please enter the appropriate password:")});
    if (!typed) {
        *error = L"No display and no terminal to ask for the password on.";
        return E_FAIL;
    }
    *encoding = *typed;
    return S_OK;
}

}  // namespace qvpwdctl
