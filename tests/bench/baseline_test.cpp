// The benchmark's yardsticks, gmp_chudnovsky and mpfr_pi: every digit they
// write against the reference, at small sizes, around the boundaries of ten
// and at a random size; and their refusals of bad arguments.
#include <gtest/gtest.h>

#include <string>

#include "support/oracle.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

class Baseline : public ::testing::TestWithParam<const char*> {};

// The file must be "3.", the first `digits` digits of pi truncated, "\n".
void check_digits(const std::string& binary, long digits) {
    const Outcome out = run_binary(binary, std::to_string(digits) + " pi.txt", "pi.txt");
    EXPECT_EQ(out.status, 0) << binary << " " << digits;
    EXPECT_TRUE(out.file == "3." + pi_reference(digits) + "\n") << binary << " " << digits;
}

TEST_P(Baseline, EveryDigitAgainstTheReference) {
    for (long digits : {1L, 2L, 9L, 10L, 11L, 99L, 100L, 4000L, uniform(101, 20000)})
        check_digits(GetParam(), digits);
}

TEST_P(Baseline, RefusesBadArguments) {
    for (const std::string args : {"0", "-5", "12x", "''", "100000001"}) {
        const Outcome out = run_binary(GetParam(), args + " pi.txt", "pi.txt");
        EXPECT_EQ(out.status, 2) << args;
        EXPECT_FALSE(out.file_exists) << args;
    }
    // No output file named at all.
    EXPECT_EQ(run_binary(GetParam(), "10", "10").status, 2);
    // A file that cannot be created.
    EXPECT_EQ(run_binary(GetParam(), "10 no/such/folder/pi.txt", "pi.txt").status, 1);
}

INSTANTIATE_TEST_SUITE_P(Yardsticks, Baseline,
                         ::testing::Values(GMP_CHUDNOVSKY_BINARY, MPFR_PI_BINARY),
                         [](const auto& info) { return info.index == 0 ? "Gmp" : "Mpfr"; });

}  // namespace
}  // namespace drmpi_test
