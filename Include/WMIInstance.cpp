#include "WMIInstance.h"

#include "WMIException.h"

WMIInstance::WMIInstance(const WMIRequest& request) : WMIInstance(request, request.ClassName()) {}

WMIInstance::WMIInstance(const WMIRequest& request, LPCWSTR className) {
    context_ = request.Context();
    sink_ = request.Sink();
    Create(request.Services(), request.Context(), className);
}

void WMIInstance::Create(IWbemServices* services, IWbemContext* context, LPCWSTR className) {
    services_ = services;
    if (services == nullptr) WMI_THROW(E_POINTER);
    Microsoft::WRL::ComPtr<IWbemClassObject> class_object;
    HRESULT hr = services->GetObject(CComBSTR(className != nullptr ? className : L""), 0, context,
                                     class_object.GetAddressOf(), nullptr);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!class_object) WMI_THROW(E_POINTER);
    Microsoft::WRL::ComPtr<IWbemClassObject> instance;
    hr = class_object->SpawnInstance(0, instance.GetAddressOf());
    if (FAILED(hr)) WMI_THROW(hr);
    if (!instance) WMI_THROW(E_POINTER);
    instance_ = instance;
}

void WMIInstance::Attach(IWbemClassObject* instance) {
    if (instance == nullptr) WMI_THROW(E_POINTER);
    instance_ = instance;
}

IWbemClassObject* WMIInstance::Require() const {
    if (!instance_) WMI_THROW(E_POINTER);
    return instance_.Get();
}

void WMIInstance::PutText(LPCWSTR name, LPCWSTR text) { PutOwnedText(name, SysAllocString(text)); }

void WMIInstance::PutOwnedText(LPCWSTR name, BSTR text) {
    CComVariant value;
    value.vt = VT_BSTR;
    value.bstrVal = text;  // the variant frees the text, also when the put fails
    HRESULT hr = instance_ ? instance_->Put(name, 0, &value, 0) : E_POINTER;
    if (FAILED(hr)) WMI_THROW(hr);
}

void WMIInstance::PutInt(LPCWSTR name, LONG number) {
    CComVariant value(number);
    WMI_THROW_IF_FAILED(Require()->Put(name, 0, &value, 0));
}

void WMIInstance::PutVariant(LPCWSTR name, const VARIANT& value) {
    IWbemClassObject* instance = Require();
    CComVariant copy;
    WMI_THROW_IF_FAILED(copy.Copy(&value));
    WMI_THROW_IF_FAILED(instance->Put(name, 0, &copy, 0));
}

void WMIInstance::PutRaw(LPCWSTR name, VARIANT* value) {
    if (value == nullptr) WMI_THROW(E_INVALIDARG);
    WMI_THROW_IF_FAILED(Require()->Put(name, 0, value, 0));
}

CComVariant WMIInstance::Get(LPCWSTR name) {
    CComVariant value;
    WMI_THROW_IF_FAILED(Require()->Get(name, 0, &value, nullptr, nullptr));
    return value;
}

void WMIInstance::Indicate() {
    if (!services_ || !instance_ || !sink_) WMI_THROW(E_POINTER);
    IWbemClassObject* objects[] = {instance_.Get()};
    WMI_THROW_IF_FAILED(sink_->Indicate(1, objects));
}
