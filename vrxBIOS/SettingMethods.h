// The two methods of QVPROV_BIOSSettingInterface, through which a client changes the firmware:
// SetBIOSSetting(Name, Value, Password) and SetSystemDefaults(Password), with the setup-password check and the
// value store they rest on. The settings library commits the change (BiosSettingsSetItemInfo) or restores the
// defaults (BiosSetSystemDefaults).
//
// The bodies compute the method's Return code and the event it raises; BIOSInterface raises the event and
// hands Return to the client, also when a body throws.
//
// Decisions where the methods were open:
// - A null Value (left out by the caller) for a text, password or integer setting is an invalid parameter
//   (Return 5), outside the password verification request; for enumerations and ordered lists it changes
//   nothing.
// - An integer text outside the 32-bit range (below -2147483648 or above 4294967295) is refused with 5 instead
//   of being clipped; a positive value above 2147483647 is taken as the unsigned 32-bit number it writes.
// - An enumeration token longer than 99 bytes (an ordered-list token longer than 90) names no value; it is
//   skipped, never cut to a shorter name.
// - A password text of 256 bytes or more fails the setup-password check (it is never cut to fit the buffer).
// - A parameter with a character that has no ANSI form (it would reach the library as "?") is an invalid
//   parameter (5), for both methods.
//
// Thread safety: none of its own; the provider calls it under its request lock.
#pragma once

#include "ConfigurationEvents.h"
#include "LibraryBinding.h"
#include "SecretText.h"
#include "WMIMethodCall.h"

// The method Return codes of the schema.
enum MethodReturn : LONG {
    kReturnSuccess = 0,
    kReturnNotSupported = 1,
    kReturnUnspecifiedError = 2,
    kReturnFailed = 4,
    kReturnInvalidParameter = 5,
    kReturnAccessDenied = 6,
};

struct MethodOutcome {
    LONG result = kReturnUnspecifiedError;
    ConfigurationEvent event = ConfigurationEvent::kNone;
};

class SettingMethods {
public:
    // library may be null (never bound); ready tells whether start-up completed. Both must outlive this object.
    SettingMethods(LibraryBinding* const& library, const LONG& ready) : library_(library), ready_(ready) {}

    // Throw what reading a parameter throws.
    MethodOutcome SetBIOSSetting(const SecretText& name, const SecretText& value, const SecretText& password);
    MethodOutcome SetSystemDefaults(const SecretText& password);

    // The setup-password check: passes when no setup password is set and `password` is empty or null, or when
    // the password (its scan codes when it is a tagged password, else its text) unlocks the system objects.
    bool SetupPasswordPasses(const SecretText& password);

    // Stores `value` into the record as its type asks: 0, or the Return code that refuses it.
    static LONG StoreValue(LibraryBinding& library, SRI* record, const SecretText& value);

private:
    bool Ready() const { return ready_ != 0 && library_ != nullptr; }

    LibraryBinding* const& library_;
    const LONG& ready_;
};
