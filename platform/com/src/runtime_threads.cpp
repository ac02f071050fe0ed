// The runtime's own threads (connection readers, workers serving calls) and the process's connections, so that
// the runtime can be brought to rest when the process's last apartment is uninitialised. A module that carries
// its own copy of the runtime (a shared library linked with it) ends its COM use before it is unloaded; its
// threads must have left its code by then.

#include "connection.h"
#include "runtime.h"

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::com {
namespace {

struct RuntimeThread {
    std::thread thread;
    bool done = false;
};

// Never destroyed: threads may still report to it while the module's static objects are being torn down.
struct Threads {
    std::mutex mutex;
    std::condition_variable ended;
    std::list<RuntimeThread> running;
    std::vector<std::weak_ptr<Connection>> connections;
};
Threads& State() {
    static auto* state = new Threads();
    return *state;
}

thread_local bool runtime_thread = false;

// Workers for calls into the multithreaded apartment: a task goes to an idle worker when there is one, else a
// new worker starts. A worker idle for kWorkerIdle ends; all idle ones end when the runtime comes to rest.
constexpr auto kWorkerIdle = std::chrono::seconds(2);
struct Workers {
    std::mutex mutex;
    std::condition_variable work;
    std::deque<std::function<void()>> tasks;
    int idle = 0;
    bool resting = false;
};
Workers& Pool() {
    static auto* pool = new Workers();
    return *pool;
}

void WorkerLoop() {
    Workers& p = Pool();
    std::unique_lock lock(p.mutex);
    for (;;) {
        ++p.idle;
        bool got = p.work.wait_for(lock, kWorkerIdle, [&] { return !p.tasks.empty() || p.resting; });
        --p.idle;
        if (!got || p.tasks.empty()) return;
        std::function<void()> task = std::move(p.tasks.front());
        p.tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
}

// Joins the threads that have finished their work (they only return from here on). Called under the lock.
void ReapLocked(Threads& s) {
    for (auto it = s.running.begin(); it != s.running.end();) {
        if (it->done) {
            if (it->thread.joinable()) it->thread.join();
            it = s.running.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

void StartRuntimeThread(std::function<void()> body) {
    Threads& s = State();
    std::lock_guard lock(s.mutex);
    ReapLocked(s);
    s.running.emplace_back();
    RuntimeThread* entry = &s.running.back();
    entry->thread = std::thread([entry, body = std::move(body)]() mutable {
        runtime_thread = true;
        body();
        body = nullptr;  // what the work captured goes before the thread reports its end
        Threads& state = State();
        std::lock_guard done(state.mutex);
        entry->done = true;
        state.ended.notify_all();
    });
}

void RunOnWorker(std::function<void()> task) {
    Workers& p = Pool();
    bool start = false;
    {
        std::lock_guard lock(p.mutex);
        p.tasks.push_back(std::move(task));
        start = static_cast<size_t>(p.idle) < p.tasks.size();
    }
    if (start) StartRuntimeThread(&WorkerLoop);
    else Pool().work.notify_one();
}

void TrackConnection(const std::shared_ptr<Connection>& connection) {
    Threads& s = State();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.connections, [](const std::weak_ptr<Connection>& c) { return c.expired(); });
    s.connections.push_back(connection);
}

bool EndConnections(std::chrono::milliseconds limit) {
    // A runtime thread would wait for itself.
    if (runtime_thread) return false;
    Threads& s = State();
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(s.mutex);
        for (auto& weak : s.connections)
            if (auto c = weak.lock()) open.push_back(std::move(c));
        s.connections.clear();
    }
    for (auto& c : open) c->Close();
    open.clear();
    {
        std::lock_guard rest(Pool().mutex);
        Pool().resting = true;
    }
    Pool().work.notify_all();
    std::unique_lock lock(s.mutex);
    bool all = s.ended.wait_for(lock, limit, [&] {
        for (const auto& t : s.running)
            if (!t.done) return false;
        return true;
    });
    ReapLocked(s);
    // A thread still busy after the limit (a call that does not return) is let go rather than waited for.
    for (auto& t : s.running)
        if (t.thread.joinable()) t.thread.detach();
    lock.unlock();
    std::lock_guard again(Pool().mutex);
    Pool().resting = false;
    return all;
}

}  // namespace qv::com
