#include "BIOSInterface.h"

#include "ConfigurationEvents.h"
#include "SecretText.h"
#include "ServerModule.h"
#include "WMIException.h"

namespace {
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
    AddMethod(L"QVPROV_BIOSSettingInterface", L"SetBIOSSetting",
              std::bind(&BIOSInterface::SetBIOSSetting, this, _1, _2, _3, _4));
    AddMethod(L"QVPROV_BIOSSettingInterface", L"SetSystemDefaults",
              std::bind(&BIOSInterface::SetSystemDefaults, this, _1, _2, _3, _4));
    StartUp();
}

BIOSInterface::~BIOSInterface() {
    Terminate();
    TheServerModule().Unlock();
}

void BIOSInterface::RunMethod(WMIMethodCall& call, const std::function<MethodOutcome()>& body,
                              const std::wstring& setting) {
    MethodOutcome outcome;
    try {
        outcome = body();
    } catch (HRESULT hr) {
        WMI_TRACE_CAUGHT(hr);
        outcome = {kReturnUnspecifiedError};
    } catch (...) {
        WMI_TRACE_CAUGHT_GENERAL();
        outcome = {kReturnUnspecifiedError};
    }
    try {
        RaiseConfigurationEvent(EventSource(), outcome.event, setting.c_str());
    } catch (HRESULT hr) {
        WMI_TRACE_CAUGHT(hr);
    } catch (...) {
        WMI_TRACE_CAUGHT_GENERAL();
    }
    call.PutOutParam(L"Return", outcome.result);
    call.IndicateOut();
}

void BIOSInterface::SetBIOSSetting(WMIInstance&, BSTR, WMIMethodCall& call, LONG) {
    std::wstring setting;
    RunMethod(
        call,
        [&] {
            CComVariant given = call.GetInParam(L"Name");
            if (given.vt == VT_BSTR && given.bstrVal != nullptr) setting = given.bstrVal;
            SecretText name = ReadTextParameter(call, L"Name");
            SecretText value = ReadTextParameter(call, L"Value");
            SecretText password = ReadTextParameter(call, L"Password");
            return methods_.SetBIOSSetting(name, value, password);
        },
        setting);
}

void BIOSInterface::SetSystemDefaults(WMIInstance&, BSTR, WMIMethodCall& call, LONG) {
    RunMethod(
        call, [&] { return methods_.SetSystemDefaults(ReadTextParameter(call, L"Password")); }, std::wstring());
}
