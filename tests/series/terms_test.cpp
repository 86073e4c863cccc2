// Term generation: every 8-word block against the closed forms of the series,
// evaluated with GMP over the whole reachable range of k.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "mp/mp.h"
#include "series/series.h"
#include "support/oracle.h"

namespace drmpi_test {

namespace {

using namespace drmpi;

using Terms = ::testing::Test;

// Generates n/8 terms from k0 between sentinels at words 0 and n + 1; checks
// the sentinels and every block: value, leading word 0, balanced words.
void check_chunk(int s, long k0, int n) {
    SCOPED_TRACE(testing::Message() << "series " << s << " k0 " << k0 << " n " << n);
    StepStorage step(n);
    double* const arrays[3] = {step.p.data(), step.q.data(), step.t.data()};
    for (double* a : arrays) mp_fill(-7, a, n + 2);
    drm_terms(s, n / 8, static_cast<double>(k0), step.arrays());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(arrays[i][0], -7.0) << "array " << i;
        EXPECT_EQ(arrays[i][n + 1], -7.0) << "array " << i;
        for (long k = k0; k < k0 + n / 8; ++k) {
            const double* b = arrays[i] + 1 + 8 * (k - k0);
            const mpz_class want = i == 0 ? term_p(s, k + 1) : i == 1 ? term_q(s, k) : term_t(s, k);
            EXPECT_EQ(vec_value(b, 8), want) << "array " << i << " k " << k;
            // Balanced below the leading word, which holds what the value
            // needs: q(k) passes 5 * 10^39 in the longest runs' last chunk.
            EXPECT_TRUE(std::all_of(b + 1, b + 8, [](double w) { return w >= -5e4 && w < 5e4; }))
                << "array " << i << " k " << k;
        }
    }
}

TEST_F(Terms, FirstTwoTermsOfEverySeriesWordForWord) {
    // array: 0 P, 1 Q, 2 T; low: the last words of the block, all before are 0
    struct Case { int s, k, array; const char* value; std::vector<double> low; };
    const Case cases[] = {
        {0, 1, 0, "231", {231}}, {0, 1, 1, "10939058860032000", {11, -6094, -11400, 32000}},
        {0, 1, 2, "-558731543", {-5587, -31543}}, {0, 2, 0, "1105", {1105}},
        {0, 2, 1, "87512470880256000", {}}, {0, 2, 2, "1103871677", {11039, -28323}},
        {1, 1, 0, "105", {105}}, {1, 1, 1, "3073907232", {30739, 7232}},
        {1, 1, 2, "27493", {27493}}, {1, 2, 2, "53883", {1, -46117}},
        {2, 1, 0, "105", {105}}, {2, 1, 1, "24893568", {249, -6432}}, {2, 1, 2, "-22583", {-22583}},
        {2, 2, 0, "495", {495}}, {2, 2, 1, "199148544", {1991, 48544}},
        {2, 2, 2, "44043", {44043}}};
    for (const Case& c : cases) {
        StepStorage step(8);
        drm_terms(c.s, 1, c.k, step.arrays());
        const double* b = (c.array == 0 ? step.p : c.array == 1 ? step.q : step.t).data() + 1;
        std::vector<double> words(8 - c.low.size(), 0.0);
        words.insert(words.end(), c.low.begin(), c.low.end());
        EXPECT_EQ(vec_value(b, 8), mpz_class(c.value));
        if (!c.low.empty()) {
            EXPECT_EQ(std::vector<double>(b, b + 8), words) << c.value;
        }
    }
}

// Chunks of 1, 8 and 128 terms from k = 1 and 2, from random starts and ending
// at the largest reachable k, from odd and even starts: a one-term chunk
// (FMT size 8) takes the sign of its own k.
TEST_F(Terms, ChunksMatchTheClosedFormsOverTheReachableRange) {
    for (int s = 0; s < 3; ++s) {
        for (int n : {8, 64, 1024}) {
            const long last = top_term(s) - n / 8 + 1;
            for (long k0 : {1L, 2L, last, last - 1}) check_chunk(s, k0, n);
            for (int r = 0; r < 4; ++r) check_chunk(s, uniform(3, last - 2), n);
        }
    }
}

}  // namespace
}  // namespace drmpi_test
