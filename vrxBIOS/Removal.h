// The three removal steps. Each traces its name, connects to root\QV\InstrumentedBIOS, deletes the classes
// of its list in order (each result ignored; deleting a class deletes its subclasses and instances too) and,
// for the two provider steps, the provider's __Win32Provider instance. Namespaces, the sensor classes of
// common.mof, the event base class, the decoupled event provider and the registrations that name a deleted
// provider stay as WMI leaves them.
#pragma once

// Classes QVBIOS_* and the provider "Provider_BIOSInterface". True when that provider instance was deleted.
bool UninstallFirmwareProvider();
// Classes QVPROV_* and QV_BIOSConfigurationEvent, and the provider "WMIProvider_BCXBiosSettings". True when
// that provider instance was deleted.
bool UninstallSoftwareProvider();
// The setting classes QV_* of common.mof. True when the connection was made.
bool UninstallCommonClasses();
