// Threads and storage: the pool that shares a job's tasks among the
// threads, and zeroed aligned blocks of doubles.
// Every routine here is defined in parallel.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace drmpi {

// ---------------------------------------------------------------------- threads --

// The number of threads that parallel_for uses: every processor this process
// may run on, unless set_thread_count said otherwise.
int thread_count();

// Changes the thread count (n >= 1) for the calls that follow.
void set_thread_count(int n);

// Sets the thread count for its lifetime, and restores it.
class ThreadCountScope {
  public:
    explicit ThreadCountScope(int n) : was_(thread_count()) { set_thread_count(n); }
    ~ThreadCountScope() { set_thread_count(was_); }
    ThreadCountScope(const ThreadCountScope&) = delete;
    ThreadCountScope& operator=(const ThreadCountScope&) = delete;

  private:
    int was_;
};

// Starts the threads that thread_count() asks for now, rather than on first
// use: a run calls it before it starts, so that a system that refuses threads
// stops it there.  Throws std::system_error when a thread cannot be started;
// those started stay.  Without it, threads start on first use, and a refused
// one is done without.
void parallel_start();

// Ends the threads beside the caller, without waiting for them, for a process
// that will not need them for a while: one whose threads have all ended exits
// without waking any.  The next job that needs threads starts them again.
void parallel_retire();

// Runs fn(ctx, i, t) for i = 0 .. count-1, on up to thread_count() threads
// at once, and returns when all are done.  t < thread_count() names the
// thread that runs the task, no two running tasks share it, and thread 0 is
// the caller.  Called from within a task, it runs the tasks one after another
// on the calling thread, with its t.  Which thread runs which task varies, so
// a task's result must not depend on t beyond the scratch it picks.  When a
// task throws, the tasks not yet started are skipped, and the first exception
// is rethrown once every thread has left the job.
void parallel_run(int count, void (*fn)(void* ctx, int i, int t), void* ctx);

// parallel_run of task(i, t).
template <class Task>
void parallel_for(int count, Task&& task) {
    parallel_run(count, [](void* ctx, int i, int t) { (*static_cast<Task*>(ctx))(i, t); },
                 &task);
}

// ---------------------------------------------------------------------- storage --

// Zeroed doubles, 64-byte aligned, freed with the pointer.  Blocks of 64 kB
// and more are mapped fresh from the system, so that they come zeroed without
// a pass over them: their whole huge pages on huge pages where it has them,
// for few page faults, and the rest too when it fills a quarter of a huge
// page or more, else on pages of 4 kB.  Throws std::bad_alloc when the memory
// is not there.
struct AlignedFree {
    size_t mapped = 0;  // bytes of a mapping, 0 for the heap
    void operator()(double* p) const;
};
using Doubles = std::unique_ptr<double[], AlignedFree>;
Doubles allocate_doubles(int64_t count);

// Has the system back the whole pages within {p, bytes} of a private
// mapping (the heap included) with memory now, their contents unchanged, in
// one call: a page fault costs 2 to 10 us in a virtual machine, this call
// 0.5 us a page of 4 kB, and the first write to the page then up to 5 us more.
// Returns false where the system cannot (before Linux 5.14), or when it has
// not the memory; the pages are then faulted in as they are written.
bool populate(void* p, size_t bytes);

// Backs every page of {p, count}, zeroed memory of allocate_doubles, on all
// threads at once (populate, or a zero written to each page), so that the
// kernel clears the fresh pages on all of them rather than wherever the first
// touch falls, often in work on one thread: a tenth of the time of a run of
// 10^7 or 10^8 digits.  The memory stays zero.
void fault_in(double* p, int64_t count);

// Gives the whole pages within {p, count}, part of a block of
// allocate_doubles, back to the system: they read as zero again, and take no
// memory until they are touched.  For storage whose contents are spent, so
// that what comes next does not take memory on top of it.
void release(double* p, int64_t count);

// The size of a page, and of a huge page.
inline constexpr int64_t PageBytes = 4096;
inline constexpr int64_t HugePageBytes = int64_t{2} << 20;

// bytes rounded up to whole pages, bytes >= 0.
inline constexpr int64_t round_up_pages(int64_t bytes) {
    return (bytes + PageBytes - 1) / PageBytes * PageBytes;
}

// Bytes that allocate_doubles(count) takes: from 64 kB on, a mapping of whole
// huge pages and pages, as allocate_doubles lays the block out (and, while it
// is made, one huge page more); below, a block of the heap.
int64_t allocated_bytes(int64_t count);

}  // namespace drmpi
