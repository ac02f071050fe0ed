// Per-thread message queues.

#include "qv_module_unload.h"
#include "qv_thread_tasks.h"
#include "windows.h"
#include "winuser.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// Private message that carries a heap-allocated task in lParam.
constexpr UINT kTaskMessage = 0x0375;

struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<MSG> messages;
    ~Queue() {
        for (auto& m : messages)
            if (m.message == kTaskMessage) delete reinterpret_cast<std::function<void()>*>(m.lParam);
    }
};

std::mutex table_mutex;
std::unordered_map<DWORD, std::shared_ptr<Queue>>& Table() {
    static auto* table = qv::win::KeepUntilUnload(new std::unordered_map<DWORD, std::shared_ptr<Queue>>());
    return *table;
}

std::shared_ptr<Queue> Find(DWORD thread) {
    std::lock_guard lock(table_mutex);
    auto it = Table().find(thread);
    return it == Table().end() ? nullptr : it->second;
}

// Removes the thread's queue when the thread ends. A thread-specific key rather than a thread_local object
// with a destructor: such an object would keep a shared library that links this code (the BIOS access
// library) from being unloaded for as long as the thread lives. The key goes with the module.
void DropQueue(void* value) {
    auto thread = static_cast<DWORD>(reinterpret_cast<uintptr_t>(value));
    std::shared_ptr<Queue> queue;
    std::lock_guard lock(table_mutex);
    auto it = Table().find(thread);
    if (it != Table().end()) {
        queue = std::move(it->second);
        Table().erase(it);
    }
}
struct QueueKey {
    pthread_key_t key{};
    bool ok = false;
    QueueKey() { ok = pthread_key_create(&key, DropQueue) == 0; }
    ~QueueKey() {
        if (ok) pthread_key_delete(key);
    }
};
QueueKey& OwnerKey() {
    static QueueKey key;
    return key;
}
thread_local DWORD queue_owner = 0;  // the thread's id once it has a queue

std::shared_ptr<Queue> Own() {
    qv::win::EnsureThreadQueue();
    return Find(GetCurrentThreadId());
}

bool Post(DWORD thread, const MSG& msg) {
    auto queue = Find(thread);
    if (queue == nullptr) return false;
    {
        std::lock_guard lock(queue->mutex);
        queue->messages.push_back(msg);
    }
    queue->changed.notify_all();
    return true;
}

void RunTask(const MSG& msg) {
    std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(msg.lParam));
    if (task && *task) (*task)();
}

}  // namespace

namespace qv::win {

void EnsureThreadQueue() {
    if (queue_owner != 0) return;
    DWORD self = GetCurrentThreadId();
    {
        std::lock_guard lock(table_mutex);
        Table()[self] = std::make_shared<Queue>();
    }
    queue_owner = self;
    if (OwnerKey().ok) pthread_setspecific(OwnerKey().key, reinterpret_cast<void*>(static_cast<uintptr_t>(self)));
}

bool PostThreadTask(DWORD threadId, std::function<void()> task) {
    auto* boxed = new std::function<void()>(std::move(task));
    MSG msg{};
    msg.message = kTaskMessage;
    msg.lParam = reinterpret_cast<LPARAM>(boxed);
    if (Post(threadId, msg)) return true;
    delete boxed;
    return false;
}

bool RunThreadTasksUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) {
    auto queue = Own();
    for (;;) {
        MSG task{};
        {
            // `done` is checked under the queue's lock: a waker must take that lock to notify, so a change
            // between the check and the wait cannot be missed.
            std::unique_lock lock(queue->mutex);
            for (;;) {
                // Work that arrived first runs first (a release posted before the awaited reply, say).
                auto it = std::find_if(queue->messages.begin(), queue->messages.end(),
                                       [](const MSG& m) { return m.message == kTaskMessage; });
                if (it != queue->messages.end()) {
                    task = *it;
                    queue->messages.erase(it);
                    break;
                }
                if (done()) return true;
                auto now = std::chrono::steady_clock::now();
                if (now >= deadline) return false;
                queue->changed.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
            }
        }
        RunTask(task);
    }
}

void WakeThread(DWORD threadId) {
    if (auto queue = Find(threadId)) {
        std::lock_guard lock(queue->mutex);
        queue->changed.notify_all();
    }
}

}  // namespace qv::win

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }
DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

BOOL PeekMessageW(LPMSG msg, HWND, UINT, UINT, UINT remove) {
    auto queue = Own();
    std::lock_guard lock(queue->mutex);
    if (queue->messages.empty()) return FALSE;
    if (msg != nullptr) *msg = queue->messages.front();
    if (remove & PM_REMOVE) queue->messages.pop_front();
    return TRUE;
}

BOOL GetMessageW(LPMSG msg, HWND, UINT, UINT) {
    auto queue = Own();
    std::unique_lock lock(queue->mutex);
    queue->changed.wait(lock, [&] { return !queue->messages.empty(); });
    MSG got = queue->messages.front();
    queue->messages.pop_front();
    if (msg != nullptr) *msg = got;
    return got.message == WM_QUIT ? FALSE : TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTaskMessage) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MSG msg{};
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    if (Post(threadId, msg)) return TRUE;
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
}

void PostQuitMessage(int exitCode) {
    qv::win::EnsureThreadQueue();
    PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg != nullptr && msg->message == kTaskMessage) RunTask(*msg);
    return 0;
}
