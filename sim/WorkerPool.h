// A fixed set of threads that share the per-floater passes with the thread that calls
// them. Work is handed out in chunks of consecutive items, to whichever thread asks first,
// so a pass stays bit-identical whatever the thread count only when each item's result
// depends on that item alone and the pass combines nothing across items in the workers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
    // `threads` counts the calling thread too; below 1 it is taken as 1 (no extra thread).
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int size() const { return static_cast<int>(workers.size()) + 1; }

    // Calls work(begin, end, thread) for consecutive ranges of at most `grain` items that
    // together cover [0, count) once each, and returns when all are done. `thread` is in
    // [0, size()) and no two calls running at the same time share it, so it can pick a
    // scratch buffer. With one thread, or not more than one chunk, everything runs here,
    // in order. Not reentrant: `work` must not call run on the same pool.
    void run(int count, int grain, const std::function<void(int, int, int)>& work);

private:
    void serve(int thread);
    // Takes chunks until none is left.
    void takeChunks(int thread);

    std::vector<std::thread> workers;
    std::mutex mutex;
    // Waiting threads look for a new job, or for its end, for a short while before they
    // sleep on these.
    std::condition_variable wake;  // a job was posted, or the pool is closing
    std::condition_variable idle;  // the last worker has left the job
    std::atomic<unsigned long long> job{0};  // counts posted jobs; a worker serves each once
    std::atomic<bool> closing{false};
    std::atomic<int> busy{0};  // workers that have not yet left the current job
    const std::function<void(int, int, int)>* work = nullptr;
    int count = 0;
    int grain = 1;
    std::atomic<int> nextItem{0};
};

// The thread count a system uses when it is not told one: DAZIRUDO_THREADS when that is a
// whole number from 1 to 256, else the processor's hardware threads (1 when unknown).
int defaultThreadCount();
