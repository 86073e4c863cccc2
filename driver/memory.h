// The memory of a command-line run: what it takes, and the limits that the
// system sets on it.
#pragma once

#include <cstdint>

namespace drmpi {

// What a run takes: its peak resident set, which the machine's free memory
// and a cgroup's limit count, and the address space that it maps beyond what
// the process maps before it starts, which the address-space and data limits
// count.
struct RunMemory {
    int64_t resident;
    int64_t mapped;
};

// What a run of FMT size n takes in a process that has computed nothing yet,
// where threads_in_effect threads are in effect (of which the run takes
// run_threads), verified (two computations one after the other, the digits
// of both kept) or not.  An upper bound of both figures.
RunMemory run_memory(int fmt_size, bool verify, int threads_in_effect);

// One limit on the memory of a run: its name, as the refusal of a run gives
// it, the bytes left under it, and whether it counts the address space that
// a run maps rather than the memory it touches.
struct MemoryLimit {
    const char* name = nullptr;  // nullptr: no limit could be read
    int64_t bytes = -1;
    bool counts_mapped = false;

    // What a run that takes m needs under this limit.
    int64_t need(const RunMemory& m) const { return counts_mapped ? m.mapped : m.resident; }
    bool fits(const RunMemory& m) const { return name == nullptr || need(m) <= bytes; }
};

// Of the limits on a run started now, the one that leaves a run that takes m
// the least room: MemAvailable of /proc/meminfo; the address-space limit
// (RLIMIT_AS) less the address space that the process maps; the data limit
// (RLIMIT_DATA) less the data it maps; and the memory limit of its cgroup,
// or of a cgroup above it, less what that cgroup uses.  Limits that are not
// set (or at 2^60 bytes and more) or cannot be read do not count.
MemoryLimit memory_available(const RunMemory& m);

// The largest FMT size below fmt_size, of the lengths 2^k and 3 * 2^k down to
// 8, at which a run fits every limit on it; 0 when none does.
int largest_fitting_run(int fmt_size, bool verify, int threads);

}  // namespace drmpi
