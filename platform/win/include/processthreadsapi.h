// Child processes.
//
// A child is a host program. CreateProcessW without an application name takes the first word of the command
// line (quoted or up to the first blank) as the program and, when it names no folder, searches as Windows
// does: the folder of the running program, the current directory, the system folder, the Windows folder,
// then the folders of PATH; a name without an extension is also tried with ".exe". The rest of the line is
// split into arguments by the rules of CommandLineToArgvW (quotes group, backslashes are literal unless they
// precede a quote), so Windows paths arrive unchanged. The child gets this process's environment with
// QV_SYSTEM_ROOT set to this process's system root.
//
// Standard handles: with STARTF_USESTDHANDLES and bInheritHandles, each of hStdInput, hStdOutput and
// hStdError that is an inheritable pipe end becomes the child's standard stream; any other is /dev/null.
// Without STARTF_USESTDHANDLES the child shares this process's standard streams, unless CREATE_NEW_CONSOLE
// asks for a console of its own (then /dev/null: the new console is never shown). No other handle reaches
// the child. Window and console settings (wShowWindow, console flags) are accepted and have no effect.
#pragma once

#include "winbase.h"

#define CREATE_NEW_CONSOLE 0x00000010
#define CREATE_NO_WINDOW 0x08000000
#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESTDHANDLES 0x00000100

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

// Starts the program; on success fills `information` with a process handle and a thread handle (close both;
// closing does not stop the child). Fails with ERROR_FILE_NOT_FOUND when the program is not found,
// ERROR_ACCESS_DENIED or ERROR_BAD_EXE_FORMAT when it cannot be run, ERROR_INVALID_PARAMETER for an empty
// command line or a given application name, environment or current directory (not offered here).
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION information);
// STILL_ACTIVE while the child runs, then its exit code (128 + signal number when a signal ended it). Takes
// the process handle, not the thread handle.
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
