#include "ServerModule.h"

void ServerModule::Init(HINSTANCE instance) {
    instance_ = instance;
    main_thread_ = GetCurrentThreadId();
}

void ServerModule::Term() {}

LONG ServerModule::Lock() { return InterlockedIncrement(&lock_count_); }

LONG ServerModule::Unlock() {
    LONG count = InterlockedDecrement(&lock_count_);
    if (count == 0) activity_ = 1;
    return count;
}

ServerModule& TheServerModule() {
    static ServerModule module;
    return module;
}
