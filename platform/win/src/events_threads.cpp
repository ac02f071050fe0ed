// Events and threads as kernel objects.

#include "qv_kernel_object.h"
#include "windows.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// What WaitForSingleObject can wait for.
class Waitable : public qv::win::KernelObject {
public:
    // Waits until signalled (and takes the signal of an auto-reset event); false on time-out.
    bool Wait(DWORD milliseconds) {
        std::unique_lock lock(mutex_);
        auto ready = [this] { return signalled_; };
        if (milliseconds == INFINITE) {
            changed_.wait(lock, ready);
        } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
            return false;
        }
        if (auto_reset_) signalled_ = false;
        return true;
    }
    void Signal(bool on) {
        {
            std::lock_guard lock(mutex_);
            signalled_ = on;
        }
        if (on) changed_.notify_all();
    }

protected:
    explicit Waitable(bool autoReset, bool signalled) : auto_reset_(autoReset), signalled_(signalled) {}

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool auto_reset_;
    bool signalled_;
};

class Event final : public Waitable {
public:
    Event(bool manualReset, bool initial) : Waitable(!manualReset, initial) {}
};

// Shared between the thread handle and the running thread, so either may go first.
struct ThreadState {
    std::mutex mutex;
    std::condition_variable ended;  // also announces the thread's identifier
    DWORD id = 0;
    bool done = false;
    DWORD exit_code = STILL_ACTIVE;
};

class Thread final : public Waitable {
public:
    explicit Thread(std::shared_ptr<ThreadState> state) : Waitable(false, false), state_(std::move(state)) {}
    std::shared_ptr<ThreadState> state_;
};

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
    return qv::win::RegisterHandle(new Event(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
    auto* e = qv::win::LookupHandleAs<Event>(event);
    if (e == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Signal(true);
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto* e = qv::win::LookupHandleAs<Event>(event);
    if (e == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Signal(false);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    if (auto* thread = qv::win::LookupHandleAs<Thread>(object); thread != nullptr) {
        std::shared_ptr<ThreadState> state = thread->state_;
        std::unique_lock lock(state->mutex);
        auto ready = [&] { return state->done; };
        if (milliseconds == INFINITE) {
            state->ended.wait(lock, ready);
            return WAIT_OBJECT_0;
        }
        return state->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), ready) ? WAIT_OBJECT_0
                                                                                           : WAIT_TIMEOUT;
    }
    auto* waitable = qv::win::LookupHandleAs<Waitable>(object);
    if (waitable == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // The handle table keeps the object alive only while the handle is open: the caller must not close it
    // during the wait, as on Windows.
    return waitable->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    std::thread([state, start, parameter] {
        {
            std::lock_guard lock(state->mutex);
            state->id = GetCurrentThreadId();
        }
        state->ended.notify_all();
        DWORD code = start(parameter);
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
            state->exit_code = code;
        }
        state->ended.notify_all();
    }).detach();
    DWORD id;
    {
        std::unique_lock lock(state->mutex);
        state->ended.wait(lock, [&] { return state->id != 0; });
        id = state->id;
    }
    if (threadId != nullptr) *threadId = id;
    return qv::win::RegisterHandle(new Thread(state));
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto* t = qv::win::LookupHandleAs<Thread>(thread);
    if (t == nullptr || exitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(t->state_->mutex);
    *exitCode = t->state_->exit_code;
    return TRUE;
}
