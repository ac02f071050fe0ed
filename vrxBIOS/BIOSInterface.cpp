#include "BIOSInterface.h"

#include "ServerModule.h"
#include "WMIException.h"

namespace {
const wchar_t* const kProviderClasses[] = {L"QVPROV_BIOSSettingInterface", L"QVPROV_BIOSString",
                                           L"QVPROV_BIOSPassword",         L"QVPROV_BIOSInteger",
                                           L"QVPROV_BIOSEnumeration",      L"QVPROV_BIOSOrderedList"};
constexpr LONG kReturnNotSupported = 1;
}  // namespace

BIOSInterface* BIOSInterface::Create() { return new BIOSInterface(); }

BIOSInterface::BIOSInterface()
    : WMIProvider(L"root\\QV\\InstrumentedBIOS", L"DecoupledEventProvider_BCXBiosSettings") {
    TheServerModule().Lock();
    using namespace std::placeholders;
    for (const wchar_t* name : kProviderClasses)
        AddClass(name, std::bind(&BIOSInterface::GetInstance, this, _1, _2),
                 std::bind(&BIOSInterface::EnumerateNothing, this, _1, _2));
    for (const wchar_t* method : {L"SetBIOSSetting", L"SetSystemDefaults"})
        AddMethod(L"QVPROV_BIOSSettingInterface", method,
                  std::bind(&BIOSInterface::MethodNotSupported, this, _1, _2, _3, _4));
}

BIOSInterface::~BIOSInterface() { TheServerModule().Unlock(); }

void BIOSInterface::GetInstance(WMIInstance&, LONG) { WMI_THROW(WBEM_E_NOT_FOUND); }

void BIOSInterface::EnumerateNothing(WMIInstanceList&, WMIRequest&) {}

void BIOSInterface::MethodNotSupported(WMIInstance&, BSTR, WMIMethodCall& call, LONG) {
    call.PutOutParam(L"Return", kReturnNotSupported);
    call.IndicateOut();
}
