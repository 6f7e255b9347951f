#include "sim/WorkerPool.h"

#include <cstdlib>

WorkerPool::WorkerPool(int threads) {
    for (int t = 1; t < threads; ++t) workers.emplace_back([this, t] { serve(t); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
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
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return closing || job != served; });
            if (closing) return;
            served = job;
        }
        takeChunks(thread);
        std::lock_guard<std::mutex> lock(mutex);
        if (--busy == 0) idle.notify_one();
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
        std::lock_guard<std::mutex> lock(mutex);
        work = &body;
        count = items;
        grain = chunk;
        nextItem.store(0, std::memory_order_relaxed);
        busy = static_cast<int>(workers.size());
        ++job;
    }
    wake.notify_all();
    takeChunks(0);
    // Every worker must have left the job before `body` goes out of scope; the mutex also
    // makes everything the workers wrote visible here.
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait(lock, [this] { return busy == 0; });
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
