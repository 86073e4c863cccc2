// Newton reciprocal, quotient and square root: worked values word for word,
// independence of the scratch contents, and residuals against GMP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "mp/mp.h"
#include "support/oracle.h"

namespace drmpi_test {
namespace {

using namespace drmpi;
using Words = std::vector<double>;

using Newton = ::testing::Test;

// The small integer v as an n-word MpNumber.
Words small(int v, int n) {
    Words x(n + 1, 0.0);
    x[0] = 1.0;
    x[1] = v;
    return x;
}

// A random n-word MpNumber of either sign: balanced words, often extreme, and d1
// from 1 to 99999, often 1 or 50000.
Words random_number(int n) {
    Words x(n + 1, static_cast<double>(uniform(-3, 3)));
    random_words(&x[1], n, uniform(0, 1));
    x[1] = static_cast<double>(uniform(0, 1) ? uniform(1, 99999) : uniform(0, 1) ? 1 : 50000);
    if (uniform(0, 1)) std::transform(x.begin() + 1, x.end(), x.begin() + 1, std::negate<>());
    return x;
}

// Runs operation op at length n over temporary storage filled with `fill`,
// with guard words after the result and around the storage: 0 the reciprocal
// of a, 1 the quotient b/a, 2 mp_sqrt_int(m) of the inverse root, 3 and 4 of
// the root.  With mark >= 0, that product of the operation reports the error
// 0.2.
Words run(int op, int n, const Words& a, const Words& b, int m, double fill = 0.0,
          long mark = -1) {
    Words x(n + 2, -9.0);
    Fenced temp(newton_temp_size(n), fill);
    const NewtonTemp t = newton_temp(temp.data(), n);
    const ProductErrors seen(mark, 0.2);
    const double err =
        op == 0   ? mp_reciprocal(a.data(), x.data(), n, t)
        : op == 1 ? mp_divide(b.data(), a.data(), x.data(), n, t)
                  : mp_sqrt_int(m, x.data(), n, op == 2 ? Root::InverseSqrt : Root::Sqrt, t);
    // Every product of the schedule is made and its error returned: two a
    // pass, and the final one of the quotient.
    EXPECT_EQ(seen.count(), 2 * newton_pass_count(n) + (op == 1)) << "operation " << op;
    EXPECT_EQ(err, seen.largest()) << "operation " << op << " n " << n << " mark " << mark;
    EXPECT_LT(err, mark < 0 ? 0.01 : 0.21) << "operation " << op << " n " << n;
    EXPECT_EQ(x[n + 1], -9.0) << "written past the end, n " << n;
    EXPECT_TRUE(temp.intact()) << "written outside the storage, n " << n;
    x.pop_back();
    return x;
}

// 1/3 is 0 | 33333, 33333, ... at every length, 2/3 at n = 8 is
// 1 | 1, -33333, ... in balanced words, and sqrt(2) begins 1 | 1, 41421.
TEST_F(Newton, WorkedValues) {
    for (int n = 2; n <= 1 << 16; n *= 2) {
        const Words x = run(0, n, small(3, n), {}, 0);
        EXPECT_EQ(x[0], 0.0) << n;
        EXPECT_EQ(std::count(x.begin() + 1, x.end(), 33333.0), n) << n;
    }
    EXPECT_EQ(run(1, 8, small(3, 8), small(2, 8), 0),
              (Words{1, 1, -33333, -33333, -33333, -33333, -33333, -33333, -33333}));
    for (int op : {3, 4}) {  // flag 0 and 1
        const Words x = run(op, 16, {}, {}, 2);
        EXPECT_EQ(Words(x.begin(), x.begin() + 3), (Words{1, 1, 41421})) << "flag " << op - 3;
    }
}

// For random operands and m at several lengths, each result is the same with
// zeros and with garbage (a NaN included) in the scratch, and its residual lies
// within units[i] * Radix^-(n-1).  Over 500 seeds the largest residuals were
// 0.50, 1.47, 0.015 and 1.35 of that unit: a reciprocal whose d1 is 1 or 2, or
// a product truncated below a d1 of 1.
TEST_F(Newton, ResidualsWithinAUnitOrTwoOfTheLastWord) {
    const double garbage[] = {std::numeric_limits<double>::quiet_NaN(), 1e300, -50000.0};
    const char* const names[4] = {"1 - a x", "1 - x a / b", "1 - m x^2", "1 - x^2 / m"};
    const int units[4] = {1, 2, 1, 2};
    for (int n : {2, 4, 6, 8, 12, 16, 24, 64, 96, 256, 1024, 3072, 4096}) {
        for (int trial = 0; trial < (n <= 256 ? 40 : 4); ++trial) {
            const Words a = random_number(n), b = random_number(n);
            const int m = static_cast<int>(uniform(1, uniform(0, 1) ? 1 << 20 : 20));
            SCOPED_TRACE(testing::Message() << "n " << n << " trial " << trial << " m " << m);
            mpq_class v[4];
            for (int op = 0; op < 4; ++op) {
                const Words x = run(op, n, a, b, m);
                EXPECT_EQ(run(op, n, a, b, m, garbage[trial % 3]), x) << names[op] << ": garbage";
                v[op] = mp_value(x.data(), n);
            }
            const mpq_class av = mp_value(a.data(), n), bv = mp_value(b.data(), n);
            const mpq_class residual[4] = {1 - av * v[0], 1 - v[1] * av / bv, 1 - m * v[2] * v[2],
                                           1 - v[3] * v[3] / m};
            for (int i = 0; i < 4; ++i)
                EXPECT_LE(abs(residual[i]), units[i] * radix_power(1 - n)) << names[i];
        }
    }
}

// Whichever product of an operation reports an error, the operation returns
// it: the error 0.2, beyond any that real operands give, is planted in each
// product in turn (run checks that it comes back).
TEST_F(Newton, EveryProductsErrorIsReturned) {
    for (int n : {2, 16, 256})
        for (int op = 0; op < 5; ++op) {
            const Words a = random_number(n), b = random_number(n);
            const long count = 2 * newton_pass_count(n) + (op == 1);
            for (long mark = 0; mark < count; ++mark) run(op, n, a, b, 7, 0.0, mark);
        }
}

// Words of precision of x as 1/a: -log_Radix |1 - a x|.
double precision_words(const Words& a, const Words& x, int n) {
    const mpq_class r = abs(1 - mp_value(a.data(), n) * mp_value(x.data(), n));
    if (r == 0) return n;
    const double bits = static_cast<double>(mpz_sizeinbase(r.get_den().get_mpz_t(), 2)) -
                        static_cast<double>(mpz_sizeinbase(r.get_num().get_mpz_t(), 2));
    return bits * std::log10(2.0) / 5.0;
}

// Each pass at length L from the second on leaves about L + 1 correct words
// (the last one n, within a word): a pass that forms its residual from the
// operand's first L words alone leaves fewer than L, and the loss doubles
// from pass to pass.
TEST_F(Newton, EachPassLeavesAWordBeyondItsLength) {
    for (int n : {16, 64, 96, 256, 2048, 3072}) {
        std::vector<double> worst(newton_pass_count(n), n);
        for (int trial = 0; trial < 8; ++trial) {
            const Words a = random_number(n);
            Words x(n + 1);
            Fenced temp(newton_temp_size(n));
            for (int passes = 1; passes <= newton_pass_count(n); ++passes) {
                mp_reciprocal(a.data(), x.data(), n, newton_temp(temp.data(), n), passes);
                worst[passes - 1] = std::min(worst[passes - 1], precision_words(a, x, n));
            }
        }
        const int passes = newton_pass_count(n);
        for (int pass = 0, L = n >> (passes - 1); pass < passes; ++pass, L *= 2) {
            EXPECT_GT(worst[pass], std::min(L + 0.5, n - 1.0)) << "n " << n << " pass " << pass;
        }
    }
}

}  // namespace
}  // namespace drmpi_test
