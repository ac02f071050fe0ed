// Waiting in tests for something another thread or process does: poll a condition instead of sleeping a
// fixed time.
#pragma once

#include <chrono>
#include <thread>

// Asks `condition` about every 5 ms until it answers true or `timeout` has passed (the last time it is asked
// is after the deadline; a zero timeout asks once); answers whether it held. The condition may do work of its
// own: pump a message queue, start a program.
template <typename Condition, typename Rep, typename Period>
bool WaitUntil(Condition&& condition, std::chrono::duration<Rep, Period> timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
