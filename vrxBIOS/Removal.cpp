#include "Removal.h"

#include "DebugTrace.h"
#include "InstrumentedBiosConnection.h"

#include "atlbase.h"

#include <initializer_list>

namespace {

struct RemovalStep {
    LPCWSTR trace;
    std::initializer_list<LPCWSTR> classes;
    LPCWSTR provider;  // the __Win32Provider instance to delete, or null
};

const RemovalStep kFirmwareProvider{
    L"UninstallFirmwareProvider()\n",
    {L"QVBIOS_BIOSSettingInterface", L"QVBIOS_BIOSString", L"QVBIOS_BIOSInteger", L"QVBIOS_BIOSPassword",
     L"QVBIOS_BIOSEnumeration", L"QVBIOS_BIOSOrderedList", L"QVBIOS_BIOSNumericSensor", L"QVBIOS_BIOSStateSensor"},
    L"__Win32Provider.Name=\"Provider_BIOSInterface\""};

const RemovalStep kSoftwareProvider{
    L"UninstallSoftwareProvider()\n",
    {L"QVPROV_BIOSSettingInterface", L"QVPROV_BIOSString", L"QVPROV_BIOSInteger", L"QVPROV_BIOSPassword",
     L"QVPROV_BIOSEnumeration", L"QVPROV_BIOSOrderedList", L"QV_BIOSConfigurationEvent"},
    L"__Win32Provider.Name=\"WMIProvider_BCXBiosSettings\""};

const RemovalStep kCommonClasses{L"UninstallCommonClasses()\n",
                                 {L"QV_BIOSSettingInterface", L"QV_BIOSString", L"QV_BIOSInteger", L"QV_BIOSPassword",
                                  L"QV_BIOSEnumeration", L"QV_BIOSOrderedList", L"QV_BIOSSetting"},
                                 nullptr};

// True when the step connected and, for a step with a provider, the provider instance was deleted.
bool Run(const RemovalStep& step) {
    DebugTrace(step.trace);
    Microsoft::WRL::ComPtr<IWbemServices> services = ConnectInstrumentedBios(L"CoSetProxyBlanket failed: 0x%08X\n");
    if (!services) return false;
    for (LPCWSTR name : step.classes) services->DeleteClass(CComBSTR(name), 0, nullptr, nullptr);
    bool result = true;
    if (step.provider != nullptr)
        result = SUCCEEDED(services->DeleteInstance(CComBSTR(step.provider), 0, nullptr, nullptr));
    return result;
}

}  // namespace

bool UninstallFirmwareProvider() { return Run(kFirmwareProvider); }
bool UninstallSoftwareProvider() { return Run(kSoftwareProvider); }
bool UninstallCommonClasses() { return Run(kCommonClasses); }
