// Setting instances: the library's setting records published as instances of the provider's five setting
// classes, and the single instance of the settings interface class.
//
// Every operation re-reads the firmware's settings through the library and releases them before it returns
// (also when it fails); nothing is cached between requests except the instance-name table, which maps every
// instance name handed out to its setting's full Name for later get-object requests.
//
// Failures are thrown as HRESULTs the framework's way: WBEM_E_NOT_FOUND for an unknown instance name or a
// setting that no longer exists, WBEM_E_PROVIDER_FAILURE for a missing object, E_OUTOFMEMORY, and the codes of
// failing WMI calls. Thread safety: none of its own; the provider calls it under its request lock.
#pragma once

#include "InstanceNameTable.h"
#include "LibraryBinding.h"
#include "WMIInstance.h"
#include "WMIInstanceList.h"
#include "WMIRequest.h"

#include <optional>
#include <string>

// The provider's identity, from its version resource; each string may be absent.
struct ProviderIdentity {
    std::optional<std::wstring> name;
    std::optional<std::wstring> version;
    std::optional<std::wstring> build;
};

enum class SettingClass { kString, kInteger, kEnumeration, kOrderedList, kPassword };

// The class a record type code belongs to; false for types that no class publishes.
bool SettingClassOfType(uint16_t type, SettingClass* settingClass);
LPCWSTR SettingClassName(SettingClass settingClass);

class SettingInstances {
public:
    // library may be null (never bound); ready tells whether start-up completed. Both are borrowed and must
    // outlive this object.
    SettingInstances(LibraryBinding* const& library, const LONG& ready, const ProviderIdentity& identity)
        : library_(library), ready_(ready), identity_(identity) {}

    // One instance per record of the class's type codes, in the library's record order.
    void Enumerate(SettingClass settingClass, WMIInstanceList& list, WMIRequest& request);
    // Fills the instance whose InstanceName was handed out by an earlier enumeration, by its record's type.
    void Get(WMIInstance& instance);
    // The single settings-interface instance ("ACPI\PNP0C14\0_0" with Name, Version, Build).
    void EnumerateInterface(WMIInstanceList& list, WMIRequest& request);
    // Puts Name, Version and Build into the given object (its key is not read).
    void GetInterface(WMIInstance& instance);

    // Instance names handed out so far; the table only grows (until the provider ends) or is emptied.
    size_t NamesHandedOut() const { return names_.Size(); }
    void ClearNames() { names_.Clear(); }

private:
    bool Ready() const { return ready_ != 0 && library_ != nullptr; }

    LibraryBinding* const& library_;
    const LONG& ready_;
    const ProviderIdentity& identity_;
    InstanceNameTable names_;
};
