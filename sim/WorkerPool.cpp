#include "sim/WorkerPool.h"

#include <chrono>
#include <cstdlib>

namespace {

// How long a thread that waits for the pool keeps looking before it sleeps. Waking a
// sleeping thread costs tens of microseconds, as much as a small pass takes, and a step
// posts its passes back to back; but a spinning thread also slows the one that works
// (measured on the two-core machines we build on), so the wait is kept short. A pool left
// alone (a stable sample, a program waiting for input) is asleep again within it.
constexpr std::chrono::microseconds spinTime(50);

void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Calls `done` until it holds or the spin time is over; whether it held.
template <typename Done>
bool spinUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + spinTime;
    for (int round = 1;; ++round) {
        if (done()) return true;
        relax();
        if (round % 64 == 0 && std::chrono::steady_clock::now() > deadline) return done();
    }
}

}  // namespace

WorkerPool::WorkerPool(int threads) {
    for (int t = 1; t < threads; ++t) workers.emplace_back([this, t] { serve(t); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing.store(true, std::memory_order_release);
    }
    wake.notify_all();
    for (std::thread& worker : workers) worker.join();
}

void WorkerPool::takeChunks(int thread) {
    for (;;) {
        const int begin = nextItem.fetch_add(grain, std::memory_order_relaxed);
        if (begin >= count) return;
        const int end = count - begin > grain ? begin + grain : count;
        (*work)(begin, end, thread);
    }
}

void WorkerPool::serve(int thread) {
    unsigned long long served = 0;
    const auto posted = [&] {
        return closing.load(std::memory_order_acquire) ||
               job.load(std::memory_order_acquire) != served;
    };
    for (;;) {
        if (!spinUntil(posted)) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, posted);
        }
        if (closing.load(std::memory_order_acquire)) return;
        served = job.load(std::memory_order_acquire);
        takeChunks(thread);
        // The last one out wakes the caller, under the mutex so that the wake cannot fall
        // between the caller's look at `busy` and its sleep.
        if (busy.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard<std::mutex> lock(mutex);
            idle.notify_one();
        }
    }
}

void WorkerPool::run(int items, int chunk, const std::function<void(int, int, int)>& body) {
    if (items <= 0) return;
    if (chunk < 1) chunk = 1;
    if (workers.empty() || items <= chunk) {
        for (int begin = 0; begin < items; begin += chunk)
            body(begin, items - begin > chunk ? begin + chunk : items, 0);
        return;
    }
    {
        // Everything a worker reads is written before the job number moves on; a worker
        // that sees the new number (acquire) sees it all.
        std::lock_guard<std::mutex> lock(mutex);
        work = &body;
        count = items;
        grain = chunk;
        nextItem.store(0, std::memory_order_relaxed);
        busy.store(static_cast<int>(workers.size()), std::memory_order_relaxed);
        job.fetch_add(1, std::memory_order_release);
    }
    wake.notify_all();
    takeChunks(0);
    // Every worker must have left the job before `body` goes out of scope; `busy` reaching
    // 0 (acquire) also makes everything the workers wrote visible here.
    const auto finished = [this] { return busy.load(std::memory_order_acquire) == 0; };
    if (!spinUntil(finished)) {
        std::unique_lock<std::mutex> lock(mutex);
        idle.wait(lock, finished);
    }
    work = nullptr;
}

int defaultThreadCount() {
    if (const char* text = std::getenv("DAZIRUDO_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && n >= 1 && n <= 256) return static_cast<int>(n);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}
