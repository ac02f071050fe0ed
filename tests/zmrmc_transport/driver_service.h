// The driver as the service "ZmrDtct" of the test's system root: installed from the build tree and started
// through the service control manager, as the library does, or stopped and removed whatever state a test
// left it in.
#pragma once

#include "qv_system_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <filesystem>
#include <fstream>
#include <string>

// Copies build/bin/zmrdtct to C:\WINDOWS\system32\Drivers\Zmrdtct.sys, creates the service (or takes the one
// there) and starts it; false, with the last error, when the start fails.
inline bool StartDriverService() {
    const wchar_t kBinary[] = L"C:\\WINDOWS\\system32\\Drivers\\Zmrdtct.sys";
    std::error_code ec;
    std::filesystem::copy_file(BuildTree() + "/bin/zmrdtct", qv::win::HostPath(std::wstring(kBinary)),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    SC_HANDLE service = CreateServiceW(manager, L"ZmrDtct", L"ZmrDtct", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kBinary, nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    if (service == nullptr) service = OpenServiceW(manager, L"ZmrDtct", SERVICE_ALL_ACCESS);
    bool started = service != nullptr && StartServiceW(service, 0, nullptr);
    DWORD error = GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    SetLastError(error);
    return started;
}

// Stops the service when it runs and deletes it when it exists.
inline void StopDriverService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, L"ZmrDtct", SERVICE_ALL_ACCESS) : nullptr;
    if (service != nullptr) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager != nullptr) CloseServiceHandle(manager);
}

// The running driver's process, from the service's record; 0 when none is recorded.
inline long DriverServicePid() {
    std::ifstream in(qv::win::SystemRoot() / "services" / "ZmrDtct.service");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("pid=", 0) == 0) return std::stol(line.substr(4));
    return 0;
}
