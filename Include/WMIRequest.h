// One served request: the class it names and the WMI pointers it came with. Lives for the call.
#pragma once

#include "atlbase.h"
#include "oleauto.h"
#include "wbemcli.h"

class WMIRequest {
public:
    // Copies the class name; the pointers are borrowed (the caller's references stay valid for the call).
    WMIRequest(LPCWSTR className, IWbemServices* services, IWbemContext* context, IWbemObjectSink* sink);
    WMIRequest(const WMIRequest&) = delete;
    WMIRequest& operator=(const WMIRequest&) = delete;

    BSTR ClassName() const { return class_name_; }
    IWbemServices* Services() const { return services_; }
    IWbemContext* Context() const { return context_; }  // may be null
    IWbemObjectSink* Sink() const { return sink_; }

private:
    CComBSTR class_name_;
    IWbemServices* services_;
    IWbemContext* context_;
    IWbemObjectSink* sink_;
};
