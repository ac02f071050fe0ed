#include "WMIInstanceList.h"

#include "WMIException.h"

WMIInstanceList::WMIInstanceList(IWbemObjectSink* sink) : sink_(sink) {}

WMIInstanceList::~WMIInstanceList() {
    for (WMIInstance* instance : instances_) {
        try {
            delete instance;
        } catch (HRESULT hr) {
            WMI_TRACE_CAUGHT(hr);
        } catch (...) {
            WMI_TRACE_CAUGHT_GENERAL();
        }
    }
    instances_.clear();
}

void WMIInstanceList::Add(WMIInstance* instance) {
    if (instance == nullptr) WMI_THROW(E_POINTER);
    instances_.push_back(instance);
    IWbemClassObject* object = instance->Object();
    if (object == nullptr) WMI_THROW(E_POINTER);
    if (sink_) {
        IWbemClassObject* objects[] = {object};
        sink_->Indicate(1, objects);
    }
}
