#include "SecretText.h"

#include "WMIException.h"
#include "atlbase.h"
#include "WMIMethodCall.h"

SecretText::SecretText(const VARIANT& value) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return;
    if (value.vt != VT_BSTR) WMI_THROW(E_INVALIDARG);
    int wide = static_cast<int>(SysStringLen(value.bstrVal));
    int size = wide > 0 ? WideCharToMultiByte(CP_ACP, 0, value.bstrVal, wide, nullptr, 0, nullptr, nullptr) : 0;
    if (wide > 0 && size <= 0) WMI_THROW(E_INVALIDARG);
    bytes_.reset(new char[static_cast<size_t>(size) + 1]());
    length_ = static_cast<size_t>(size);
    BOOL usedDefault = FALSE;
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, value.bstrVal, wide, bytes_.get(), size, nullptr, &usedDefault);
    lossy_ = usedDefault != FALSE;
}

SecretText::SecretText(const char* text) {
    if (text == nullptr) return;
    length_ = std::strlen(text);
    bytes_.reset(new char[length_ + 1]());
    std::memcpy(bytes_.get(), text, length_);
}

SecretText ReadTextParameter(WMIMethodCall& call, LPCWSTR name) {
    CComVariant value = call.GetInParam(name);
    // Whatever the conversion gives, the parameter's wide copy is cleared before the holder frees it.
    struct Cleared {
        VARIANT& v;
        ~Cleared() {
            if (v.vt == VT_BSTR && v.bstrVal != nullptr) SecureZeroMemory(v.bstrVal, SysStringByteLen(v.bstrVal));
        }
    } cleared{value};
    return SecretText(value);
}
