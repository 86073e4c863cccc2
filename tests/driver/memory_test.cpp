// The memory of a run against what the real binary takes: the estimate
// against its peak resident set, and the refusal of a run under an
// address-space or data limit, which comes before the run starts and lets
// through only runs whose mappings fit.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>

#include "driver/cli.h"
#include "driver/memory.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

constexpr int64_t MB = int64_t{1} << 20;

int fmt_of(int64_t digits) { return static_cast<int>(drmpi::size_run(digits, true).fmt_size); }

// The next length above n, of 2^k and 3 * 2^k.
int longer(int n) { return n % 3 == 0 ? n / 3 * 4 : n / 2 * 3; }

// The estimate holds the peak resident set, and exceeds it by at most 25 %:
// on two threads at 100,000 digits, where the program's own memory and the
// rounding of blocks to huge pages weigh most, and on one thread at 2,000,000
// digits, where the estimate counts the scratch of a long product made again
// from split digits, which real operands never touch (18 %), and all the
// built-in FFT tables, which the system may map whole.
TEST(RunMemory, EstimateBoundsThePeak) {
    const struct { int64_t digits; int threads; } runs[] = {{100000, 2}, {2000000, 1}};
    for (const auto& c : runs) {
        const Outcome r = run("-q -t " + std::to_string(c.threads) + " -o pi.txt " +
                              std::to_string(c.digits), "", "pi.txt", "", "", Peak);
        ASSERT_EQ(r.status, 0) << r.errors;
        const int64_t estimate = drmpi::run_memory(fmt_of(c.digits), false, c.threads).resident;
        EXPECT_GE(estimate, r.peak) << c.digits << " digits";
        EXPECT_LE(estimate, r.peak * 125 / 100) << c.digits << " digits";
    }
}

// Under an address-space or a data limit that the run's mappings exceed, the
// run is refused before its header, with the address space that it maps as
// its need and the limit named; the largest run said to fit does, and the
// next size does not; nothing is left behind.  With the limit raised by what
// was missing, the run passes the check and completes: the estimate holds
// every mapping the run makes.
TEST(MemoryLimits, AddressSpaceAndDataLimitsRefuseBeforeTheRun) {
    const int64_t digits = 1000000;
    const drmpi::RunMemory m = drmpi::run_memory(fmt_of(digits), false, 2);
    const std::regex refusal("drmpi: 1000000 digits need about ([0-9]+) MB of memory, and "
                             "([0-9]+) MB are available \\((.*)\\): at most ([0-9]+) digits fit\n");
    // The soft limit set by the shell, in kB.
    const struct { std::string ulimit; const char* name; } limits[] = {
        {"ulimit -S -v ", "the address-space limit"}, {"ulimit -S -d ", "the data limit"}};
    for (const auto& l : limits) {
        // Short of the run, but room for one of three quarters its size.
        const int64_t limit = m.mapped - 16 * MB;
        const Outcome r = run("-t 2 -o pi.txt 1000000", "", "pi.txt",
                              l.ulimit + std::to_string(limit / 1024));
        EXPECT_EQ(r.status, 1) << l.name;
        EXPECT_TRUE(r.entries.empty()) << l.name;
        std::smatch f;
        ASSERT_TRUE(std::regex_match(r.errors, f, refusal)) << r.errors;
        EXPECT_EQ(f[3].str(), l.name);
        EXPECT_EQ(std::stoll(f[1].str()), (m.mapped + MB - 1) / MB) << l.name;
        const int64_t have = std::stoll(f[2].str());  // rounded up
        EXPECT_LE((have - 1) * MB, limit) << l.name;
        const int fits = static_cast<int>(std::stoll(f[4].str()) / 5 + 4);
        EXPECT_TRUE(drmpi::fft_length(fits)) << l.name << ": " << f[4].str() << " digits";
        EXPECT_LE(drmpi::run_memory(fits, false, 2).mapped, have * MB) << l.name;
        EXPECT_GT(drmpi::run_memory(longer(fits), false, 2).mapped, (have - 1) * MB) << l.name;

        // The process maps limit - have before the check, to a megabyte.
        const int64_t enough = limit - have * MB + MB + m.mapped;
        const Outcome ok = run("-q -t 2 -f plain -o pi.txt 1000000", "", "pi.txt",
                               l.ulimit + std::to_string(enough / 1024));
        EXPECT_EQ(ok.status, 0) << l.name << ": " << ok.errors;
        EXPECT_TRUE(ok.file == "3." + pi_reference(digits) + "\n") << l.name;
    }
}

}  // namespace
}  // namespace drmpi_test
