// What the operating system and the firmware put into WMI's "root\WMI" namespace on a real PC, for the
// simulated machine: the classes (compiled into every new repository) and the in-process provider that
// serves them, the operating system's WMI kernel-data provider "WMIProv" (CLSID
// {D2D588B5-D081-11d0-99E0-00C04FC2F8EC}, also registered as "Provider_BIOSInterface" by fwprov.mof).
//
// Classes: MSSmBios_RawSMBiosTables always; on machines whose firmware has the call gate also the input and
// output records vrxBDataIn and vrxBDataOut and the method class vrxBIntM. A machine without the gate has no
// such classes, so a call fails as WMI fails for a missing class.
//
// Hosting: the WMI service creates in-process providers through InProcessProviders() (CLSID -> factory), then
// calls IWbemProviderInit::Initialize with the namespace name before any IWbemServices call. The provider
// serves CreateInstanceEnumAsync, GetObjectAsync, ExecQueryAsync (a query selecting a whole class) and
// ExecMethodAsync; everything else answers WBEM_E_NOT_SUPPORTED. Class definitions come from the repository
// of the current system root; the data from the machine of that root.
#pragma once

#include "qv_wbem_repository.h"

#include <wbemcli.h>
#include <wbemprov.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qv::wbem {

// {D2D588B5-D081-11d0-99E0-00C04FC2F8EC}
extern const CLSID CLSID_WmiKernelDataProvider;

// Creates "root\WMI" with the firmware and SMBIOS classes for the machine of `systemRoot`: the seed of every
// new repository (AddRepositorySeed; the WMI library's registrar adds it before main).
HRESULT InstallFirmwareWmiClasses(Repository& repository, const std::filesystem::path& systemRoot);
// The MOF text of those classes (with or without the call gate classes).
std::wstring FirmwareWmiMof(bool callGate);

// A new provider object (IWbemProviderInit and IWbemServices).
HRESULT CreateWmiKernelDataProvider(REFIID riid, void** object);

struct InProcessProvider {
    const CLSID* clsid;
    HRESULT (*create)(REFIID riid, void** object);
};
// The providers the WMI service finds in-process, by the CLSID of their __Win32Provider registration.
const std::vector<InProcessProvider>& InProcessProviders();

}  // namespace qv::wbem
