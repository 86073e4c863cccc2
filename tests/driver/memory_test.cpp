// The memory of a run against what the real binary takes: the estimate
// against its peak resident set.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver/driver.h"
#include "driver/memory.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

constexpr int64_t MB = int64_t{1} << 20;

int fmt_of(int64_t digits) { return static_cast<int>(drmpi::size_run(digits).fmt_size); }

// The estimate holds the peak resident set, and exceeds it by at most 15 %:
// pipelined on two threads at 100,000 digits, where the program's own memory
// and the rounding of blocks to huge pages weigh most, and step after step on
// one thread at 2,000,000 digits, where the products split their words.
TEST(RunMemory, EstimateBoundsThePeak) {
    const struct { int64_t digits; int threads; } runs[] = {{100000, 2}, {2000000, 1}};
    for (const auto& run : runs) {
        const Outcome r = run_direct({"-q", "-t", std::to_string(run.threads), "-o", "pi.txt",
                                      std::to_string(run.digits)}, "pi.txt");
        ASSERT_EQ(r.status, 0) << r.errors;
        const int64_t estimate = drmpi::run_memory(fmt_of(run.digits), false, run.threads).resident;
        EXPECT_GE(estimate, r.peak) << run.digits << " digits";
        EXPECT_LE(estimate, r.peak * 115 / 100) << run.digits << " digits";
    }
}

}  // namespace
}  // namespace drmpi_test
