// DRMPI_ASSERT(condition): a precondition or invariant that a comment states,
// checked in builds with DRMPI_CHECKS (the sanitizer build, which the tests
// run) and compiled to nothing otherwise, its condition not evaluated.  A
// failed check names the condition and its place on standard error and
// aborts.
#pragma once

#include <cstdint>

namespace drmpi {

// Whether {a, na} and {b, nb} share no byte.
template <class A, class B>
inline bool disjoint(const A* a, int64_t na, const B* b, int64_t nb) {
    const auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x + na * sizeof(A) <= y || y + nb * sizeof(B) <= x;
}

// Whether n is a power of two, 1 <= n <= 2^max_log2.
inline bool power_of_two(int64_t n, int max_log2 = 27) {
    return n >= 1 && n <= int64_t{1} << max_log2 && (n & (n - 1)) == 0;
}

}  // namespace drmpi

#ifdef DRMPI_CHECKS

#include <cstdio>
#include <cstdlib>

namespace drmpi {

[[noreturn]] inline void check_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "drmpi: %s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace drmpi

#define DRMPI_ASSERT(condition) \
    ((condition) ? void(0) : ::drmpi::check_failed(#condition, __FILE__, __LINE__))

#else

#define DRMPI_ASSERT(condition) static_cast<void>(sizeof(condition))

#endif
