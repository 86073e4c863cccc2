// The benchmark's yardsticks, gmp_chudnovsky and mpfr_pi: every digit they
// write against the reference, at small sizes, around the boundaries of ten
// and at a random size; and their refusals of bad arguments.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/oracle.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

struct Output {
    int status = -1;
    bool file_exists = false;
    std::string text;
};

// Runs `binary args FILE` in a fresh temporary folder, FILE a name in it (or
// `file` when given), and reads FILE back.
Output run_baseline(const std::string& binary, const std::string& args,
                    const std::string& file = "pi.txt") {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / "drmpi-bench-XXXXXX").string();
    const fs::path dir = mkdtemp(tmpl.data());
    const std::string cmd = "cd '" + dir.string() + "' && '" + binary + "' " + args + " '" +
                            file + "' 2>/dev/null";
    const int raw = std::system(cmd.c_str());
    Output out;
    out.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::error_code ec;
    out.file_exists = fs::is_regular_file(dir / file, ec);
    if (out.file_exists) {
        std::ifstream in(dir / file, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        out.text = s.str();
    }
    fs::remove_all(dir, ec);
    return out;
}

class Baseline : public ::testing::TestWithParam<const char*> {};

// The file must be "3.", the first `digits` digits of pi truncated, "\n".
void check_digits(const std::string& binary, long digits) {
    const Output out = run_baseline(binary, std::to_string(digits));
    const std::string what = binary + " " + std::to_string(digits);
    ASSERT_EQ(out.status, 0) << what;
    const std::string& ref = reference_digits();
    ASSERT_LE(static_cast<size_t>(digits), ref.size());
    ASSERT_EQ(out.text.size(), static_cast<size_t>(digits) + 3) << what;
    EXPECT_EQ(out.text.substr(0, 2), "3.") << what;
    EXPECT_EQ(out.text.back(), '\n') << what;
    const auto first = out.text.begin() + 2;
    const long good = std::mismatch(first, first + digits, ref.begin()).first - first;
    EXPECT_EQ(good, digits) << what << ": digit " << good + 1 << " differs";
}

TEST_P(Baseline, EveryDigitAgainstTheReference) {
    for (long digits : {1L, 2L, 9L, 10L, 11L, 99L, 100L, 4000L, uniform(101, 20000)})
        check_digits(GetParam(), digits);
}

TEST_P(Baseline, RefusesBadArguments) {
    for (const char* args : {"0", "-5", "12x", "''", "100000001"}) {
        const Output out = run_baseline(GetParam(), args);
        EXPECT_EQ(out.status, 2) << args;
        EXPECT_FALSE(out.file_exists) << args;
    }
    // No output file named at all.
    EXPECT_EQ(run_baseline(GetParam(), "", "10").status, 2);
    // A file that cannot be created.
    EXPECT_EQ(run_baseline(GetParam(), "10", "no/such/folder/pi.txt").status, 1);
}

INSTANTIATE_TEST_SUITE_P(Yardsticks, Baseline,
                         ::testing::Values(GMP_CHUDNOVSKY_BINARY, MPFR_PI_BINARY),
                         [](const auto& info) { return info.index == 0 ? "Gmp" : "Mpfr"; });

}  // namespace
}  // namespace drmpi_test
