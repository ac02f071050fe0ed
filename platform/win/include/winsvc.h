// The service control manager, for kernel-driver services.
//
// Services are recorded under <root>/services/<name>.service. Starting a kernel-driver service runs its binary
// (the driver file, an executable of this platform) as a detached process with QV_SYSTEM_ROOT set; StartService
// returns once the driver reports that its devices exist (as a driver's entry routine does on Windows), or
// fails after 15 seconds. Stopping sends the stop control (SIGTERM) and waits for the process to end (SIGKILL
// after 10 seconds). A service deleted while running is removed when it stops.
#pragma once

#include "windef.h"

struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
typedef SC_HANDLE* LPSC_HANDLE;

#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SC_MANAGER_ALL_ACCESS 0xF003F
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_START 0x0010
#define SERVICE_STOP 0x0020
#define SERVICE_ALL_ACCESS 0xF01FF
#define DELETE 0x00010000

#define SERVICE_KERNEL_DRIVER 0x00000001
#define SERVICE_FILE_SYSTEM_DRIVER 0x00000002
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_BOOT_START 0x00000000
#define SERVICE_SYSTEM_START 0x00000001
#define SERVICE_AUTO_START 0x00000002
#define SERVICE_DEMAND_START 0x00000003
#define SERVICE_DISABLED 0x00000004
#define SERVICE_ERROR_IGNORE 0x00000000
#define SERVICE_ERROR_NORMAL 0x00000001

#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004

#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_INTERROGATE 0x00000004
#define SERVICE_ACCEPT_STOP 0x00000001

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
typedef SERVICE_STATUS* LPSERVICE_STATUS;

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD access);
SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access);
SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR loadOrderGroup, LPDWORD tagId,
                         LPCWSTR dependencies, LPCWSTR startName, LPCWSTR password);
SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId,
                         LPCSTR dependencies, LPCSTR startName, LPCSTR password);
SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access);
SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access);
BOOL StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv);
BOOL StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL DeleteService(SC_HANDLE service);
BOOL CloseServiceHandle(SC_HANDLE handle);

namespace qv::win {
// Called by a driver program once its devices exist: completes the StartService that started it.
void ReportServiceRunning();
}  // namespace qv::win
