// The product-tree merge: P, Q and T of whole chunks against their
// definitions, evaluated term by term with GMP.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"
#include "support/oracle.h"

namespace drmpi_test {

namespace {

using namespace drmpi;

using Merge = ::testing::Test;

// One DRM step of the terms k0 .. k0 + count - 1 (all n/8 where count is 0)
// against the definitions, T extended one term at a time: T(k1) = T(k1-1)
// q(k1) + s(k1)(A k1 + B) p(k0+1)..p(k1).  The arrays hold garbage beyond the
// words that the step writes, guard words follow the three results and
// surround the area.  With mark >= 0, that product of the step reports the
// error 0.2.  Returns the words of P, Q and T, one after the other, and the
// error.
std::vector<double> check_step(int s, long k0, int n, long mark = -1, int count = 0) {
    if (count == 0) count = n / 8;
    SCOPED_TRACE(testing::Message() << "series " << s << " k0 " << k0 << " n " << n << " count "
                                    << count);
    StepStorage step(n);
    double* const got[3] = {step.p.data(), step.q.data(), step.t.data()};
    for (double* a : got) {
        std::generate(a, a + n + 1, [] { return static_cast<double>(uniform(-99999, 99999)); });
        a[n + 1] = -9.0;
    }
    const ProductErrors seen(mark, 0.2);
    const double err = drm_step(s, n, static_cast<double>(k0), count, step.arrays());
    // Three products a merge, count - 1 merges, and the largest error of them all.
    EXPECT_EQ(seen.count(), 3 * (count - 1));
    EXPECT_EQ(err, seen.largest());
    EXPECT_LT(err, mark < 0 ? 0.01 : 0.21);
    mpz_class want[3] = {1, 1, 0}, lead = 1;  // P, Q, T; lead = p(k0+1)..p(k)
    for (long k = k0; k < k0 + count; ++k) {
        if (k > k0) lead *= term_p(s, k);
        want[2] = want[2] * term_q(s, k) + term_t(s, k) * lead;
        want[0] *= term_p(s, k + 1);
        want[1] *= term_q(s, k);
    }
    std::vector<double> words;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mp_value(got[i], n), mpq_class(want[i])) << "array " << i;
        EXPECT_NE(got[i][1], 0.0) << "array " << i;
        EXPECT_EQ(got[i][n + 1], -9.0) << "array " << i;
        EXPECT_TRUE(std::all_of(got[i] + 2, got[i] + n + 1,
                                [](double w) { return w >= -50000 && w <= 49999; }))
            << "array " << i;
        words.insert(words.end(), got[i], got[i] + n + 1);
    }
    EXPECT_TRUE(step.area.intact());
    words.push_back(err);
    return words;
}

// Every FMT size from 8 to 2^13, from the first term, from a random odd start
// (the driver starts every chunk of two or more terms at an odd k) and ending
// at the largest reachable k.
TEST_F(Merge, ChunksMatchTheirDefinitionsAtEveryFmtSize) {
    for (int s = 0; s < 3; ++s) {
        for (int n = 8; n <= 1 << 13; n *= 2) {
            const long last = top_term(s) - n / 8 + 1;
            for (long k0 : {1L, 2 * uniform(1, (last - 1) / 2) + 1, last}) check_step(s, k0, n);
        }
    }
}

// A chunk of fewer terms, the last of a run: every count up to n/8 at n = 64,
// and random ones up to 2^13, each with its lone blocks at some levels.
TEST_F(Merge, ShortChunksMatchTheirDefinitions) {
    for (int s = 0; s < 3; ++s) {
        for (int count = 1; count <= 8; ++count) check_step(s, 2 * uniform(0, 5000) + 1, 64, -1, count);
        for (int n = 128; n <= 1 << 13; n *= 2)
            check_step(s, 2 * uniform(0, 5000) + 1, n, -1, static_cast<int>(uniform(1, n / 8)));
    }
}

// Whichever product of a step reports an error, the step returns it.
TEST_F(Merge, EveryProductsErrorIsReturned) {
    for (int s = 0; s < 3; ++s)
        for (long mark = 0; mark < 3 * 7; ++mark) check_step(s, 1, 64, mark);
}

// The same words and error on one thread and on several: the pairs of a level
// spread over the threads, and the last level's transforms and products.
TEST_F(Merge, SameResultOnEveryThreadCount) {
    const int threads = thread_count();
    for (int s = 0; s < 3; ++s) {
        const long k0 = 2 * uniform(1, 2000) + 1;
        set_thread_count(1);
        const std::vector<double> one = check_step(s, k0, 1 << 14);
        for (int t : {2, 3}) {
            set_thread_count(t);
            EXPECT_EQ(check_step(s, k0, 1 << 14), one) << "series " << s << ", " << t << " threads";
        }
    }
    set_thread_count(threads);
}

// Each product reports a larger error than every one before it, in step on two
// threads: it waits (a millisecond at most) for the other thread's report of
// its round, then both go on at the next 10 us tick of the clock, each after a
// random delay of its own below 64 ns, so that the runs of a level end, and
// store their largest errors, at nearly the same moment.
using Clock = std::chrono::steady_clock;
std::atomic<int> Reported{0};
long Delay[2];  // ns, of the first and the second report of a round
double report_in_step(double) {
    const int k = Reported.fetch_add(1);
    const Clock::time_point start = Clock::now();
    while (Reported.load() < k / 2 * 2 + 2 && Clock::now() - start < std::chrono::milliseconds(1)) {
    }
    const auto tick = std::chrono::microseconds(10);
    const auto go = (Clock::now().time_since_epoch() / tick + 1) * tick +
                    std::chrono::nanoseconds(Delay[k % 2]);
    while (Clock::now().time_since_epoch() < go) {
    }
    return (k + 1) / 1024.0;
}

// A level of two pairs, one on each thread, returns the larger of their errors
// when they store them together: with a plain load and store, whichever comes
// last wins, and of 2000 levels dozens to hundreds lose the larger.  They take
// about 0.1 s; two seconds at most while other processes hold the cores.
TEST_F(Merge, LargestOfDistinctErrorsOnTwoThreads) {
    const int threads = thread_count();
    set_thread_count(2);
    ProductErrorHook = report_in_step;
    StepStorage step(32);
    int lost = 0, level = 0;
    for (const auto end = Clock::now() + std::chrono::seconds(2);
         level < 2000 && Clock::now() < end; ++level) {
        Reported = 0;
        for (long& d : Delay) d = uniform(0, 63);
        lost += merge_level(8, 2, step.arrays()) != Reported.load() / 1024.0;
    }
    ProductErrorHook = nullptr;
    set_thread_count(threads);
    EXPECT_EQ(lost, 0) << "of " << level << " levels";
}

TEST_F(Merge, TwoTermChunksFromTheFirstTerm) {
    struct Case { int s; const char *p, *q, *t; };
    const Case cases[] = {
        {0, "255255", "957304069945956794936328192000000", "-48895977886667748120650613"},
        {1, "51975", "75591245367535214592", "676087457892723"},
        {2, "51975", "4957517822164992", "-4497366944637"}};
    for (const Case& c : cases) {
        StepStorage step(16);
        EXPECT_EQ(drm_step(c.s, 16, 1.0, 2, step.arrays()), 0.0);  // schoolbook products
        EXPECT_EQ(mp_value(step.p.data(), 16), mpq_class(c.p)) << c.s;
        EXPECT_EQ(mp_value(step.q.data(), 16), mpq_class(c.q)) << c.s;
        EXPECT_EQ(mp_value(step.t.data(), 16), mpq_class(c.t)) << c.s;
        if (c.s != 0) continue;
        EXPECT_EQ(std::vector<double>(step.p.data(), step.p.data() + 3),
                  (std::vector<double>{2, 3, -44745}));
        EXPECT_EQ(step.q.data()[0], 7.0);
        EXPECT_EQ(step.t.data()[0], 6.0);
        EXPECT_EQ(step.t.data()[1], -5.0);
    }
    StepStorage step(16);
    EXPECT_EQ(merge_level(8, 0, step.arrays()), 0.0);
}

}  // namespace
}  // namespace drmpi_test
