// The COM server module of vrxBIOS: one per process. It counts the locks that keep the server alive (every
// provider object and every LockServer(TRUE) holds one) and, once the last lock is gone and no new one has
// come for about 50 ms, suspends the class objects and ends the main thread's message loop (WM_QUIT).
//
// Threads: the main thread (Init, the message loop) and the idle monitor (StartMonitor). They share only the
// lock count (interlocked), the shutdown event and the activity flag; a late write of the flag only delays
// or repeats the 50 ms wait.
#pragma once

#include "windows.h"

class ServerModule {
public:
    // Records the program's instance and the calling thread as the main thread.
    void Init(HINSTANCE instance);
    // Creates the shutdown event (auto-reset, not signalled) and starts the idle monitor. False when either
    // cannot be created (the server then never ends by itself).
    bool StartMonitor();
    // Forgets the monitor's handle; the monitor thread ends by itself or with the process.
    void Term();

    // Interlocked; the result is the new count. Unlock to zero marks activity and signals the idle monitor.
    LONG Lock();
    LONG Unlock();
    LONG LockCount() const { return lock_count_; }

    HINSTANCE Instance() const { return instance_; }
    DWORD MainThreadId() const { return main_thread_; }

    // The idle time after the last unlock that ends the server, in milliseconds.
    static constexpr DWORD kIdleTimeout = 50;

private:
    static DWORD WINAPI MonitorThread(LPVOID module);
    void MonitorLoop();

    HINSTANCE instance_ = nullptr;
    DWORD main_thread_ = 0;
    volatile LONG lock_count_ = 0;
    volatile BYTE activity_ = 0;
    HANDLE shutdown_event_ = nullptr;
    HANDLE monitor_thread_ = nullptr;
};

// The process's one module.
ServerModule& TheServerModule();
