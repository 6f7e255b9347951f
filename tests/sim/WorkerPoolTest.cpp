#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim/WorkerPool.h"

// Every item is handed out exactly once, in ranges of at most `grain`, with thread numbers
// inside the pool, whatever the pool's size, the count and the grain; and a pool serves
// job after job.
TEST(WorkerPool, CoversEveryItemOnceInChunks) {
    for (int threads : {1, 2, 3, 8}) {
        WorkerPool pool(threads);
        EXPECT_EQ(pool.size(), threads);
        for (int count : {0, 1, 7, 256, 1000, 4099}) {
            for (int grain : {1, 64, 256, 5000}) {
                std::vector<std::atomic<int>> seen(static_cast<std::size_t>(count));
                std::atomic<bool> bad{false};
                pool.run(count, grain, [&](int begin, int end, int thread) {
                    if (begin >= end || end - begin > grain || thread < 0 || thread >= threads)
                        bad = true;
                    for (int i = begin; i < end; ++i) seen[static_cast<std::size_t>(i)]++;
                });
                EXPECT_FALSE(bad) << threads << " " << count << " " << grain;
                for (int i = 0; i < count; ++i)
                    ASSERT_EQ(seen[static_cast<std::size_t>(i)].load(), 1)
                        << threads << " " << count << " " << grain << " item " << i;
            }
        }
    }
}

// Many short jobs in a row: no job is left before every worker has finished it, so what
// the workers wrote is all there when run returns.
TEST(WorkerPool, EveryJobIsFinishedWhenRunReturns) {
    WorkerPool pool(4);
    std::vector<int> values(512);
    for (int job = 0; job < 2000; ++job) {
        pool.run(512, 16, [&](int begin, int end, int) {
            for (int i = begin; i < end; ++i) values[static_cast<std::size_t>(i)] = job;
        });
        for (int i = 0; i < 512; i += 37) ASSERT_EQ(values[static_cast<std::size_t>(i)], job);
    }
}

// Each thread number is used by one call at a time, so it can choose a scratch buffer.
TEST(WorkerPool, NoTwoCallsShareAThreadNumberAtOnce) {
    WorkerPool pool(3);
    std::vector<std::atomic<int>> inside(3);
    std::atomic<bool> shared{false};
    for (int job = 0; job < 200; ++job)
        pool.run(600, 1, [&](int, int, int thread) {
            if (inside[static_cast<std::size_t>(thread)]++ != 0) shared = true;
            std::this_thread::yield();
            inside[static_cast<std::size_t>(thread)]--;
        });
    EXPECT_FALSE(shared);
}

// DAZIRUDO_THREADS chooses the count when it is a whole number from 1 to 256; anything
// else falls back to the hardware's threads.
TEST(WorkerPool, ThreadCountFromTheEnvironment) {
    const char* saved = std::getenv("DAZIRUDO_THREADS");
    const std::string before = saved ? saved : "";
    const auto set = [](const char* value) {
#ifdef _WIN32
        _putenv_s("DAZIRUDO_THREADS", value ? value : "");
#else
        if (value)
            setenv("DAZIRUDO_THREADS", value, 1);
        else
            unsetenv("DAZIRUDO_THREADS");
#endif
    };
    set(nullptr);
    const int hardware = defaultThreadCount();
    EXPECT_GE(hardware, 1);
    set("3");
    EXPECT_EQ(defaultThreadCount(), 3);
    set("1");
    EXPECT_EQ(defaultThreadCount(), 1);
    for (const char* bad : {"0", "-2", "257", "2x", "", "many"}) {
        set(bad);
        EXPECT_EQ(defaultThreadCount(), hardware) << bad;
    }
    set(saved ? before.c_str() : nullptr);
}
