// A small pool of worker threads for parallel_run, and aligned storage.
//
// The workers live for the whole process; its exit ends them.  Between jobs
// they poll for a new one for a short while, then sleep.  One job runs at a
// time: its tasks are handed out through an atomic counter, the caller taking
// its share as thread 0, so a job of count tasks costs at most one wake-up of
// the workers and no allocation.  A task that throws ends its job early: the
// tasks not yet taken are skipped, and once every thread has left the job the
// caller rethrows the first exception.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <immintrin.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include "mp/mp.h"
#include "mp/parallel.h"

namespace drmpi {

namespace {

thread_local int CurrentThread = 0;  // t of the running task; 0 outside tasks
thread_local bool InTask = false;

int processor_count() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? static_cast<int>(hw) : 1;
}

// Sets InTask (and the thread number) for its lifetime, and restores them.
class TaskScope {
  public:
    explicit TaskScope(int t) : was_(InTask), thread_(CurrentThread) {
        InTask = true;
        CurrentThread = t;
    }
    ~TaskScope() {
        InTask = was_;
        CurrentThread = thread_;
    }
    TaskScope(const TaskScope&) = delete;
    TaskScope& operator=(const TaskScope&) = delete;

  private:
    bool was_;
    int thread_;
};

class Pool {
  public:
    // Read on every job, so without the lock once set: a lock and unlock
    // cost a tenth of the merges of short blocks.
    int threads() {
        if (const int n = threads_.load(std::memory_order_relaxed); n != 0) return n;
        std::lock_guard<std::mutex> lock(mutex_);
        if (threads_.load() == 0) threads_.store(processor_count());
        return threads_.load();
    }

    void set_threads(int n) { threads_.store(n); }

    void start() {
        const int want = threads();
        std::lock_guard<std::mutex> job(job_mutex_);
        std::lock_guard<std::mutex> lock(mutex_);
        grow(want - 1);
    }

    void run(int count, void (*fn)(void*, int, int), void* ctx) {
        int want = std::min(threads(), count);
        if (want <= 1 || InTask) {
            const TaskScope scope(CurrentThread);
            for (int i = 0; i < count; ++i) fn(ctx, i, CurrentThread);
            return;
        }
        std::lock_guard<std::mutex> job(job_mutex_);  // one job at a time
        {
            std::lock_guard<std::mutex> lock(mutex_);
            try {
                grow(want - 1);
            } catch (const std::system_error&) {
                // Fewer threads give the same result, only later.
            }
            want = std::min(want, workers_ + 1);
            fn_ = fn;
            ctx_ = ctx;
            count_ = count;
            next_.store(0);
            error_ = nullptr;
            busy_.store(want - 1);
            job_.store(((job_.load() >> 32) + 1) << 32 | static_cast<uint64_t>(want - 1),
                       std::memory_order_release);
        }
        wake_.notify_all();
        take(0);
        await(done_, [this] { return busy_.load(std::memory_order_acquire) == 0; });
        if (error_) std::rethrow_exception(error_);
    }

    // Ends the workers without waiting for them: each leaves as it sees the
    // pool's generation change, and the next job starts new ones.
    void retire() {
        std::lock_guard<std::mutex> job(job_mutex_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (workers_ == 0) return;
            workers_ = 0;
            generation_.fetch_add(1);
            job_.store(((job_.load() >> 32) + 1) << 32, std::memory_order_release);
        }
        wake_.notify_all();
    }

  private:
    // Starts workers until there are count.  Called with mutex_ held; throws
    // std::system_error when the system refuses a thread.
    void grow(int count) {
        while (workers_ < count) {
            start_worker(workers_ + 1);
            ++workers_;
        }
    }

    // What a worker starts with: its pool, number and generation, and the
    // processors it may run on once it runs.
    struct Start {
        Pool* pool;
        int t;
        uint64_t generation;
        cpu_set_t allowed;
    };

    // Starts worker t, detached, on a processor other than the caller's where
    // there is one: left to the system, a new thread here often waited behind
    // its creator on the creator's processor for 1 to 4 ms, where one placed
    // elsewhere ran within 50 us.  Once running, it may run wherever the
    // process may.
    void start_worker(int t) {
        auto start = std::make_unique<Start>(Start{this, t, generation_.load(), {}});
        pthread_attr_t attr;
        if (const int e = pthread_attr_init(&attr); e != 0)
            throw std::system_error(e, std::generic_category(), "cannot start a thread");
        if (sched_getaffinity(0, sizeof start->allowed, &start->allowed) == 0) {
            cpu_set_t elsewhere = start->allowed;
            const int here = sched_getcpu();
            if (here >= 0) CPU_CLR(here, &elsewhere);
            if (CPU_COUNT(&elsewhere) > 0)
                pthread_attr_setaffinity_np(&attr, sizeof elsewhere, &elsewhere);
        } else {
            CPU_ZERO(&start->allowed);
        }
        pthread_t id;
        const int e = pthread_create(&id, &attr, run_worker, start.get());
        pthread_attr_destroy(&attr);
        if (e != 0) throw std::system_error(e, std::generic_category(), "cannot start a thread");
        start.release();
        pthread_detach(id);
    }

    static void* run_worker(void* arg) {
        const Start start = *static_cast<Start*>(arg);
        delete static_cast<Start*>(arg);
        if (CPU_COUNT(&start.allowed) > 0) sched_setaffinity(0, sizeof start.allowed, &start.allowed);
        start.pool->work(start.t, start.generation);
        return nullptr;
    }

    // Runs tasks of the current job as thread t until none is left, or one
    // has thrown.
    void take(int t) {
        const TaskScope scope(t);
        try {
            for (int i; (i = next_.fetch_add(1)) < count_;) fn_(ctx_, i, t);
        } catch (...) {
            next_.store(count_);
            std::lock_guard<std::mutex> lock(mutex_);
            if (!error_) error_ = std::current_exception();
        }
    }

    // Whether ready() came true within SpinTime of polling.  A wake-up through
    // the system takes 10 to 50 us in a virtual machine, as long as a short
    // transform: the threads poll that long before they sleep, so that the
    // jobs of a run pass between them in well under a microsecond.
    template <class Ready>
    static bool spin(const Ready& ready) {
        constexpr auto SpinTime = std::chrono::microseconds(100);
        const auto until = std::chrono::steady_clock::now() + SpinTime;
        for (;;) {
            for (int i = 0; i < 64; ++i) {
                if (ready()) return true;
                _mm_pause();
            }
            if (std::chrono::steady_clock::now() >= until) return ready();
        }
    }

    // Returns once ready() holds: polling, then asleep on cv, which is
    // notified with mutex_ held whenever ready() may have come true.
    template <class Ready>
    void await(std::condition_variable& cv, const Ready& ready) {
        if (spin(ready)) return;
        std::unique_lock<std::mutex> lock(mutex_);
        cv.wait(lock, ready);
    }

    // Takes part in the jobs of its generation as thread t, and returns once
    // the pool has retired it.
    void work(int t, uint64_t generation) {
        uint64_t seen = 0;
        for (;;) {
            await(wake_, [&] { return job_.load(std::memory_order_acquire) >> 32 != seen; });
            // The job's number and its helpers, read at once: while this
            // thread is one of them, the job stays as it is.
            const uint64_t job = job_.load(std::memory_order_acquire);
            if (generation_.load() != generation) return;
            seen = job >> 32;
            if (t > static_cast<int>(job & 0xffffffff)) continue;
            take(t);
            if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                std::lock_guard<std::mutex> lock(mutex_);
                done_.notify_one();
            }
        }
    }

    std::mutex job_mutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    int workers_ = 0;  // of the current generation
    std::atomic<uint64_t> generation_{0};
    std::atomic<int> threads_{0};
    // The current job's number (high half) and the workers that take part,
    // 1 .. helpers (low half), published once its fields are set.
    std::atomic<uint64_t> job_{0};
    std::atomic<int> busy_{0};  // of the helpers, those not yet finished
    void (*fn_)(void*, int, int) = nullptr;
    void* ctx_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0};
    std::exception_ptr error_;  // the first exception of the current job
};

// The pool of the process, never destroyed: a worker is never joined, so that
// the exit of the process wakes none and waits for none to free its stack
// and its heap (0.1 to 0.7 ms with two threads here).
Pool& pool() {
    static Pool& p = *new Pool;
    return p;
}

}  // namespace

int thread_count() { return pool().threads(); }

void set_thread_count(int n) { pool().set_threads(n < 1 ? 1 : n); }

void parallel_start() { pool().start(); }

void parallel_retire() { pool().retire(); }

void parallel_run(int count, void (*fn)(void* ctx, int i, int t), void* ctx) {
    pool().run(count, fn, ctx);
}

namespace {

// madvise(advice) on the whole pages within {p, bytes}; true when there are
// none.
bool advise_pages(void* p, size_t bytes, int advice) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = (start + PageBytes - 1) / PageBytes * PageBytes;
    const uintptr_t last = (start + bytes) / PageBytes * PageBytes;
    return last <= first || madvise(reinterpret_cast<void*>(first), last - first, advice) == 0;
}

}  // namespace

bool populate(void* p, size_t bytes) { return advise_pages(p, bytes, MADV_POPULATE_WRITE); }

void fault_in(double* p, int64_t count) {
    constexpr int64_t Page = PageBytes / sizeof(double);
    const int64_t pages = (count + Page - 1) / Page;
    const int parts = 4 * thread_count();
    parallel_for(parts, [&](int i, int) {
        const int64_t from = pages * i / parts, to = pages * (i + 1) / parts;
        if (populate(p + from * Page, (to - from) * PageBytes)) return;
        for (int64_t j = from; j < to; ++j) p[j * Page] = 0.0;
    });
}

void release(double* p, int64_t count) {
    advise_pages(p, static_cast<size_t>(count) * sizeof(double), MADV_DONTNEED);
}

void AlignedFree::operator()(double* p) const {
    if (mapped != 0) {
        munmap(p, mapped);
    } else {
        std::free(p);
    }
}

namespace {

// From 64 kB on, a block is mapped fresh: it comes zeroed by the page faults
// that touch it, without a pass over it.
constexpr size_t MapMin = size_t{64} << 10;

// A page fault of 4 kB costs about 1.9 us here, one of a huge page about
// 220 us (0.42 us for each 4 kB of it): a huge page pays once a quarter of it
// is touched.  So the whole huge pages of a block lie on huge pages, and its
// rest does too from a quarter of a huge page on, but on pages of 4 kB below
// that, where a huge page would be cleared mostly for nothing.
constexpr size_t HugeTailMin = HugePageBytes / 4;

// The bytes of a mapped block of `bytes` that lie on huge pages: its whole
// huge pages, and the one its rest starts when that rest is HugeTailMin or more.
size_t huge_part(size_t bytes) {
    const size_t whole = bytes / HugePageBytes * HugePageBytes;
    return bytes - whole >= HugeTailMin ? whole + HugePageBytes : whole;
}

// count doubles (1 at least) in whole cache lines of 64 bytes.
size_t line_bytes(int64_t count) {
    return static_cast<size_t>(round_up8(count < 1 ? 1 : count)) * sizeof(double);
}

}  // namespace

int64_t allocated_bytes(int64_t count) {
    const size_t bytes = line_bytes(count);
    if (bytes < MapMin) return static_cast<int64_t>(bytes);
    const size_t huge = huge_part(bytes);
    return static_cast<int64_t>(huge >= bytes ? huge : huge + round_up_pages(bytes - huge));
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
    const size_t length = static_cast<size_t>(allocated_bytes(count));
    const size_t huge = huge_part(bytes);
    if (huge == 0) {
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        madvise(p, length, MADV_NOHUGEPAGE);
        return Doubles(static_cast<double*>(p), AlignedFree{length});
    }
    // Mapped with a huge page to spare, then trimmed to start on a huge-page
    // boundary, so that its huge part can lie on huge pages.
    void* raw = mmap(nullptr, length + Huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + Huge - 1) / Huge * Huge;
    if (aligned > start) munmap(raw, aligned - start);
    if (aligned + length < start + length + Huge)
        munmap(reinterpret_cast<void*>(aligned + length), start + Huge - aligned);
    auto* p = reinterpret_cast<char*>(aligned);
    // Hints: without huge pages it still works.  The rest is kept off huge
    // pages even where every mapping may have them.
    madvise(p, huge, MADV_HUGEPAGE);
    if (length > huge) madvise(p + huge, length - huge, MADV_NOHUGEPAGE);
    return Doubles(reinterpret_cast<double*>(p), AlignedFree{length});
}

}  // namespace drmpi
