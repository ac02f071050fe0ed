// The instances of one enumeration. Each instance reaches the client the moment it is added, so a client
// sees them one by one as the handler produces them. A handler that produces many instances in one go may ask
// for batches instead (SetBatchSize): then every n instances go to the client in one Indicate, and the rest
// when the handler calls Flush or the list ends, always before the request's final status.
#pragma once

#include "WMIInstance.h"
#include "wrl/client.h"

#include <list>
#include <vector>

class WMIInstanceList {
public:
    // Holds a reference to sink (null: instances are kept but sent nowhere).
    explicit WMIInstanceList(IWbemObjectSink* sink);
    // Indicates what a batch still holds, deletes every listed instance, then releases the sink.
    ~WMIInstanceList();
    WMIInstanceList(const WMIInstanceList&) = delete;
    WMIInstanceList& operator=(const WMIInstanceList&) = delete;

    // Takes ownership of instance, appends it and indicates it to the sink at once, or with its batch (that
    // Indicate's result is not examined). An instance without an object is still appended, then E_POINTER is
    // thrown.
    void Add(WMIInstance* instance);
    size_t Count() const { return instances_.size(); }

    // Instances per Indicate from now on (1, the default, indicates each at once; 0 counts as 1). A smaller
    // size first sends what is waiting.
    void SetBatchSize(size_t size);
    // Indicates the instances that wait for their batch.
    void Flush();

private:
    std::list<WMIInstance*> instances_;
    std::vector<IWbemClassObject*> waiting_;  // objects of listed instances, not yet indicated
    size_t batch_size_ = 1;
    Microsoft::WRL::ComPtr<IWbemObjectSink> sink_;
};
