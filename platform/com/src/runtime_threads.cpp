// Runtime threads. A program's are detached; a shared library's are kept joinable, joined once finished, and
// all joined when the library is unloaded. Calls into the multithreaded apartment run on pooled workers.

#include "runtime_threads.h"

#include "qv_module_unload.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace qv::com {
namespace {

struct Threads {
    std::mutex mutex;
    std::list<std::thread> running;
    std::vector<std::thread::id> finished;  // threads whose body returned, not yet joined
};

Threads& All() {
    static auto* threads = win::KeepUntilUnload(new Threads());
    return *threads;
}

// Workers for calls into the multithreaded apartment: a task goes to an idle worker when there is one, else a
// new worker starts (a provider indicating thousands of instances must not cost a thread each). A worker idle
// for kWorkerIdle ends; all idle ones end when the runtime stops.
constexpr auto kWorkerIdle = std::chrono::seconds(2);
struct Workers {
    std::mutex mutex;
    std::condition_variable work;
    std::deque<std::function<void()>> tasks;
    size_t idle = 0;
    bool stopping = false;
};
std::atomic<Workers*> pool_made{nullptr};
Workers& Pool() {
    static auto* pool = [] {
        auto* made = win::KeepUntilUnload(new Workers());
        pool_made = made;
        return made;
    }();
    return *pool;
}

void WorkerLoop() {
    Workers& pool = Pool();
    std::unique_lock lock(pool.mutex);
    for (;;) {
        ++pool.idle;
        bool got = pool.work.wait_for(lock, kWorkerIdle, [&] { return !pool.tasks.empty() || pool.stopping; });
        --pool.idle;
        if (!got || pool.tasks.empty()) return;
        std::function<void()> task = std::move(pool.tasks.front());
        pool.tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // what the task captured goes before the worker waits again
        lock.lock();
    }
}

// Joins the threads that finished (called with the lock held; a finished thread no longer takes it).
void Reap(Threads& threads) {
    for (auto id : threads.finished) {
        for (auto it = threads.running.begin(); it != threads.running.end(); ++it) {
            if (it->get_id() == id) {
                it->join();
                threads.running.erase(it);
                break;
            }
        }
    }
    threads.finished.clear();
}

// At unload: end every wait a runtime thread may be blocked in, then join them all.
void StopRuntime() {
    StopListening();
    CloseAllConnections();
    if (Workers* pool = pool_made.load()) {  // never made at unload: a table made now would not be freed
        {
            std::lock_guard lock(pool->mutex);
            pool->stopping = true;
        }
        pool->work.notify_all();
    }
    Threads& threads = All();
    std::list<std::thread> running;
    {
        std::lock_guard lock(threads.mutex);
        running.swap(threads.running);
        threads.finished.clear();
    }
    for (auto& thread : running) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();  // unloaded from one of its own threads: it returns into code that still exists
        else
            thread.join();
    }
}

}  // namespace

bool StartRuntimeThread(std::function<void()> body) {
    if (!win::PlatformInSharedLibrary()) {
        try {
            std::thread(std::move(body)).detach();
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    static std::once_flag armed;
    std::call_once(armed, [] { win::AtModuleUnloadStop(&StopRuntime); });
    Threads& threads = All();
    std::lock_guard lock(threads.mutex);
    Reap(threads);
    try {
        threads.running.emplace_back([body = std::move(body), &threads]() mutable {
            body();
            body = nullptr;  // what the body captured goes before the thread counts as finished
            std::lock_guard done(threads.mutex);
            threads.finished.push_back(std::this_thread::get_id());
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool RunOnWorker(std::function<void()> task) {
    Workers& pool = Pool();
    std::lock_guard lock(pool.mutex);  // a worker started here waits for it before it looks at the queue
    if (pool.stopping) return false;
    if (pool.idle <= pool.tasks.size() && !StartRuntimeThread(&WorkerLoop)) return false;  // none free, none new
    pool.tasks.push_back(std::move(task));
    pool.work.notify_one();
    return true;
}

}  // namespace qv::com
