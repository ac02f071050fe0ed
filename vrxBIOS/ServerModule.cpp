#include "ServerModule.h"

#include "objbase.h"

void ServerModule::Init(HINSTANCE instance) {
    instance_ = instance;
    main_thread_ = GetCurrentThreadId();
}

bool ServerModule::StartMonitor() {
    shutdown_event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (shutdown_event_ == nullptr) return false;
    monitor_thread_ = CreateThread(nullptr, 0, MonitorThread, this, 0, nullptr);
    if (monitor_thread_ == nullptr) {
        CloseHandle(shutdown_event_);
        shutdown_event_ = nullptr;
        return false;
    }
    return true;
}

void ServerModule::Term() {
    if (monitor_thread_ != nullptr) CloseHandle(monitor_thread_);
    monitor_thread_ = nullptr;
}

LONG ServerModule::Lock() { return InterlockedIncrement(&lock_count_); }

LONG ServerModule::Unlock() {
    LONG count = InterlockedDecrement(&lock_count_);
    if (count == 0) {
        activity_ = 1;
        if (shutdown_event_ != nullptr) SetEvent(shutdown_event_);
    }
    return count;
}

DWORD WINAPI ServerModule::MonitorThread(LPVOID module) {
    static_cast<ServerModule*>(module)->MonitorLoop();
    return 0;
}

void ServerModule::MonitorLoop() {
    for (;;) {
        WaitForSingleObject(shutdown_event_, INFINITE);
        DWORD wait;
        do {
            activity_ = 0;
            wait = WaitForSingleObject(shutdown_event_, kIdleTimeout);
        } while (wait == WAIT_OBJECT_0);
        if (activity_ == 0 && lock_count_ == 0) {
            CoSuspendClassObjects();
            if (activity_ == 0 && lock_count_ == 0) break;
        }
    }
    CloseHandle(shutdown_event_);
    shutdown_event_ = nullptr;
    PostThreadMessageW(main_thread_, WM_QUIT, 0, 0);
}

ServerModule& TheServerModule() {
    static ServerModule module;
    return module;
}
