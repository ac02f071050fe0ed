// The class object of BIOSInterface: a new object on every CreateInstance; server locks through LockServer.
#pragma once

#include "unknwn.h"
#include "windows.h"

class BIOSInterfaceClassFactory : public IClassFactory {
public:
    BIOSInterfaceClassFactory() = default;
    virtual ~BIOSInterfaceClassFactory() = default;

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    // An outer object is accepted only when IUnknown is asked for (CLASS_E_NOAGGREGATION otherwise); the new
    // object does not delegate to it.
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHOD(LockServer)(BOOL lock) override;

private:
    volatile LONG references_ = 1;
};
