#include "ConfigurationEvents.h"

#include "InstanceNameTable.h"
#include "rpc.h"

namespace {

constexpr LONG kCategoryBiosSettings = 4;
constexpr LONG kSeverityOk = 5, kSeverityWarning = 10;
constexpr LONG kStatusOk = 2, kStatusError = 6;

struct EventText {
    LPCWSTR name;
    LPCWSTR description;  // null: the setting's name
    LONG severity;
    LONG status;
};

EventText TextOf(ConfigurationEvent event) {
    switch (event) {
    case ConfigurationEvent::kChange: return {L"BIOS Configuration Change", nullptr, kSeverityOk, kStatusOk};
    case ConfigurationEvent::kReset:
        return {L"BIOS Configuration Reset", L"The BIOS configuration has been reset to default values.", kSeverityOk,
                kStatusOk};
    case ConfigurationEvent::kSecurity:
    case ConfigurationEvent::kNone: break;
    }
    return {L"BIOS Configuration Security",
            L"An attempt has been made to access BIOS fetures with an invalid password.", kSeverityWarning,
            kStatusError};
}

}  // namespace

void RaiseConfigurationEvent(WMIEventSource& source, ConfigurationEvent event, LPCWSTR setting) {
    if (event == ConfigurationEvent::kNone || !source.HasSink()) return;
    EventText text = TextOf(event);
    WMIEventInstance instance;
    source.CreateEvent(L"QV_BIOSConfigurationEvent", instance);
    UUID uuid{};
    UuidCreateSequential(&uuid);
    instance.PutText(L"InstanceName", InstanceNameTable::Text(uuid).c_str());
    instance.PutText(L"Name", text.name);
    instance.PutText(L"Description",
                     text.description != nullptr ? text.description : (setting != nullptr ? setting : L""));
    instance.PutInt(L"Category", kCategoryBiosSettings);
    instance.PutInt(L"Severity", text.severity);
    instance.PutInt(L"Status", text.status);
    source.Fire(instance);
}
