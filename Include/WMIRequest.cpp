#include "WMIRequest.h"

WMIRequest::WMIRequest(LPCWSTR className, IWbemServices* services, IWbemContext* context, IWbemObjectSink* sink)
    : class_name_(className != nullptr ? className : L""), services_(services), context_(context), sink_(sink) {}
