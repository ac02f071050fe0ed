// Events, waits and threads.
#pragma once

#include "windef.h"

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFFu

// An event: manual reset stays signalled until ResetEvent; auto reset releases one waiter and clears itself.
// Names are not supported (a named event is created unnamed). Close with CloseHandle.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Waits for an event or a thread (signalled when it has ended): WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED
// for a handle that cannot be waited for.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
// Starts a thread running start(parameter). The handle (close with CloseHandle) is signalled when the thread
// has ended; closing it does not stop the thread.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
#define STILL_ACTIVE 259
