#include "WMIInstanceList.h"

#include "WMIException.h"

WMIInstanceList::WMIInstanceList(IWbemObjectSink* sink) : sink_(sink) {}

WMIInstanceList::~WMIInstanceList() {
    Flush();
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
    if (!sink_) return;
    waiting_.push_back(object);  // the listed instance keeps the object alive until it is sent
    if (waiting_.size() >= batch_size_) Flush();
}

void WMIInstanceList::SetBatchSize(size_t size) {
    batch_size_ = size > 1 ? size : 1;
    if (waiting_.size() >= batch_size_) Flush();
}

void WMIInstanceList::Flush() {
    if (waiting_.empty()) return;
    if (sink_) sink_->Indicate(static_cast<LONG>(waiting_.size()), waiting_.data());
    waiting_.clear();
}
