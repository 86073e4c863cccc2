// The product-tree merge: P, Q and T of whole chunks against their
// definitions, evaluated term by term with GMP.
#include <gtest/gtest.h>

#include <vector>

#include "mp/mp.h"
#include "series/series.h"
#include "support/oracle.h"

namespace drmpi_test {

// Closed forms of p(x), q(k), s(k)(A k + B) and the largest reachable k (terms_test.cpp).
mpz_class term_p(int s, long x);
mpz_class term_q(int s, long k);
mpz_class term_t(int s, long k);
long top_term(int s);

namespace {

using namespace drmpi;

using Merge = Balanced;

// One DRM step of the terms k0 .. k0 + n/8 - 1 against the definitions, T
// extended one term at a time: T(k1) = T(k1-1) q(k1) + s(k1)(A k1 + B) p(k0+1)..p(k1).
// ArrayA and ArraySum hold a pattern that must survive; guard words follow the
// three results and surround the ArrayB products.
// With mark >= 0, that product of the step reports the error 0.2.
void check_step(int s, long k0, int n, long mark = -1) {
    SCOPED_TRACE(testing::Message() << "series " << s << " k0 " << k0 << " n " << n);
    for (int i = 0; i <= 2 * n + 2; ++i) ArrayA[i] = ArraySum[i] = 0.25 + i;
    ArrayP[n + 1] = ArrayQ[n + 1] = ArrayT[n + 1] = ArrayB[0] = ArrayB[2 * n + 1] = -9.0;
    TermIndex = static_cast<double>(k0);
    const ProductErrors seen(mark, 0.2);
    const double err = drm_step(s, n);
    EXPECT_EQ(TermIndex, k0 + n / 8);
    // Four products a pair, n/8 - 1 pairs, and the largest error of them all.
    EXPECT_EQ(seen.count(), 4 * (n / 8 - 1));
    EXPECT_EQ(err, seen.largest());
    EXPECT_LT(err, mark < 0 ? 0.01 : 0.21);
    mpz_class want[3] = {1, 1, 0}, lead = 1;  // P, Q, T; lead = p(k0+1)..p(k)
    for (long k = k0; k < k0 + n / 8; ++k) {
        if (k > k0) lead *= term_p(s, k);
        want[2] = want[2] * term_q(s, k) + term_t(s, k) * lead;
        want[0] *= term_p(s, k + 1);
        want[1] *= term_q(s, k);
    }
    const double* got[3] = {ArrayP, ArrayQ, ArrayT};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mp_value(got[i], n), mpq_class(want[i])) << "array " << i;
        EXPECT_TRUE(got[i][1] != 0.0 && got[i][n + 1] == -9.0) << "array " << i;
    }
    EXPECT_TRUE(ArrayB[0] == -9.0 && ArrayB[2 * n + 1] == -9.0) << "ArrayB outside 1 .. 2n";
    int changed = 0;
    for (int i = 0; i <= 2 * n + 2; ++i)
        changed += (ArrayA[i] != 0.25 + i) + (ArraySum[i] != 0.25 + i);
    EXPECT_EQ(changed, 0) << "words of ArrayA or ArraySum";
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

// Whichever product of a step reports an error, the step returns it.
TEST_F(Merge, EveryProductsErrorIsReturned) {
    for (int s = 0; s < 3; ++s)
        for (long mark = 0; mark < 4 * 7; ++mark) check_step(s, 1, 64, mark);
}

TEST_F(Merge, TwoTermChunksFromTheFirstTerm) {
    struct Case { int s; const char *p, *q, *t; };
    const Case cases[] = {
        {0, "255255", "957304069945956794936328192000000", "-48895977886667748120650613"},
        {1, "51975", "75591245367535214592", "676087457892723"},
        {2, "51975", "4957517822164992", "-4497366944637"}};
    for (const Case& c : cases) {
        TermIndex = 1.0;
        EXPECT_LT(drm_step(c.s, 16), 0.01);
        EXPECT_EQ(mp_value(ArrayP, 16), mpq_class(c.p)) << c.s;
        EXPECT_EQ(mp_value(ArrayQ, 16), mpq_class(c.q)) << c.s;
        EXPECT_EQ(mp_value(ArrayT, 16), mpq_class(c.t)) << c.s;
        if (c.s != 0) continue;
        EXPECT_EQ(std::vector<double>(ArrayP, ArrayP + 3), (std::vector<double>{2, 3, -44745}));
        EXPECT_TRUE(ArrayQ[0] == 7.0 && ArrayT[0] == 6.0 && ArrayT[1] == -5.0);
    }
    EXPECT_EQ(merge_level(8, 0), 0.0);
}

}  // namespace
}  // namespace drmpi_test
