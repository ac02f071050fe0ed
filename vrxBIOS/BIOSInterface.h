// BIOSInterface ("BIOSInterface Class", CLSID {D7B353ED-CF58-4BAF-807B-6EA01360D51F}): the provider object
// WMI creates for the software-provider classes of root\QV\InstrumentedBIOS. The generic half is
// WMIProvider; this class fills the dispatch tables with the six provider classes and the two methods.
//
// Every object holds one lock on the server module for its whole life.
#pragma once

#include "WMIProvider.h"

// {D7B353ED-CF58-4BAF-807B-6EA01360D51F}
DEFINE_GUID(CLSID_BIOSInterface, 0xD7B353ED, 0xCF58, 0x4BAF, 0x80, 0x7B, 0x6E, 0xA0, 0x13, 0x60, 0xD5, 0x1F);

class BIOSInterface : public WMIProvider {
public:
    // A new object with one reference.
    static BIOSInterface* Create();

private:
    BIOSInterface();
    ~BIOSInterface() override;

    // The class handlers. Until the settings library is bound, the provider has no settings to publish: the
    // enumerations are empty, a get finds nothing (WBEM_E_NOT_FOUND) and both methods answer Return = 1
    // (Not Supported).
    void GetInstance(WMIInstance& instance, LONG flags);
    void EnumerateNothing(WMIInstanceList& list, WMIRequest& request);
    void MethodNotSupported(WMIInstance& target, BSTR objectPath, WMIMethodCall& call, LONG flags);
};
