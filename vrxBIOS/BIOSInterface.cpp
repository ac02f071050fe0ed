#include "BIOSInterface.h"

#include "ServerModule.h"
#include "WMIException.h"

namespace {
constexpr LONG kReturnNotSupported = 1;
const SettingClass kSettingClasses[] = {SettingClass::kString, SettingClass::kPassword, SettingClass::kInteger,
                                        SettingClass::kEnumeration, SettingClass::kOrderedList};
}  // namespace

BIOSInterface* BIOSInterface::Create() { return new BIOSInterface(); }

BIOSInterface::BIOSInterface() : WMIProvider(L"root\\QV\\InstrumentedBIOS", L"DecoupledEventProvider_BCXBiosSettings") {
    TheServerModule().Lock();
    AddClass(
        L"QVPROV_BIOSSettingInterface", [this](WMIInstance& instance, LONG) { settings_.GetInterface(instance); },
        [this](WMIInstanceList& list, WMIRequest& request) { settings_.EnumerateInterface(list, request); });
    for (SettingClass settingClass : kSettingClasses)
        AddClass(
            SettingClassName(settingClass), [this](WMIInstance& instance, LONG) { settings_.Get(instance); },
            [this, settingClass](WMIInstanceList& list, WMIRequest& request) {
                settings_.Enumerate(settingClass, list, request);
            });
    using namespace std::placeholders;
    for (const wchar_t* method : {L"SetBIOSSetting", L"SetSystemDefaults"})
        AddMethod(L"QVPROV_BIOSSettingInterface", method,
                  std::bind(&BIOSInterface::MethodNotSupported, this, _1, _2, _3, _4));
    StartUp();
}

BIOSInterface::~BIOSInterface() {
    Terminate();
    TheServerModule().Unlock();
}

void BIOSInterface::MethodNotSupported(WMIInstance&, BSTR, WMIMethodCall& call, LONG) {
    call.PutOutParam(L"Return", kReturnNotSupported);
    call.IndicateOut();
}
