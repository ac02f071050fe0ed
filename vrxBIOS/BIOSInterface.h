// BIOSInterface ("BIOSInterface Class", CLSID {D7B353ED-CF58-4BAF-807B-6EA01360D51F}): the provider object
// WMI creates for the software-provider classes of root\QV\InstrumentedBIOS. The generic half is
// WMIProvider; this class fills the dispatch tables with the six provider classes and the two methods.
//
// Construction starts the provider (BIOSInterfaceStartup.cpp): it writes the settings library carried as
// resource 102 into the working folder as "ZMRMC.DLL", binds it and reads the firmware's settings once; only
// when all of that succeeded is the provider ready and publishes settings (SettingInstances). Destruction
// unbinds the library. Every object holds one lock on the server module for its whole life.
#pragma once

#include "LibraryBinding.h"
#include "SettingInstances.h"
#include "SettingMethods.h"
#include "WMIProvider.h"

#include <functional>
#include <memory>
#include <string>

// {D7B353ED-CF58-4BAF-807B-6EA01360D51F}
DEFINE_GUID(CLSID_BIOSInterface, 0xD7B353ED, 0xCF58, 0x4BAF, 0x80, 0x7B, 0x6E, 0xA0, 0x13, 0x60, 0xD5, 0x1F);

class BIOSInterface : public WMIProvider {
public:
    // A new object with one reference.
    static BIOSInterface* Create();

    // Whether start-up bound the library and read the firmware's settings once.
    bool IsReady() const { return ready_ != 0; }
    const ProviderIdentity& Identity() const { return identity_; }
    const std::wstring& LibraryPath() const { return library_path_; }

private:
    BIOSInterface();
    ~BIOSInterface() override;

    // Start-up and termination (BIOSInterfaceStartup.cpp).
    void StartUp();
    void Terminate();

    // The two methods (SettingMethods). Each sets Return and hands the out-parameters to the client whatever
    // its body does: a body that throws answers Return = 2 (Unspecified Error) and raises no event; an event
    // that cannot be built leaves the method's Return as it is. Both traces name this file.
    void SetBIOSSetting(WMIInstance& target, BSTR objectPath, WMIMethodCall& call, LONG flags);
    void SetSystemDefaults(WMIInstance& target, BSTR objectPath, WMIMethodCall& call, LONG flags);
    void RunMethod(WMIMethodCall& call, const std::function<MethodOutcome()>& body, const std::wstring& setting);

    ProviderIdentity identity_;
    std::wstring working_folder_;
    std::wstring library_path_;
    std::unique_ptr<LibraryBinding> library_holder_;
    LibraryBinding* library_ = nullptr;  // library_holder_'s binding, null before start-up bound one
    LONG ready_ = 0;
    SettingInstances settings_{library_, ready_, identity_};
    SettingMethods methods_{library_, ready_};
};
