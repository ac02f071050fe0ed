#include "WMIMethodCall.h"

#include "WMIException.h"

WMIMethodCall::WMIMethodCall(const WMIRequest& request, LPCWSTR methodName, IWbemClassObject* inParams)
    : context_(request.Context()), sink_(request.Sink()), services_(request.Services()), in_params_(inParams) {
    if (!services_) WMI_THROW(E_POINTER);
    IWbemClassObject* cls = nullptr;
    HRESULT hr = services_->GetObject(request.ClassName(), 0, request.Context(), &cls, nullptr);
    WMIComPtr<IWbemClassObject> class_object;
    class_object.Adopt(cls);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!class_object) WMI_THROW(E_POINTER);

    IWbemClassObject* signature = nullptr;
    hr = class_object->GetMethod(methodName, 0, nullptr, &signature);
    WMIComPtr<IWbemClassObject> out_signature;
    out_signature.Adopt(signature);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!out_signature) WMI_THROW(WBEM_E_INVALID_METHOD_PARAMETERS);

    IWbemClassObject* spawned = nullptr;
    hr = out_signature->SpawnInstance(0, &spawned);
    out_params_.Adopt(spawned);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!out_params_) WMI_THROW(E_POINTER);
}

VARIANT WMIMethodCall::GetInParam(LPCWSTR name) {
    if (!in_params_) WMI_THROW(E_POINTER);
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = in_params_->Get(name, 0, &value, nullptr, nullptr);
    if (FAILED(hr)) {
        VariantClear(&value);
        WMI_THROW(hr);
    }
    return value;
}

void WMIMethodCall::PutOutParam(LPCWSTR name, LONG number) {
    if (!out_params_) WMI_THROW(E_POINTER);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    WMI_THROW_IF_FAILED(out_params_->Put(name, 0, &value, 0));
}

void WMIMethodCall::IndicateOut() {
    if (!out_params_ || !sink_) WMI_THROW(E_POINTER);
    IWbemClassObject* objects[] = {out_params_.Get()};
    WMI_THROW_IF_FAILED(sink_->Indicate(1, objects));
}
