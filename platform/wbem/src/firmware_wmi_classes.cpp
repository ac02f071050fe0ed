// The classes of "root\WMI" that the operating system (raw SMBIOS tables) and the firmware (call gate)
// define on a real PC, and their provider registration.

#include "qv_firmware.h"
#include "qv_firmware_wmi.h"
#include "qv_mof_compiler.h"
#include "qv_root_machine.h"

namespace qv::wbem {

const CLSID CLSID_WmiKernelDataProvider = {
    0xD2D588B5, 0xD081, 0x11D0, {0x99, 0xE0, 0x00, 0xC0, 0x4F, 0xC2, 0xF8, 0xEC}};

namespace {

const wchar_t kProviderAndSmbios[] =
    LR"MOF(
instance of __Win32Provider as $WmiProv
{
    Name = "WMIProv";
    CLSID = "{D2D588B5-D081-11d0-99E0-00C04FC2F8EC}";
    ImpersonationLevel = 1;
    PerUserInitialization = TRUE;
    Pure = TRUE;
};
instance of __InstanceProviderRegistration
{
    Provider = $WmiProv;
    SupportsGet = TRUE;
    SupportsPut = FALSE;
    SupportsDelete = FALSE;
    SupportsEnumeration = TRUE;
    QuerySupportLevels = {"WQL:UnarySelect"};
};
instance of __MethodProviderRegistration
{
    Provider = $WmiProv;
};

[WMI, Dynamic, Provider("WMIProv"), guid("{8F680850-A584-11d1-BF38-00A0C9062910}")]
class MSSmBios_RawSMBiosTables
{
    [key, read] string InstanceName;
    [read] boolean Active;
    [WmiDataId(1), read] boolean Used20CallingMethod;
    [WmiDataId(2), read] uint8 SmbiosMajorVersion;
    [WmiDataId(3), read] uint8 SmbiosMinorVersion;
    [WmiDataId(4), read] uint8 DmiRevision;
    [WmiDataId(5), read] uint32 Size;
    [WmiDataId(6), read, WmiSizeIs("Size")] uint8 SMBiosData[];
};
)MOF";

const wchar_t kCallGate[] =
    LR"MOF(
[WMI, guid("{5B0D6F1C-2E4A-4C39-9D3B-7A1E6C2B9F10}")]
class vrxBDataIn
{
    [WmiDataId(1), read, write] uint8 Sign[4];
    [WmiDataId(2), read, write] uint32 Command;
    [WmiDataId(3), read, write] uint32 CommandType;
    [WmiDataId(4), read, write] uint32 Size;
    [WmiDataId(5), read, write, WmiSizeIs("Size")] uint8 vrxBData[];
};

[WMI, guid("{5B0D6F1D-2E4A-4C39-9D3B-7A1E6C2B9F10}")]
class vrxBDataOut
{
    [WmiDataId(1), read, write] uint32 rwReturnCode;
    [WmiDataId(2), read, write] uint8 Data[];
};

[WMI, Dynamic, Provider("WMIProv"), guid("{5B0D6F1E-2E4A-4C39-9D3B-7A1E6C2B9F10}")]
class vrxBIntM
{
    [key, read] string InstanceName;
    [read] boolean Active;
    [WmiMethodId(1), Implemented] void vrxBIOSInt0([in, EmbeddedInstance("vrxBDataIn")] object InData,
                                                   [out, EmbeddedInstance("vrxBDataOut")] object OutData);
    [WmiMethodId(2), Implemented] void vrxBIOSInt4([in, EmbeddedInstance("vrxBDataIn")] object InData,
                                                   [out, EmbeddedInstance("vrxBDataOut")] object OutData);
    [WmiMethodId(3), Implemented] void vrxBIOSInt128([in, EmbeddedInstance("vrxBDataIn")] object InData,
                                                     [out, EmbeddedInstance("vrxBDataOut")] object OutData);
    [WmiMethodId(4), Implemented] void vrxBIOSInt4096([in, EmbeddedInstance("vrxBDataIn")] object InData,
                                                      [out, EmbeddedInstance("vrxBDataOut")] object OutData);
};
)MOF";

}  // namespace

std::wstring FirmwareWmiMof(bool callGate) {
    std::wstring mof = kProviderAndSmbios;
    if (callGate) mof += kCallGate;
    return mof;
}

HRESULT InstallFirmwareWmiClasses(Repository& repository, const std::filesystem::path& systemRoot) {
    bool callGate = false;
    try {
        qv::win::RootMachine(systemRoot)->Transact([&](qv::machine::Firmware& f) { callGate = f.HasCallGate(); });
    } catch (const std::exception&) {
        callGate = false;  // a root without a usable machine gets the operating system's classes only
    }
    MofOptions root;
    root.defaultNamespace = L"root";
    MofResult made = CompileMofText(L"instance of __NAMESPACE { Name = \"WMI\"; };", "root\\WMI", repository, root);
    if (!made.ok) return made.code != S_OK ? made.code : WBEM_E_CRITICAL_ERROR;
    MofOptions wmi;
    wmi.defaultNamespace = L"root\\WMI";
    MofResult classes = CompileMofText(FirmwareWmiMof(callGate), "root\\WMI classes", repository, wmi);
    return classes.ok ? S_OK : (classes.code != S_OK ? classes.code : WBEM_E_CRITICAL_ERROR);
}

}  // namespace qv::wbem
