// Whole runs of the three series: the sizes and step counts of the worked
// examples, and every digit of the file against the reference, for N up to
// 400 wherever the run changes shape, and for large N up to the capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

#include "driver/drm.h"
#include "driver/run.h"
#include "support/oracle.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

// N typed, the FMT size and the DRM steps for IDs 1 to 3; the Pi Decimal shown
// is N rounded up to whole words of 5 digits.  With exactly four spare words
// (word count 2^k - 4) and an odd word count next to the capacity, too.
struct Size { int n, fmt, steps[3]; };
constexpr Size Sizes[] = {
    {1, 8, {1, 1, 1}},        {15, 8, {2, 2, 3}},       {20, 8, {2, 3, 4}},
    {21, 16, {1, 2, 3}},      {35, 16, {2, 3, 3}},      {36, 16, {2, 3, 4}},
    {60, 16, {3, 4, 6}},      {100, 32, {2, 4, 5}},     {300, 64, {3, 5, 7}},
    {1000, 256, {3, 4, 6}},   {5100, 1024, {3, 5, 7}},  {10000, 2048, {3, 5, 7}},
    {100000, 32768, {2, 4, 5}},    {163820, 32768, {3, 6, 7}},  {1000000, 262144, {3, 4, 6}},
    {1310695, 262144, {3, 6, 7}},  {1310700, 262144, {3, 6, 7}},
};

// Runs series `id` for N digits.  The file must hold the first 5 x word count
// digits of pi, and 5 more when the word count is odd (the last word's pair),
// in numbered lines of the right layout.  For the worked sizes the header, the
// "DRM Steps" line and the number of step lines are checked as well.  The
// rounding error is the same on the console and in the file, and below 0.01:
// a real run's lies near 0.001 at the largest size; a run whose products are
// all short is exact, but from N = 1000 on some are long.
void check_run(int id, int n) {
    const Outcome r = run("", std::to_string(id) + " " + std::to_string(n),
                          "RamnDRM" + std::to_string(id) + ".txt");
    const std::string what = "ID=" + std::to_string(id) + " N=" + std::to_string(n);
    EXPECT_EQ(r.status, 0) << what << "\n" << r.console;
    EXPECT_EQ(reported_error(r.console), reported_error(r.file)) << what;
    EXPECT_LT(reported_error(r.console), 0.01) << what;
    EXPECT_TRUE(n < 1000 || reported_error(r.console) > 0.0) << what;

    const int words = (n + 4) / 5;
    const size_t count = 5 * static_cast<size_t>(words + words % 2);
    const std::string digits = file_digits(r.file), ref = pi_reference(count);
    const size_t good =
        std::mismatch(digits.begin(), digits.end(), ref.begin(), ref.end()).first - digits.begin();
    EXPECT_TRUE(digits == ref) << what << ": " << digits.size() << " digits, " << good + 1
                               << " differs";

    for (const Size& s : Sizes) {
        if (s.n != n) continue;
        const int steps = s.steps[id - 1];
        char head[128];
        std::snprintf(head, sizeof head,
                      "  ID=%d,  Pi Decimal=%d,  FMT Size=%d\n  DRM Steps= %d,  FMT Size= %d \n",
                      id, 5 * words, s.fmt, steps, s.fmt);
        EXPECT_NE(r.console.find(head), std::string::npos) << what << "\n" << r.console;
        EXPECT_NE(r.file.find(head), std::string::npos) << what;
        int lines = 0;
        for (size_t at = 0; (at = r.console.find("  DRM Step=", at)) != std::string::npos; ++at)
            ++lines;
        EXPECT_EQ(lines, steps) << what;
    }
}

class UpTo400 : public ::testing::TestWithParam<int> {};

// Runs of one word count give the same file, so one N of a word count w tells
// what all five do.  Those run: the worked sizes, and one N of each w where
// the FMT size, the number of DRM steps or the number of lines of digits (80
// digits each, 10 a pair of words) differs from that of w - 1 or w + 1, so
// with either parity beside each change, and of one w in five of the others.
TEST_P(UpTo400, DigitsWhereTheRunChangesShape) {
    const auto shape = [](int w) {
        const int64_t fmt = drmpi::size_run(5 * w).fmt_size;
        return std::tuple(fmt, drmpi::drm_step_count(GetParam() - 1, w, static_cast<int>(fmt)),
                          (10 * ((w + 1) / 2) + 79) / 80);
    };
    for (int w = 1; w <= 80; ++w)
        if (w == 1 || shape(w) != shape(w - 1) || shape(w) != shape(w + 1) || uniform(0, 4) == 0)
            check_run(GetParam(), static_cast<int>(5 * w - uniform(0, 4)));
    for (const Size& s : Sizes)
        if (s.n <= 400) check_run(GetParam(), s.n);
}

INSTANTIATE_TEST_SUITE_P(Series, UpTo400, ::testing::Values(1, 2, 3),
                         [](const auto& p) { return "Id" + std::to_string(p.param); });

// The worked sizes beyond 400 of series `id`: to 163,820 digits, or, large,
// beyond (several seconds; a quick pass leaves them out with
// --gtest_filter=-Large/*).
class Worked : public ::testing::TestWithParam<std::tuple<int, bool>> {};
TEST_P(Worked, DigitsMatchReference) {
    const auto [id, large] = GetParam();
    for (const Size& s : Sizes)
        if (s.n > 400 && (s.n > 163820) == large) check_run(id, s.n);
}
INSTANTIATE_TEST_SUITE_P(Sized, Worked, ::testing::Combine(::testing::Values(1, 2, 3),
                                                          ::testing::Values(false)));
INSTANTIATE_TEST_SUITE_P(Large, Worked, ::testing::Combine(::testing::Values(1, 2, 3),
                                                          ::testing::Values(true)));

// The error of a whole run is the largest error of every product made: those
// of the merges, of P S, of the quotients and of the square root.  The error
// 0.2 is planted in each product in turn and must come back.
TEST(DriverErrors, RunErrorIsTheLargestOfEveryProduct) {
    const drmpi::Workspace w(64);
    for (int series = 0; series < 3; ++series) {
        long count = 0;
        for (long mark = -1; mark < count; ++mark) {
            const ProductErrors seen(mark, 0.2);
            drmpi::Report quiet(drmpi::ReportTo::Nowhere, 0.0);
            double err = drmpi::drm_sum(series, 3, 3 * 64 / drmpi::TermWords, w, quiet);
            err = drmpi::dmax(err, drmpi::compute_pi(series, w));
            EXPECT_EQ(err, seen.largest()) << "series " << series << " mark " << mark;
            if (mark < 0) count = seen.count();
        }
        EXPECT_GT(count, 3 * 3 * 7) << "series " << series;
    }
    // The same through compute_digits, which every run goes through: the
    // error of its last product, made by compute_pi, is its figure, and
    // one past the limit fails the guard.
    const drmpi::RunSize size = drmpi::size_run(300);
    drmpi::Report quiet(drmpi::ReportTo::Nowhere, 0.0);
    long count = 0;
    {
        const ProductErrors seen;
        EXPECT_TRUE(drmpi::compute_digits(0, size, quiet).sound);
        count = seen.count();
    }
    const ProductErrors seen(count - 1, 0.3);
    const drmpi::PiResult r = drmpi::compute_digits(0, size, quiet);
    EXPECT_EQ(r.error, 0.3);
    EXPECT_FALSE(r.sound);
}

// Two lanes, whose threads make two steps at once and the root beside them,
// give the words and the error of one, for one step and for several.
TEST(DriverErrors, TwoLanesMatchOne) {
    constexpr int N = 1024;
    const drmpi::Workspace one(N), two(N, 2);
    for (int series = 0; series < 3; ++series)
        for (int steps = 1; steps <= 4; ++steps) {
            double err[2];
            for (const drmpi::Workspace* w : {&one, &two}) {
                drmpi::Report quiet(drmpi::ReportTo::Nowhere, 0.0);
                const int64_t terms = steps * N / drmpi::TermWords - 3;
                const double sum_err = drmpi::drm_sum(series, steps, terms, *w, quiet);
                err[w == &two] = drmpi::dmax(sum_err, drmpi::compute_pi(series, *w));
            }
            EXPECT_EQ(err[0], err[1]) << "series " << series << ", " << steps << " steps";
            EXPECT_TRUE(std::equal(one.pi, one.pi + N + 1, two.pi))
                << "series " << series << ", " << steps << " steps";
        }
}

}  // namespace
}  // namespace drmpi_test
