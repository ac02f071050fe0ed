// How this machine exposes its BIOS settings, decided at installation time.
#pragma once

// True when the firmware itself publishes its settings through WMI-ACPI: an enumeration of
// QVBIOS_BIOSSettingInterface in root\QV\InstrumentedBIOS yields an object (waited for without a time-out).
// False when it yields none, when the class is missing (fwprov.mof not compiled or taken out again), and when
// the namespace cannot be reached (then WMI is not touched further; see ConnectInstrumentedBios).
bool HasNativeWmiSupport();

// True when the BIOS access library carried as resource 102 can read the firmware's settings: it is written
// as "ZMRMC.DLL" into the working folder and bound (LibraryBinding, ZmrMCInit(0, 1)), and
// BiosSettingsReadFromSystem(0) succeeds with a nonzero BiosSettingsSRIEnumCount(). The library is unloaded
// and the working folder deleted before the answer is given. False when any of that fails.
bool HasLegacyBiosInterface();
