// DRMPI_ASSERT(condition): a precondition or invariant that a comment states,
// checked in builds with DRMPI_CHECKS (the sanitizer build, which the tests
// run) and compiled to nothing otherwise, its condition not evaluated.  A
// failed check names the condition and its place on standard error and
// aborts.
#pragma once

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
