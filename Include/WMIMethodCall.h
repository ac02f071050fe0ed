// One method execution: the input parameters WMI passed and the output parameters the handler fills.
// Failures throw HRESULTs (WMIException.h).
#pragma once

#include "WMIComPtr.h"
#include "WMIRequest.h"
#include "oleauto.h"
#include "wbemcli.h"

class WMIMethodCall {
public:
    // Gets the request's class, its method's output signature and spawns the output parameters; each failure
    // throws its code. A method without an output signature throws WBEM_E_INVALID_METHOD_PARAMETERS.
    WMIMethodCall(const WMIRequest& request, LPCWSTR methodName, IWbemClassObject* inParams);
    WMIMethodCall(const WMIMethodCall&) = delete;
    WMIMethodCall& operator=(const WMIMethodCall&) = delete;

    // An input parameter (the caller owns the value); E_POINTER without input parameters.
    VARIANT GetInParam(LPCWSTR name);
    // Stores a VT_I4 output parameter; E_POINTER without output parameters.
    void PutOutParam(LPCWSTR name, LONG value);
    // Sends the output parameters to the response sink.
    void IndicateOut();

    IWbemClassObject* OutParams() const { return out_params_.Get(); }

private:
    WMIComPtr<IWbemContext> context_;
    WMIComPtr<IWbemObjectSink> sink_;
    WMIComPtr<IWbemServices> services_;
    WMIComPtr<IWbemClassObject> in_params_;
    WMIComPtr<IWbemClassObject> out_params_;
};
