// The benchmark's yardsticks, gmp_chudnovsky and mpfr_pi: every digit they
// write against the reference, at small sizes, around the boundaries of ten
// and at a random size; and their refusals of bad arguments.
#include <gtest/gtest.h>

#include <string>

#include "support/oracle.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

class Baseline : public ::testing::TestWithParam<const char*> {
  protected:
    const std::string binary = "'" + std::string(GetParam()) + "'";
};

// Each file must be "3.", the first `digits` digits of pi truncated, "\n".
TEST_P(Baseline, EveryDigitAgainstTheReference) {
    for (long digits : {1L, 2L, 9L, 10L, 11L, 99L, 100L, 4000L, uniform(101, 20000)}) {
        const Outcome out = run(std::to_string(digits) + " pi.txt", "", "pi.txt", "", "", binary);
        EXPECT_EQ(out.status, 0) << binary << " " << digits;
        EXPECT_TRUE(out.file == "3." + pi_reference(digits) + "\n") << binary << " " << digits;
    }
}

// Bad digit counts, no output file named at all, a file that cannot be created.
TEST_P(Baseline, RefusesBadArguments) {
    for (const std::string args : {"0", "-5", "12x", "''", "100000001", "10"}) {
        const Outcome out = run(args + (args == "10" ? "" : " pi.txt"), "", "pi.txt", "", "",
                                binary);
        EXPECT_EQ(out.status, 2) << args;
        EXPECT_TRUE(out.entries.empty()) << args;
    }
    EXPECT_EQ(run("10 no/such/folder/pi.txt", "", "pi.txt", "", "", binary).status, 1);
}

INSTANTIATE_TEST_SUITE_P(Yardsticks, Baseline,
                         ::testing::Values(GMP_CHUDNOVSKY_BINARY, MPFR_PI_BINARY),
                         [](const auto& info) { return info.index == 0 ? "Gmp" : "Mpfr"; });

}  // namespace
}  // namespace drmpi_test
