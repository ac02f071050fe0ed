#include "driver_installation.h"

#include "os_identity.h"

namespace zmrmc {
namespace {

constexpr int kDriverResourceType = 300;
constexpr int kDriverResourceNt = 2128;
const wchar_t kServiceName[] = L"ZmrDtct";
const wchar_t kControlDevice[] = L"\\\\.\\ZMRVextor";
const wchar_t kFlashDevice[] = L"\\\\.\\ZMRDetectFlash";
const wchar_t kVxdDevice[] = L"\\\\.\\ZMRINT15.VXD";

bool AcceptedVersion(uint8_t major, uint8_t minor) { return major > 3 || (major == 3 && minor > 1); }

std::wstring WithSeparator(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder;
}

// Writes the driver resource to folder\Zmrdtct.sys (creating the folder, replacing a file that is there).
bool WriteResourceTo(const std::wstring& folder, std::wstring* written) {
    HMODULE module = QvCurrentModule();
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kDriverResourceNt), MAKEINTRESOURCEW(kDriverResourceType));
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(module, resource) : 0;
    if (bytes == nullptr || size == 0) return false;
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = WithSeparator(folder) + L"Zmrdtct.sys";
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!DeleteFileW(path.c_str())) return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    bool ok = WriteFile(file, bytes, size, &done, nullptr) && done == size;
    CloseHandle(file);
    if (!ok) {
        DeleteFileW(path.c_str());
        return false;
    }
    *written = path;
    return true;
}

}  // namespace

bool DriverInstallation::WriteDriverFile() {
    wchar_t buffer[MAX_PATH];
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH && WriteResourceTo(WithSeparator(buffer) + L"Drivers", &driver_path_))
        return true;
    DWORD module = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (module > 0 && module < MAX_PATH) {
        std::wstring program(buffer, module);
        size_t cut = program.find_last_of(L"\\/");
        if (cut != std::wstring::npos && WriteResourceTo(program.substr(0, cut + 1) + L"Drivers", &driver_path_))
            return true;
    }
    length = GetTempPathW(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH && WriteResourceTo(buffer, &driver_path_);
}

bool DriverInstallation::StartDriverService(bool install) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    SC_HANDLE service = nullptr;
    if (install) {
        service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, driver_path_.c_str(), nullptr, nullptr,
                                 nullptr, nullptr, nullptr);
        if (service != nullptr) created_service_ = true;
    }
    // A service marked for deletion is one another library of the installation deleted while its driver still
    // serves handles: that driver is used while it runs, and the next attempt creates the service again.
    if (service == nullptr &&
        (!install || GetLastError() == ERROR_SERVICE_EXISTS || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE))
        service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    bool running = false;
    if (service != nullptr) {
        if (StartServiceW(service, 0, nullptr)) {
            // A driver this library installed is stopped again at teardown; one that was there before is not.
            if (install) started_service_ = true;
            SERVICE_STATUS status{};
            for (int poll = 0;
                 poll < 60 && QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_START_PENDING;
                 ++poll)
                Sleep(1000);
            running = true;
        } else {
            running = GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

bool DriverInstallation::OpenInstalled(DriverTransport& transport) {
    if (!transport.OpenDevice(kFlashDevice) && !transport.OpenDevice(kControlDevice)) return false;
    uint8_t major = 0, minor = 0;
    transport.Version(&major, &minor);  // asked, not checked, on this path
    return true;
}

bool DriverInstallation::OpenExisting(DriverTransport& transport) {
    if (!transport.OpenDevice(kControlDevice)) return false;
    uint8_t major = 0, minor = 0;
    if (transport.Version(&major, &minor) && AcceptedVersion(major, minor)) return true;
    transport.Close();
    return false;
}

bool DriverInstallation::StartInstalled(DriverTransport& transport) {
    // Another library of the installation may be stopping the driver at this moment, deleting its service or
    // its file: a start or an open can fail once in between. Tried again for up to 2 s.
    for (int attempt = 0;; ++attempt) {
        // The file is written afresh the first time, and again later only when it has gone.
        bool file = (attempt > 0 && GetFileAttributesW(driver_path_.c_str()) != INVALID_FILE_ATTRIBUTES) ||
                    WriteDriverFile();
        if (file && StartDriverService(true) && OpenInstalled(transport)) return true;
        if (attempt == 40) return false;
        Sleep(50);
    }
}

bool DriverInstallation::Restart(DriverTransport& transport, bool installed) {
    // The lost driver may still be ending: the service manager counts it running until its process is gone,
    // and its devices no longer answer. While the service runs but its devices do not open, wait for it to end
    // (at most 2 s) and start it again then.
    for (int attempt = 0;; ++attempt) {
        // The file stays where it was written; it is written again only when it has gone.
        bool file = !installed || GetFileAttributesW(driver_path_.c_str()) != INVALID_FILE_ATTRIBUTES ||
                    WriteDriverFile();
        if (!file || !StartDriverService(installed)) return false;
        if (installed ? OpenInstalled(transport) : OpenExisting(transport)) return true;
        if (attempt == 40) return false;
        Sleep(50);
    }
}

void DriverInstallation::Open(DriverTransport& transport, bool openExisting, bool installDriver) {
    const VersionInfo& version = LoadedVersionInfo();
    if (version.platform == VER_PLATFORM_WIN32_NT &&
        (version.major > 5 || (version.major == 5 && version.minor >= 1))) {
        BOOL wow64 = FALSE;
        if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return;  // 64-bit Windows: no driver
    }
    if (version.platform == VER_PLATFORM_WIN32_NT && version.major > 3) {
        SetProcessAffinityMask(GetCurrentProcess(), 1);  // firmware calls run on the first processor
        Sleep(0);
    }
    if (version.platform != VER_PLATFORM_WIN32_NT) {
        // 9x family: only an already loaded VxD can be used; the library carries no resource 2129 to write.
        if (openExisting && transport.OpenDevice(kVxdDevice)) {
            uint8_t major = 0, minor = 0;
            if (transport.Version(&major, &minor) && AcceptedVersion(major, minor)) return;
            transport.Close();
        }
        return;
    }
    // A driver that goes away later is started again the way it was found now.
    if (openExisting && OpenExisting(transport)) {
        transport.SetReopen([this, &transport] { return Restart(transport, false); });
        return;
    }
    if (!installDriver || !StartInstalled(transport)) return;
    transport.SetReopen([this, &transport] { return Restart(transport, true); });
}

void DriverInstallation::Teardown(DriverTransport& transport) {
    transport.SetReopen(nullptr);
    transport.Close();
    Teardown();
}

void DriverInstallation::Teardown() {
    if (created_service_ || started_service_) {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS) : nullptr;
        if (service != nullptr) {
            SERVICE_STATUS status{};
            if (started_service_) ControlService(service, SERVICE_CONTROL_STOP, &status);
            if (created_service_) DeleteService(service);
            CloseServiceHandle(service);
        }
        if (manager != nullptr) CloseServiceHandle(manager);
        created_service_ = started_service_ = false;
    }
    if (!driver_path_.empty()) {
        DeleteFileW(driver_path_.c_str());
        driver_path_.clear();
    }
}

}  // namespace zmrmc
