#include "WMIInstance.h"

#include "WMIException.h"

WMIInstance::WMIInstance(const WMIRequest& request) : WMIInstance(request, request.ClassName()) {}

WMIInstance::WMIInstance(const WMIRequest& request, LPCWSTR className) {
    context_.Reset(request.Context());
    sink_.Reset(request.Sink());
    Create(request.Services(), request.Context(), className);
}

void WMIInstance::Create(IWbemServices* services, IWbemContext* context, LPCWSTR className) {
    services_.Reset(services);
    if (services == nullptr) WMI_THROW(E_POINTER);
    BSTR name = SysAllocString(className != nullptr ? className : L"");
    IWbemClassObject* cls = nullptr;
    HRESULT hr = services->GetObject(name, 0, context, &cls, nullptr);
    SysFreeString(name);
    WMIComPtr<IWbemClassObject> class_object;
    class_object.Adopt(cls);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!class_object) WMI_THROW(E_POINTER);
    IWbemClassObject* spawned = nullptr;
    hr = class_object->SpawnInstance(0, &spawned);
    WMIComPtr<IWbemClassObject> instance;
    instance.Adopt(spawned);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!instance) WMI_THROW(E_POINTER);
    instance_ = instance;
}

void WMIInstance::Attach(IWbemClassObject* instance) {
    if (instance == nullptr) WMI_THROW(E_POINTER);
    instance_.Reset(instance);
}

IWbemClassObject* WMIInstance::Require() const {
    if (!instance_) WMI_THROW(E_POINTER);
    return instance_.Get();
}

void WMIInstance::PutText(LPCWSTR name, LPCWSTR text) { PutOwnedText(name, SysAllocString(text)); }

void WMIInstance::PutOwnedText(LPCWSTR name, BSTR text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text;
    HRESULT hr = instance_ ? instance_->Put(name, 0, &value, 0) : E_POINTER;
    SysFreeString(text);
    if (FAILED(hr)) WMI_THROW(hr);
}

void WMIInstance::PutInt(LPCWSTR name, LONG number) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    WMI_THROW_IF_FAILED(Require()->Put(name, 0, &value, 0));
}

void WMIInstance::PutVariant(LPCWSTR name, const VARIANT& value) {
    IWbemClassObject* instance = Require();
    VARIANT copy;
    VariantInit(&copy);
    WMI_THROW_IF_FAILED(VariantCopy(&copy, &value));
    HRESULT hr = instance->Put(name, 0, &copy, 0);
    VariantClear(&copy);
    if (FAILED(hr)) WMI_THROW(hr);
}

void WMIInstance::PutRaw(LPCWSTR name, VARIANT* value) {
    if (value == nullptr) WMI_THROW(E_INVALIDARG);
    WMI_THROW_IF_FAILED(Require()->Put(name, 0, value, 0));
}

VARIANT WMIInstance::Get(LPCWSTR name) {
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = Require()->Get(name, 0, &value, nullptr, nullptr);
    if (FAILED(hr)) {
        VariantClear(&value);
        WMI_THROW(hr);
    }
    return value;
}

void WMIInstance::Indicate() {
    if (!services_ || !instance_ || !sink_) WMI_THROW(E_POINTER);
    IWbemClassObject* objects[] = {instance_.Get()};
    WMI_THROW_IF_FAILED(sink_->Indicate(1, objects));
}
