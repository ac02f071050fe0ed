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

#include <cstdint>
#include <string>
#include <vector>

namespace qv::wbem {

// {D2D588B5-D081-11d0-99E0-00C04FC2F8EC}
extern const CLSID CLSID_WmiKernelDataProvider;

// Creates "root\WMI" with the firmware and SMBIOS classes for the machine of the current system root.
// Called once when a repository is created.
HRESULT InstallFirmwareWmiClasses(Repository& repository);
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

// The firmware side of the call gate: one request ("vrxBIOSInt" + outputSize) against the machine. The return
// code is the firmware's (0 success); `output` gets exactly outputSize bytes. Flash transfers (command
// 0x20001) keep their state in `session` between the begin and the end request.
struct GateSession {
    bool writing = false;
    std::vector<uint8_t> image;  // blocks written in this transfer
    std::vector<bool> written;   // which 4096-byte blocks arrived
    std::vector<uint8_t> password;
    bool open = false;
};
uint32_t ExecuteGateCommand(GateSession& session, uint32_t command, uint32_t commandType,
                            const std::vector<uint8_t>& input, uint32_t outputSize, std::vector<uint8_t>* output);

}  // namespace qv::wbem
