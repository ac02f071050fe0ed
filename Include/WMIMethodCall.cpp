#include "WMIMethodCall.h"

#include "WMIException.h"

WMIMethodCall::WMIMethodCall(const WMIRequest& request, LPCWSTR methodName, IWbemClassObject* inParams)
    : context_(request.Context()), sink_(request.Sink()), services_(request.Services()), in_params_(inParams) {
    if (!services_) WMI_THROW(E_POINTER);
    Microsoft::WRL::ComPtr<IWbemClassObject> class_object;
    HRESULT hr = services_->GetObject(request.ClassName(), 0, request.Context(), class_object.GetAddressOf(), nullptr);
    if (FAILED(hr)) WMI_THROW(hr);
    if (!class_object) WMI_THROW(E_POINTER);

    Microsoft::WRL::ComPtr<IWbemClassObject> out_signature;
    hr = class_object->GetMethod(methodName, 0, nullptr, out_signature.GetAddressOf());
    if (FAILED(hr)) WMI_THROW(hr);
    if (!out_signature) WMI_THROW(WBEM_E_INVALID_METHOD_PARAMETERS);

    hr = out_signature->SpawnInstance(0, out_params_.GetAddressOf());
    if (FAILED(hr)) WMI_THROW(hr);
    if (!out_params_) WMI_THROW(E_POINTER);
}

CComVariant WMIMethodCall::GetInParam(LPCWSTR name) {
    if (!in_params_) WMI_THROW(E_POINTER);
    CComVariant value;
    WMI_THROW_IF_FAILED(in_params_->Get(name, 0, &value, nullptr, nullptr));
    return value;
}

void WMIMethodCall::PutOutParam(LPCWSTR name, LONG number) {
    if (!out_params_) WMI_THROW(E_POINTER);
    CComVariant value(number);
    WMI_THROW_IF_FAILED(out_params_->Put(name, 0, &value, 0));
}

void WMIMethodCall::IndicateOut() {
    if (!out_params_ || !sink_) WMI_THROW(E_POINTER);
    IWbemClassObject* objects[] = {out_params_.Get()};
    WMI_THROW_IF_FAILED(sink_->Indicate(1, objects));
}
