// The request channel of one opened device handle: a shared memory page that the caller makes when it opens
// the device and hands to the driver with its greeting. A request and its answer are written into the page and
// the other side is woken through a futex on `turn`: two wake-ups and four system calls per request, where a
// message each way over the socket costs about twice as much. The socket stays the handle's connection: the
// driver learns from it that the caller closed the handle or died, and the caller that the driver died (it
// looks while it waits for an answer).
#pragma once

#include "qv_device_server.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace qv::win {

// Whose turn it is. The caller writes a request and moves kIdle or kAnswered to kAsked; the driver answers
// and moves kAsked to kAnswered. kClosed: the driver serves the page no more (the handle is closing, or the
// page held a request it refused).
enum DeviceTurn : uint32_t { kTurnIdle = 0, kTurnAsked = 1, kTurnAnswered = 2, kTurnClosed = 3 };

// The greeting's last word: which descriptors came with it, in this order.
constexpr uint32_t kGreetingArea = 1;     // the caller's memory area (VirtualAlloc)
constexpr uint32_t kGreetingChannel = 2;  // the request channel, sealed against shrinking

struct DeviceChannel {
    std::atomic<uint32_t> turn;
    // The request: its code and sizes; `withOutput`: the caller's output buffer follows the input ("neither").
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    uint32_t withOutput;
    // The answer: DeviceIoControl's result, its last error, and the bytes of `data` it returned.
    uint32_t ok;
    uint32_t error;
    uint32_t count;
    // Request: the input, then (withOutput) the output buffer. Answer: the output.
    uint8_t data[2 * kMaxDeviceTransfer];
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// The futex calls on `turn`, shared between processes (not FUTEX_PRIVATE). A wait returns when the word is no
// longer `seen`, when woken, on a signal or after `timeout` (null: none).
inline void WaitTurn(DeviceChannel& channel, uint32_t seen, const timespec* timeout) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&channel.turn), FUTEX_WAIT, seen, timeout, nullptr, 0);
}
inline void WakeTurn(DeviceChannel& channel) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&channel.turn), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

}  // namespace qv::win
