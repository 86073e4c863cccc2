// The benchmark's yardsticks, gmp_chudnovsky, mpfr_pi and (where Arb was
// found) arb_pi on one thread and two: every digit they write against the
// reference, at small sizes, around the boundaries of ten and at a random
// size; and their refusals of bad arguments.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/oracle.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

struct Yardstick {
    const char* name;
    const char* binary;
    const char* threads;   // " THREADS" after DIGITS FILE, or ""
    const char* too_many;  // the smallest digit count refused
};

const Yardstick Yardsticks[] = {
    {"Gmp", GMP_CHUDNOVSKY_BINARY, "", "100000001"},
    {"Mpfr", MPFR_PI_BINARY, "", "100000001"},
#ifdef ARB_PI_BINARY
    {"Arb", ARB_PI_BINARY, "", "1000000001"},
    {"ArbTwoThreads", ARB_PI_BINARY, " 2", "1000000001"},
#endif
};

// Its name in the test names that CTest lists.
void PrintTo(const Yardstick& y, std::ostream* os) { *os << y.name; }

class Baseline : public ::testing::TestWithParam<Yardstick> {
  protected:
    const std::string binary = "'" + std::string(GetParam().binary) + "'";
};

// Each file must be "3.", the first `digits` digits of pi truncated, "\n".
TEST_P(Baseline, EveryDigitAgainstTheReference) {
    for (long digits : {1L, 2L, 9L, 10L, 11L, 99L, 100L, 4000L, uniform(101, 20000)}) {
        const std::string args = std::to_string(digits) + " pi.txt" + GetParam().threads;
        const Outcome out = run(args, "", "pi.txt", "", "", binary);
        EXPECT_EQ(out.status, 0) << binary << " " << args;
        EXPECT_TRUE(out.file == "3." + pi_reference(digits) + "\n") << binary << " " << args;
    }
}

// Bad digit counts, a thread count of 0 or one too many arguments, no output
// file named at all, a file that cannot be created.
TEST_P(Baseline, RefusesBadArguments) {
    for (const std::string bad : {"0", "-5", "12x", "''", GetParam().too_many, "10 pi.txt 0"}) {
        const std::string args =
            bad.find(' ') == std::string::npos ? bad + " pi.txt" + GetParam().threads : bad;
        const Outcome out = run(args, "", "pi.txt", "", "", binary);
        EXPECT_EQ(out.status, 2) << args;
        EXPECT_TRUE(out.entries.empty()) << args;
    }
    EXPECT_EQ(run("10", "", "pi.txt", "", "", binary).status, 2);
    EXPECT_EQ(run("10 no/such/folder/pi.txt", "", "pi.txt", "", "", binary).status, 1);
}

INSTANTIATE_TEST_SUITE_P(Yardsticks, Baseline, ::testing::ValuesIn(Yardsticks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace drmpi_test
