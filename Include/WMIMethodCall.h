// One method execution: the input parameters WMI passed and the output parameters the handler fills.
// Failures throw HRESULTs (WMIException.h).
#pragma once

#include "WMIRequest.h"
#include "atlbase.h"
#include "oleauto.h"
#include "wbemcli.h"
#include "wrl/client.h"

class WMIMethodCall {
public:
    // Gets the request's class, its method's output signature and spawns the output parameters; each failure
    // throws its code. A method without an output signature throws WBEM_E_INVALID_METHOD_PARAMETERS.
    WMIMethodCall(const WMIRequest& request, LPCWSTR methodName, IWbemClassObject* inParams);
    WMIMethodCall(const WMIMethodCall&) = delete;
    WMIMethodCall& operator=(const WMIMethodCall&) = delete;

    // An input parameter; E_POINTER without input parameters.
    CComVariant GetInParam(LPCWSTR name);
    // Stores a VT_I4 output parameter; E_POINTER without output parameters.
    void PutOutParam(LPCWSTR name, LONG value);
    // Sends the output parameters to the response sink.
    void IndicateOut();

    IWbemClassObject* OutParams() const { return out_params_.Get(); }

private:
    Microsoft::WRL::ComPtr<IWbemContext> context_;
    Microsoft::WRL::ComPtr<IWbemObjectSink> sink_;
    Microsoft::WRL::ComPtr<IWbemServices> services_;
    Microsoft::WRL::ComPtr<IWbemClassObject> in_params_;
    Microsoft::WRL::ComPtr<IWbemClassObject> out_params_;
};
