#include "Installation.h"

#include "DebugTrace.h"
#include "FirmwareDetection.h"
#include "Removal.h"
#include "ResourceFile.h"
#include "RunHiddenProcess.h"
#include "ScopedWorkingFolder.h"
#include "ServerRegistration.h"
#include "resource.h"

#include <string>

namespace {

std::wstring OwnPath() {
    wchar_t path[4 * MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, 4 * MAX_PATH);
    return path;
}

void Register() {
    HRESULT hr = RegisterServer(OwnPath().c_str());
    if (FAILED(hr)) DebugTrace(L"RegisterServer failed: 0x%08X\n", static_cast<unsigned>(hr));
}

void Unregister() {
    HRESULT hr = UnregisterServer(OwnPath().c_str());
    if (FAILED(hr)) DebugTrace(L"UnregisterServer failed: 0x%08X\n", static_cast<unsigned>(hr));
}

void InstallCommonAndFirmwareSchema() {
    InstallMof(IDR_COMMON_MOF, L"common.mof");
    InstallMof(IDR_FWPROV_MOF, L"fwprov.mof");
}

}  // namespace

int InstallMof(UINT id, LPCWSTR fileName) {
    ScopedWorkingFolder folder;
    if (!folder.Usable()) {
        DebugTrace(L"No working folder for %s.\n", fileName);
        return 0;
    }
    std::wstring path = folder.PathOf(fileName);
    ExtractResourceFile(GetModuleHandleW(nullptr), id, path.c_str());
    std::wstring command = L"mofcomp \"" + path + L"\"";
    return RunHiddenProcess(command.c_str());
}

void TestRun(CProviderApp&) {
    InstallCommonAndFirmwareSchema();
    if (HasNativeWmiSupport()) {
        DebugTrace(L"Native WMI support detected.\n");
    } else {
        UninstallFirmwareProvider();
        DebugTrace(L"No native WMI support found.\n");
    }
    DebugTrace(HasLegacyBiosInterface() ? L"Legacy BIOS interface support detected.\n" : L"Unsupported system.\n");
}

void Remove(CProviderApp& app) {
    const CommandLineFlags& flags = app.Flags();
    bool native = HasNativeWmiSupport();
    if (!flags.bSilent &&
        app.ShowMessage(native ? IDS_CONFIRM_NATIVE_UNINSTALL : IDS_CONFIRM_UNINSTALL, MB_YESNO) != IDYES)
        return;
    if (native) {
        UninstallFirmwareProvider();
        if (flags.bClean) {
            UninstallSoftwareProvider();
            UninstallCommonClasses();
        }
    } else {
        UninstallSoftwareProvider();
        if (flags.bClean) {
            UninstallFirmwareProvider();
            UninstallCommonClasses();
        }
    }
    Unregister();
}

void Install(CProviderApp&) {
    InstallCommonAndFirmwareSchema();
    if (HasNativeWmiSupport()) return;
    UninstallFirmwareProvider();
    if (!HasLegacyBiosInterface()) return;
    InstallMof(IDR_SWPROV_MOF, L"swprov.mof");
    Register();
}

InstallationHooks StandardInstallation() { return InstallationHooks{TestRun, Remove, Install}; }
