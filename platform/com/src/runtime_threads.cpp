// Runtime threads. A program's are detached; a shared library's are kept joinable, joined once finished, and
// all joined when the library is unloaded.

#include "runtime_threads.h"

#include "qv_module_unload.h"

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

}  // namespace qv::com
