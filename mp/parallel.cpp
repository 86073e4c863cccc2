// A small pool of worker threads for parallel_run, and aligned storage.
//
// The workers live for the whole process and sleep between jobs.  One job
// runs at a time: its tasks are handed out through an atomic counter, the
// caller taking its share as thread 0, so a job of count tasks costs one
// wake-up of the workers and no allocation.
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/mman.h>

#include "mp/mp.h"

namespace drmpi {

namespace {

thread_local int CurrentThread = 0;  // t of the running task; 0 outside tasks
thread_local bool InTask = false;

int default_thread_count() {
    if (const char* s = std::getenv("DRMPI_THREADS")) {
        char* end = nullptr;
        const long v = std::strtol(s, &end, 10);
        if (end != s && *end == '\0' && v >= 1 && v <= 1024) return static_cast<int>(v);
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? static_cast<int>(hw) : 1;
}

class Pool {
  public:
    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        for (std::thread& w : workers_) w.join();
    }

    int threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (threads_ == 0) threads_ = default_thread_count();
        return threads_;
    }

    void set_threads(int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        threads_ = n;
    }

    void run(int count, void (*fn)(void*, int, int), void* ctx) {
        const int want = std::min(threads(), count);
        if (want <= 1 || InTask) {
            serial(count, fn, ctx);
            return;
        }
        std::lock_guard<std::mutex> job(job_mutex_);  // one job at a time
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (static_cast<int>(workers_.size()) < want - 1) {
                const int t = static_cast<int>(workers_.size()) + 1;
                workers_.emplace_back([this, t] { work(t); });
            }
            fn_ = fn;
            ctx_ = ctx;
            count_ = count;
            next_.store(0);
            helpers_ = want - 1;
            busy_ = want - 1;
            ++generation_;
        }
        wake_.notify_all();
        take(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
    }

  private:
    static void serial(int count, void (*fn)(void*, int, int), void* ctx) {
        const bool was = InTask;
        InTask = true;
        for (int i = 0; i < count; ++i) fn(ctx, i, CurrentThread);
        InTask = was;
    }

    // Runs tasks of the current job as thread t until none is left.
    void take(int t) {
        CurrentThread = t;
        InTask = true;
        for (int i; (i = next_.fetch_add(1)) < count_;) fn_(ctx_, i, t);
        InTask = false;
        CurrentThread = 0;
    }

    void work(int t) {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return quit_ || (generation_ != seen && t <= helpers_); });
            if (quit_) return;
            seen = generation_;
            lock.unlock();
            take(t);
            lock.lock();
            if (--busy_ == 0) done_.notify_one();
        }
    }

    std::mutex job_mutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> workers_;
    int threads_ = 0;
    bool quit_ = false;
    uint64_t generation_ = 0;
    int helpers_ = 0;  // workers 1..helpers_ take part in the current job
    int busy_ = 0;     // of them, those not yet finished
    void (*fn_)(void*, int, int) = nullptr;
    void* ctx_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0};
};

Pool& pool() {
    static Pool p;
    return p;
}

}  // namespace

int thread_count() { return pool().threads(); }

void set_thread_count(int n) { pool().set_threads(n < 1 ? 1 : n); }

void parallel_serial_thread() { InTask = true; }

void parallel_run(int count, void (*fn)(void* ctx, int i, int t), void* ctx) {
    pool().run(count, fn, ctx);
}

void AlignedFree::operator()(double* p) const {
    if (mapped != 0) {
        munmap(p, mapped);
    } else {
        std::free(p);
    }
}

namespace {

// A page fault costs about 10 us here, a huge page's about 125 us: from 64 kB
// on, a block is cheaper on huge pages.
constexpr size_t MapMin = size_t{64} << 10;

// count doubles (1 at least) in whole cache lines of 64 bytes.
size_t line_bytes(int64_t count) {
    const size_t words = static_cast<size_t>(count < 1 ? 1 : count);
    return (words * sizeof(double) + 63) / 64 * 64;
}

}  // namespace

int64_t allocated_bytes(int64_t count) {
    const size_t bytes = line_bytes(count);
    if (bytes < MapMin) return static_cast<int64_t>(bytes);
    return static_cast<int64_t>((bytes + HugePageBytes - 1) / HugePageBytes * HugePageBytes);
}

Doubles allocate_doubles(int64_t count) {
    constexpr size_t Huge = HugePageBytes;
    const size_t bytes = line_bytes(count);
    if (bytes < MapMin) {
        void* p = std::aligned_alloc(64, bytes);
        if (p == nullptr) throw std::bad_alloc();
        std::memset(p, 0, bytes);
        return Doubles(static_cast<double*>(p));
    }
    // Mapped with a huge page to spare, then trimmed to start on a huge-page
    // boundary, so that all of it can lie on huge pages.
    const size_t length = static_cast<size_t>(allocated_bytes(count));
    void* raw = mmap(nullptr, length + Huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + Huge - 1) / Huge * Huge;
    if (aligned > start) munmap(raw, aligned - start);
    if (aligned + length < start + length + Huge)
        munmap(reinterpret_cast<void*>(aligned + length), start + Huge - aligned);
    void* p = reinterpret_cast<void*>(aligned);
    madvise(p, length, MADV_HUGEPAGE);  // a hint: without huge pages it still works
    return Doubles(static_cast<double*>(p), AlignedFree{length});
}

}  // namespace drmpi
