// The instances of one enumeration. Each instance reaches the client the moment it is added, so a client
// sees them one by one as the handler produces them.
#pragma once

#include "WMIComPtr.h"
#include "WMIInstance.h"

#include <list>

class WMIInstanceList {
public:
    // Holds a reference to sink (null: instances are kept but sent nowhere).
    explicit WMIInstanceList(IWbemObjectSink* sink);
    // Deletes every listed instance, then releases the sink.
    ~WMIInstanceList();
    WMIInstanceList(const WMIInstanceList&) = delete;
    WMIInstanceList& operator=(const WMIInstanceList&) = delete;

    // Takes ownership of instance, appends it and indicates it to the sink at once (that Indicate's result is
    // not examined). An instance without an object is still appended, then E_POINTER is thrown.
    void Add(WMIInstance* instance);
    size_t Count() const { return instances_.size(); }

private:
    std::list<WMIInstance*> instances_;
    WMIComPtr<IWbemObjectSink> sink_;
};
