// The memory of a command-line run: what it takes, block by block as it
// allocates them, and the limits on it, read from /proc, /sys and getrlimit.
#include "driver/memory.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/drm.h"
#include "fft/fft.h"
#include "mp/mp.h"
#include "mp/parallel.h"

namespace drmpi {

namespace {

// What the program itself keeps resident beside the blocks of a run: its
// code, its stack and its heap.  A run of one digit peaks at 1.0 MB, and
// longer runs keep up to 0.95 MB beside their blocks and digits as they are
// counted here; the rest is room for what differs between environments.
constexpr int64_t ProgramBytes = int64_t{3} << 19;

// What a thread beside the main one keeps resident: the pages of its stack
// and of its malloc arena that it touches.  Where every mapping gets huge
// pages, its stack takes a huge page besides.
constexpr int64_t ThreadBytes = int64_t{128} << 10;

// The address space of a thread's malloc arena: glibc reserves 64 MB for
// each, for up to eight threads per processor.
constexpr int64_t ArenaBytes = int64_t{64} << 20;

// Address space for the small allocations of the main thread's heap.
constexpr int64_t HeapBytes = int64_t{1} << 20;

// Limits at or beyond this stand for none: cgroup v1 writes 2^63 less a page.
constexpr int64_t NoLimit = int64_t{1} << 60;

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

// The number that a cgroup file starts with; -1 when it cannot be read, says
// "max" or stands for no limit.
int64_t file_number(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    unsigned long long v = 0;
    const bool read = std::fscanf(f, "%llu", &v) == 1;
    std::fclose(f);
    return read && v < static_cast<unsigned long long>(NoLimit) ? static_cast<int64_t>(v) : -1;
}

// The smaller room of two, -1 standing for none.
int64_t tighter(int64_t a, int64_t b) { return a < 0 ? b : b < 0 ? a : std::min(a, b); }

// The soft limit on `resource` less what the process already holds of it,
// the field `held` of /proc/self/status; -1 when there is no limit.
int64_t rlimit_room(int resource, const char* held) {
    rlimit r;
    if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY ||
        r.rlim_cur >= static_cast<rlim_t>(NoLimit))
        return -1;
    const int64_t limit = static_cast<int64_t>(r.rlim_cur);
    const int64_t used = std::max<int64_t>(0, proc_field("/proc/self/status", held));
    return std::max<int64_t>(0, limit - used);
}

// The least room that the cgroup `path` of the hierarchy mounted at `root`,
// or a cgroup above it, leaves: the file `limit` less the file `usage`, in
// each folder from the cgroup's up to the root.  Inside a container the
// mount's root is the container's own cgroup, and the folders below it that
// the path names are missing.  -1 when none has a limit.
int64_t cgroup_room(const std::string& root, std::string path, const char* limit,
                    const char* usage) {
    if (path == "/") path.clear();
    int64_t room = -1;
    for (;;) {
        const std::string folder = root + path + "/";
        const int64_t most = file_number(folder + limit), used = file_number(folder + usage);
        if (most >= 0 && used >= 0) room = tighter(room, std::max<int64_t>(0, most - used));
        if (path.empty()) return room;
        path.erase(path.rfind('/'));
    }
}

// The least room that the cgroups of the process leave, from the lines of
// /proc/self/cgroup: "0::/path" of cgroup v2, whose memory.max and
// memory.current lie under /sys/fs/cgroup, and "n:memory:/path" of cgroup v1,
// whose memory.limit_in_bytes and memory.usage_in_bytes lie under
// /sys/fs/cgroup/memory.  -1 when none has a limit.
int64_t cgroups_room() {
    FILE* f = std::fopen("/proc/self/cgroup", "r");
    if (f == nullptr) return -1;
    int64_t room = -1;
    char line[4096];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        line[std::strcspn(line, "\n")] = '\0';
        char* const first = std::strchr(line, ':');
        char* const second = first ? std::strchr(first + 1, ':') : nullptr;
        if (second == nullptr) continue;
        *second = '\0';
        const std::string controllers = "," + std::string(first + 1) + ",";
        if (std::strncmp(line, "0:", 2) == 0 && controllers == ",,") {
            room = tighter(room, cgroup_room("/sys/fs/cgroup", second + 1, "memory.max",
                                             "memory.current"));
        } else if (controllers.find(",memory,") != std::string::npos) {
            room = tighter(room, cgroup_room("/sys/fs/cgroup/memory", second + 1,
                                             "memory.limit_in_bytes", "memory.usage_in_bytes"));
        }
    }
    std::fclose(f);
    return room;
}

}  // namespace

RunMemory run_memory(int fmt_size, bool verify, int threads_in_effect) {
    const int n = fmt_size;
    const int threads = run_threads(n, threads_in_effect);
    const int lanes = run_lanes(n, threads_in_effect);
    // The block of allocate_doubles, touched throughout: the workspace.
    const int64_t count = Workspace::doubles(n, lanes);
    const HugePages huge = huge_pages();
    int64_t resident = ProgramBytes;
    int64_t mapped = HugePageBytes + HeapBytes;  // the spare huge page of a block being mapped
    resident += huge != HugePages::never ? allocated_bytes(count) : round_up_pages(count * 8);
    mapped += allocated_bytes(count);
    // The digits of each computation, at most five for each word of the FMT
    // size, in a string on the heap or in a mapping of its own; the tables of
    // the FFT plans that fft_prepare builds, on the heap.  The digits of the
    // last computation take the place of its workspace, which it gives back
    // first from ReleaseMin on (all but the n words of pi, fewer than the
    // digits' bytes): they add to the resident set only beside a later
    // computation, or below ReleaseMin.
    const int64_t string = round_up_pages(int64_t{n} * DigitsPerWord + 64);
    const int64_t plans = round_up_pages(fft_plans_bytes(n));
    // The threads beside the main one: the pool's workers (one for the
    // second lane of a run that has two) and the one that draws the progress
    // line.
    const int64_t extra = std::max(threads, lanes);
    const int64_t processors = std::max<long>(1, sysconf(_SC_NPROCESSORS_ONLN));
    const int64_t arenas = std::min<int64_t>(extra, 8 * processors);
    const int64_t stack_page = huge == HugePages::always ? HugePageBytes : 0;
    resident += (verify || n < ReleaseMin ? string : 0) + plans +
                extra * (ThreadBytes + stack_page);
    mapped += (verify ? 2 : 1) * string + plans + extra * thread_stack_bytes() +
              arenas * ArenaBytes;
    return {resident, mapped};
}

MemoryLimit memory_available(const RunMemory& m) {
    const MemoryLimit limits[4] = {
        {"the machine's free memory", proc_field("/proc/meminfo", "MemAvailable"), false},
        {"the address-space limit", rlimit_room(RLIMIT_AS, "VmSize"), true},
        {"the data limit", rlimit_room(RLIMIT_DATA, "VmData"), true},
        {"the cgroup's memory limit", cgroups_room(), false},
    };
    MemoryLimit tightest;
    for (const MemoryLimit& l : limits)
        if (l.bytes >= 0 &&
            (tightest.name == nullptr || l.bytes - l.need(m) < tightest.bytes - tightest.need(m)))
            tightest = l;
    return tightest;
}

int largest_fitting_run(int fmt_size, bool verify, int threads) {
    // The lengths below fmt_size, longest first: 2^k, 3 * 2^(k-2), 2^(k-1), ...
    const auto shorter = [](int n) {
        return n % 3 == 0 ? n / 3 * 2 : fft_length(n / 4 * 3) ? n / 4 * 3 : n / 2;
    };
    for (int n = shorter(fmt_size); n >= 8; n = shorter(n)) {
        const RunMemory m = run_memory(n, verify, threads);
        if (memory_available(m).fits(m)) return n;
    }
    return 0;
}

}  // namespace drmpi
