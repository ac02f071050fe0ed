// Work delivered to a particular thread through its message queue: how COM brings an incoming call onto the
// thread of a single-threaded apartment.
#pragma once

#include "windef.h"

#include <chrono>
#include <functional>

namespace qv::win {

// Creates the calling thread's message queue if it has none.
void EnsureThreadQueue();

// Queues `task` for thread `threadId`; DispatchMessageW (or RunThreadTasksUntil) on that thread runs it.
// Returns false when the thread has no queue; the task is then destroyed without running.
bool PostThreadTask(DWORD threadId, std::function<void()> task);

// Runs tasks posted to the calling thread until `done()` is true or `deadline` passes; other messages stay
// queued for the message loop. Returns whether `done()` became true. `done` runs under the queue's lock (it
// must not post to this thread); wake the waiter with WakeThread after `done` may have changed.
bool RunThreadTasksUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);
void WakeThread(DWORD threadId);

}  // namespace qv::win
