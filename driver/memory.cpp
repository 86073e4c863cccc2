// The memory of a command-line run: what it takes, block by block as it
// allocates them, and the memory there is for it.
#include "driver/memory.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/driver.h"
#include "mp/mp.h"

namespace drmpi {

namespace {

// What the program itself keeps resident beside the blocks of a run: its
// code, its libraries, its stack and its heap.  A run of one digit peaks at
// 2.6 MB, and longer runs keep up to 2.9 MB beside their blocks and digits,
// as they touch more of the code (the transforms); the rest is room for what
// differs between environments.
constexpr int64_t ProgramBytes = int64_t{7} << 19;

// What a thread beside the main one keeps resident: the pages of its stack
// and of its malloc arena that it touches.  Where every mapping gets huge
// pages, its stack takes a huge page besides.
constexpr int64_t ThreadBytes = int64_t{128} << 10;

// The address space of a thread's malloc arena: glibc reserves 64 MB for
// each, for up to eight threads per processor.
constexpr int64_t ArenaBytes = int64_t{64} << 20;

// Address space for the small allocations of the main thread's heap.
constexpr int64_t HeapBytes = int64_t{1} << 20;

// bytes in whole pages of 4 kB.
int64_t pages(int64_t bytes) { return (bytes + 4095) / 4096 * 4096; }

// Which mappings lie on huge pages: none when the kernel's transparent huge
// pages are missing or "never", those that ask for them (the blocks of
// allocate_doubles) when "madvise", and every large one when "always".
enum class HugePages { never, madvise, always };

HugePages huge_pages() {
    FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (f == nullptr) return HugePages::never;
    char line[128] = "";
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!read || std::strstr(line, "[never]") != nullptr) return HugePages::never;
    return std::strstr(line, "[always]") != nullptr ? HugePages::always : HugePages::madvise;
}

// The address space of a thread's stack, its guard page included.
int64_t thread_stack_bytes() {
    size_t stack = size_t{8} << 20, guard = 4096;
    pthread_attr_t a;
    if (pthread_getattr_default_np(&a) == 0) {
        pthread_attr_getstacksize(&a, &stack);
        pthread_attr_getguardsize(&a, &guard);
        pthread_attr_destroy(&a);
    }
    return static_cast<int64_t>(stack + guard);
}

// The field `name` ("MemAvailable", "VmSize") of a /proc file of "name: value
// kB" lines, in bytes; -1 when it cannot be read.
int64_t proc_field(const char* file, const char* name) {
    FILE* f = std::fopen(file, "r");
    if (f == nullptr) return -1;
    const size_t length = std::strlen(name);
    char line[256];
    long long kb = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            if (std::sscanf(line + length + 1, "%lld", &kb) != 1) kb = -1;
            break;
        }
    std::fclose(f);
    return kb < 0 ? -1 : static_cast<int64_t>(kb) * 1024;
}

}  // namespace

RunMemory run_memory(int fmt_size, bool verify, int threads) {
    const int n = fmt_size;
    // The blocks of allocate_doubles, each touched throughout: the workspace
    // and, from length 32 on, where the products use transforms, the table of
    // cos and sin and the block of the plans' tables that fft_prepare makes.
    const int64_t blocks[3] = {Workspace::doubles(n, threads), n >= 32 ? n + 2 : 0,
                               fft_plans_bytes(n) / 8};
    const HugePages huge = huge_pages();
    int64_t resident = ProgramBytes;
    int64_t mapped = HugePageBytes + HeapBytes;  // the spare huge page of a block being mapped
    for (const int64_t count : blocks) {
        if (count == 0) continue;
        resident += huge != HugePages::never ? allocated_bytes(count) : pages(count * 8);
        mapped += allocated_bytes(count);
    }
    // The digits of each computation, at most five for each word of the FMT
    // size, in a string on the heap or in a mapping of its own.
    const int64_t digits = (verify ? 2 : 1) * pages(int64_t{n} * DigitsPerWord + 64);
    // The threads beside the main one: the pool's workers, the thread of the
    // folds in a pipelined run, and the one that draws the progress line.
    const int64_t extra = (threads - 1) + (pipelined(n, threads) ? 1 : 0) + 1;
    const int64_t processors = std::max<long>(1, sysconf(_SC_NPROCESSORS_ONLN));
    const int64_t arenas = std::min<int64_t>(extra, 8 * processors);
    const int64_t stack_page = huge == HugePages::always ? HugePageBytes : 0;
    resident += digits + extra * (ThreadBytes + stack_page);
    mapped += digits + extra * thread_stack_bytes() + arenas * ArenaBytes;
    return {resident, mapped};
}

MemoryLimit memory_available(const RunMemory&) {
    MemoryLimit free;
    const int64_t bytes = proc_field("/proc/meminfo", "MemAvailable");
    if (bytes >= 0) free = {"the machine's free memory", bytes, false};
    return free;
}

int largest_fitting_run(int fmt_size, bool verify, int threads) {
    for (int n = fmt_size; n >= 8; n /= 2) {
        const RunMemory m = run_memory(n, verify, threads);
        if (memory_available(m).fits(m)) return n;
    }
    return 0;
}

}  // namespace drmpi
