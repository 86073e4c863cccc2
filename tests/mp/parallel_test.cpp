// The pool under failure: a task that throws, on the caller or on a worker,
// ends its job cleanly, and the pool goes on; and a pool whose workers were
// retired starts new ones.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "mp/mp.h"
#include "mp/parallel.h"

namespace drmpi_test {
namespace {

// The exception reaches the caller only once every thread has left the job
// (a worker still running would write to the caller's unwound frame), the
// tasks not yet taken are skipped, and the next job runs whole.
TEST(Parallel, ATaskThatThrowsEndsItsJob) {
    const int threads = drmpi::thread_count();
    drmpi::set_thread_count(2);
    drmpi::parallel_start();
    for (const int thrower : {0, 1}) {
        std::atomic<int> ran{0}, running{0};
        EXPECT_THROW(drmpi::parallel_for(200, [&](int, int t) {
            ++running;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            ++ran;
            --running;
            if (t == thrower) throw std::bad_alloc();
        }), std::bad_alloc) << "thread " << thrower;
        EXPECT_EQ(running.load(), 0) << "a task outlived its job";
        EXPECT_LT(ran.load(), 200);
        std::atomic<int> whole{0};
        drmpi::parallel_for(200, [&](int, int) { ++whole; });
        EXPECT_EQ(whole.load(), 200);
    }
    drmpi::set_thread_count(threads);
}

// Workers retired while they poll, sleep or have not yet run leave without
// taking part in a later job: every job of new workers runs each task once,
// on both threads where they meet.
TEST(Parallel, RetiredWorkersLeaveLaterJobsAlone) {
    const int threads = drmpi::thread_count();
    drmpi::set_thread_count(2);
    int both = 0;
    for (int round = 0; round < 300; ++round) {
        std::atomic<int> tasks{0}, seen{0};
        drmpi::parallel_for(64, [&](int, int t) {
            ++tasks;
            seen |= 1 << t;
            std::this_thread::sleep_for(std::chrono::microseconds(round % 3 * 20));
        });
        EXPECT_EQ(tasks.load(), 64);
        both += seen.load() == 3;
        if (round % 4 != 3) drmpi::parallel_retire();
        if (round % 5 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    EXPECT_GT(both, 0);
    drmpi::set_thread_count(threads);
}

}  // namespace
}  // namespace drmpi_test
