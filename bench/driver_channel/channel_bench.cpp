// The round trip of one driver request over the two channels a caller and its driver process could use, with
// a request and an answer of a driver request's size (a 40-byte register block plus a small data area):
//   socket   what DeviceIoControl does today: one sendmsg of the request over a Unix stream socket, the server
//            polls, receives, answers with one send, the caller receives
//   shared   both sides share a mapped page; the caller writes the request and raises a sequence word, the
//            server spins a short while on it (Spin iterations of a pause) and then sleeps on a futex; the
//            answer comes back the same way
// Each runs with both processes on one processor (as the library places itself and its driver) and with
// each process free to run on any processor.
//
//   driver_channel_bench [--benchmark_repetitions=N ...]
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kRequest = 40 + 24;  // register block and a system-object request's data area
constexpr size_t kAnswer = 40 + 64;

void Pin(bool oneProcessor) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (oneProcessor) {
        CPU_SET(0, &set);
    } else {
        for (int c = 0; c < CPU_SETSIZE; ++c) CPU_SET(c, &set);
    }
    sched_setaffinity(0, sizeof set, &set);
}

// --- socket ------------------------------------------------------------------------------------------------

void SocketRoundTrip(benchmark::State& state) {
    bool one = state.range(0) != 0;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    Pin(one);
    pid_t server = fork();
    if (server == 0) {
        close(pair[0]);
        char in[kRequest], out[kAnswer] = {};
        pollfd p{pair[1], POLLIN, 0};
        for (;;) {
            if (poll(&p, 1, -1) != 1) _exit(1);
            size_t got = 0;
            while (got < kRequest) {
                ssize_t n = recv(pair[1], in + got, kRequest - got, 0);
                if (n <= 0) _exit(0);
                got += static_cast<size_t>(n);
            }
            std::memcpy(out, in, 8);
            if (send(pair[1], out, kAnswer, MSG_NOSIGNAL) != static_cast<ssize_t>(kAnswer)) _exit(0);
        }
    }
    close(pair[1]);
    char request[kRequest] = {}, answer[kAnswer];
    for (auto _ : state) {
        msghdr m{};
        iovec v{request, kRequest};
        m.msg_iov = &v;
        m.msg_iovlen = 1;
        sendmsg(pair[0], &m, MSG_NOSIGNAL);
        size_t got = 0;
        while (got < kAnswer) {
            ssize_t n = recv(pair[0], answer + got, kAnswer - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(answer[0]);
    }
    close(pair[0]);
    waitpid(server, nullptr, 0);
    Pin(false);
}

// --- shared memory -----------------------------------------------------------------------------------------

struct Channel {
    std::atomic<uint32_t> request{0};  // raised by the caller for each request; 0xFFFFFFFF ends the server
    std::atomic<uint32_t> answer{0};   // set to the request's number when the answer is there
    std::atomic<uint32_t> serverSleeping{0}, callerSleeping{0};
    char data[kRequest + kAnswer];
};

long Futex(std::atomic<uint32_t>* word, int op, uint32_t value) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, nullptr, nullptr, 0);
}

// Waits until `word` differs from `old`: `spin` pauses first, then the futex (announced in `sleeping`).
uint32_t Await(std::atomic<uint32_t>& word, uint32_t old, std::atomic<uint32_t>& sleeping, int spin) {
    for (int i = 0; i < spin; ++i) {
        uint32_t now = word.load(std::memory_order_acquire);
        if (now != old) return now;
        __builtin_ia32_pause();
    }
    for (;;) {
        sleeping.store(1, std::memory_order_seq_cst);
        uint32_t now = word.load(std::memory_order_seq_cst);
        if (now != old) {
            sleeping.store(0, std::memory_order_relaxed);
            return now;
        }
        Futex(&word, FUTEX_WAIT, old);
        sleeping.store(0, std::memory_order_relaxed);
    }
}

void Post(std::atomic<uint32_t>& word, uint32_t value, std::atomic<uint32_t>& sleeping) {
    word.store(value, std::memory_order_seq_cst);
    if (sleeping.load(std::memory_order_seq_cst) != 0) Futex(&word, FUTEX_WAKE, 1);
}

void SharedRoundTrip(benchmark::State& state) {
    bool one = state.range(0) != 0;
    int spin = static_cast<int>(state.range(1));
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
        state.SkipWithError("mmap");
        return;
    }
    auto* channel = new (page) Channel();
    Pin(one);
    pid_t server = fork();
    if (server == 0) {
        uint32_t seen = 0;
        for (;;) {
            seen = Await(channel->request, seen, channel->serverSleeping, spin);
            if (seen == 0xFFFFFFFF) _exit(0);
            std::memcpy(channel->data + kRequest, channel->data, 8);
            Post(channel->answer, seen, channel->callerSleeping);
        }
    }
    uint32_t number = 0;
    for (auto _ : state) {
        std::memset(channel->data, 1, kRequest);
        ++number;
        Post(channel->request, number, channel->serverSleeping);
        uint32_t old = number - 1;
        while (Await(channel->answer, old, channel->callerSleeping, spin) != number) old = channel->answer.load();
        benchmark::DoNotOptimize(channel->data[kRequest]);
    }
    Post(channel->request, 0xFFFFFFFF, channel->serverSleeping);
    waitpid(server, nullptr, 0);
    munmap(page, 4096);
    Pin(false);
}

}  // namespace

// Argument: 1 = both processes on the first processor, 0 = anywhere.
BENCHMARK(SocketRoundTrip)->Arg(1)->Arg(0)->UseRealTime();
// Arguments: one processor or anywhere, spin iterations before sleeping.
BENCHMARK(SharedRoundTrip)->Args({1, 0})->Args({1, 200})->Args({0, 0})->Args({0, 200})->Args({0, 2000})->UseRealTime();

BENCHMARK_MAIN();
