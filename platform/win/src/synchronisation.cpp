// Critical sections, interlocked counters and time.

#include "windows.h"

#include <atomic>
#include <chrono>
#include <thread>

void InitializeCriticalSection(LPCRITICAL_SECTION section) { section->mutex = new std::recursive_mutex(); }
void EnterCriticalSection(LPCRITICAL_SECTION section) { section->mutex->lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) { return section->mutex->try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { section->mutex->unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete section->mutex;
    section->mutex = nullptr;
}

static_assert(sizeof(std::atomic<LONG>) == sizeof(LONG) && std::atomic<LONG>::is_always_lock_free);

// The Win32 contract: full barriers, result after the change (or the old value for exchanges).
LONG InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    LONG expected = comparand;
    __atomic_compare_exchange_n(target, &expected, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return expected;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

ULONGLONG GetTickCount64() {
    auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count());
}
DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }
