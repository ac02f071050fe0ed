// The COM server module of vrxBIOS: one per process. It counts the locks that keep the server alive (every
// provider object and every LockServer(TRUE) holds one) and knows the thread that runs the message loop.
#pragma once

#include "windows.h"

class ServerModule {
public:
    // Records the program's instance and the calling thread as the main thread.
    void Init(HINSTANCE instance);
    void Term();

    // Interlocked; the result is the new count. Unlock to zero marks activity and signals the idle monitor.
    LONG Lock();
    LONG Unlock();
    LONG LockCount() const { return lock_count_; }

    HINSTANCE Instance() const { return instance_; }
    DWORD MainThreadId() const { return main_thread_; }

private:
    HINSTANCE instance_ = nullptr;
    DWORD main_thread_ = 0;
    volatile LONG lock_count_ = 0;
    volatile BYTE activity_ = 0;
};

// The process's one module.
ServerModule& TheServerModule();
