// Linear operations: worked examples word for word in both carry modes, and
// random operands against exact GMP values with exactly the truncation each
// operation prescribes, checking normal form, guard words and aliasing.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "mp/mp.h"
#include "support/oracle.h"

namespace drmpi_test {
namespace {

using namespace drmpi;
using Words = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

using Linear = ::testing::Test;

// Words between guard words, compared bit for bit: NaN for operands, so that a read beyond
// them poisons the result, and a finite word for results, so that any write beyond them shows.
bool same(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }
struct Guarded : Words {
    double guard;
    explicit Guarded(const Words& w, double g = kNaN) : Words(w), guard(g) {
        insert(begin(), g);
        push_back(g);
    }
    double* p() { return data() + 1; }
    Words words() const { return Words(begin() + 1, end() - 1); }
    bool guarded() const { return same(front(), guard) && same(back(), guard); }
};

const Carry Modes[2] = {Carry::Balanced, Carry::NonNegative};

bool vec_normal(const double* v, int count, Carry mode) {
    const double lo = mode == Carry::Balanced ? -50000 : 0;
    return std::isfinite(v[0]) &&
           std::all_of(v + 1, v + count, [lo](double w) { return w >= lo && w < lo + 100000; });
}
// An MpNumber result: words 2..n in range, d1 non-zero unless the number is zero.
bool mp_normal(const double* x, int n, Carry mode) {
    const bool zero = std::all_of(x + 1, x + n + 1, [](double w) { return w == 0; });
    return std::isfinite(x[0]) && vec_normal(x + 1, n, mode) && (x[1] != 0 || zero);
}

// The Sign of a test case's +1 or -1.
Sign sign_of(int s) { return s < 0 ? Sign::Minus : Sign::Plus; }

TEST_F(Linear, WorkedExamplesInBothModes) {
    // '+' mp_add(x, y, sign), 'k' mp_int_add(k, x, sign), '*' mp_mul_int(x, k),
    // 's' vec_scale(x, k).  An empty non-negative result is the balanced one.  n = 3.
    const struct { char op; int k; Words x, y; int sign; Words balanced, nonneg; } cases[] = {
        {'+', 0, {1, 3, 14159, 26535}, {0, 50000, 0, 0}, 1, {1, 4, -35841, 26535},
         {1, 3, 64159, 26535}},
        {'+', 0, {1, 3, 14159, 26535}, {0, 50000, 0, 0}, -1, {1, 3, -35841, 26535},
         {1, 2, 64159, 26535}},
        {'+', 0, {0, 12345, 67890, 11111}, {2, 1, 0, 5}, 1, {2, 1, 0, 12350}, {}},
        {'+', 0, {-1, 5, 0, 0}, {1, 7, 1, 2}, -1, {1, -7, -1, 3}, {1, -8, 99999, 3}},
        {'+', 0, {1, 3, 14159, 26535}, {1, 3, 14159, 0}, -1, {-1, 26535, 0, 0}, {}},
        {'+', 0, {1, 99999, 99999, 99999}, {-1, 1, 0, 0}, 1, {1, 100000, 0, 0}, {}},
        {'+', 0, {1, 60000, 0, 0}, {1, 60000, 0, 0}, 1, {1, 120000, 0, 0}, {}},
        {'+', 0, {1, 7, 0, 0}, {-3, 0, 0, 0}, 1, {1, 7, 0, 0}, {}},
        {'+', 0, {1, 7, 8, 9}, {3, 0, 0, 0}, 1, {1, 7, 0, 0}, {}},  // a zero aligns like any number
        {'+', 0, {3, 12, 34567, 89}, {-3, 0, 0, 0}, -1, {3, 12, 34567, 89}, {}},
        {'+', 0, {-5, 1, 2, 3}, {1, 7, 8, 9}, -1, {1, -7, -8, -9}, {1, -8, 99991, 99991}},
        {'k', 1, {0, 99999, 99990, 12345}, {}, -1, {-1, 10, 0, 0}, {}},
        {'k', 1, {1, 1, 5, 0}, {}, -1, {0, -5, 0, 0}, {1, -1, 99995, 0}},
        {'k', 1, {2, 5, 7, 9}, {}, 1, {2, 5, 8, 9}, {}},
        {'k', 1, {1, 1, 0, 0}, {}, -1, {-2, 0, 0, 0}, {}},
        {'*', 7, {1, 3, 14159, 26535}, {}, 0, {1, 22, -885, -14255}, {1, 21, 99114, 85745}},
        {'*', 3, {1, 40000, 1, 60000}, {}, 0, {2, 1, 20000, 4}, {}},
        {'*', 2, {1, 50000, 0, 0}, {}, 0, {2, 1, 0, 0}, {}},  // |d1 m| = Radix shifts
        {'*', 3, {1, 33333, 40000, 0}, {}, 0, {1, 100000, 20000, 0}, {}},
        {'*', 0, {1, 3, 14159, 26535}, {}, 0, {-2, 0, 0, 0}, {}},
        {'s', 26390, {0, 3, 14159}, {}, 0, {1, -17093, -43990}, {0, 82906, 56010}},
        {'s', -1, {0, 50000, -3}, {}, 0, {0, -50000, 3}, {-1, 50000, 3}}};
    for (const auto& c : cases)
        for (const Carry mode : Modes) {
            Guarded x(c.x), y(c.y), out{Words(c.x.size(), -7.0), -7.0};
            const int n = static_cast<int>(c.x.size()) - 1;
            if (c.op == '+') mp_add(x.p(), y.p(), out.p(), n, sign_of(c.sign), mode);
            if (c.op == 'k') mp_int_add(c.k, x.p(), out.p(), n, sign_of(c.sign), mode);
            if (c.op == '*') mp_mul_int(x.p(), c.k, out.p(), n, mode);
            if (c.op == 's') vec_scale((out = x).p(), c.k, n + 1, mode);
            EXPECT_TRUE(out.guarded());
            const bool nonneg = mode == Carry::NonNegative;
            EXPECT_EQ(out.words(), nonneg && !c.nonneg.empty() ? c.nonneg : c.balanced)
                << c.op << c.k << " " << ::testing::PrintToString(c.x) << " non-negative "
                << nonneg;
        }
}

// Exponent within a few words of the other operand's, balanced words (extreme half the
// time), d1 often unreduced; one in eight is zero.
Guarded random_mp(int n) {
    Words w(n + 1, 0.0);
    w[0] = static_cast<double>(uniform(-n - 3, n + 3));
    if (uniform(0, 7) == 0) return Guarded(w);
    random_words(&w[1], n, uniform(0, 1));
    if (uniform(0, 1)) w[1] = static_cast<double>(uniform(-300000, 300000));
    return Guarded(w);
}

// What an n-word result of exponent top keeps of x: its words at Radix^(top - n) and above.
mpq_class window(const double* x, int n, long top) {
    Words w(x, x + n + 1);
    for (long i = std::max(1L, n + 1 - (top - static_cast<long>(x[0]))); i <= n; ++i) w[i] = 0;
    return mp_value(w.data(), n);
}

TEST_F(Linear, RandomOperandsAgainstGmp) {
    for (const Carry mode : Modes)
        for (int trial = 0; trial < 500; ++trial) {
            SCOPED_TRACE(::testing::Message() << "mode " << static_cast<int>(mode) << ", trial "
                                              << trial);
            const int n = static_cast<int>(uniform(1, 10)), sign = static_cast<int>(uniform(-2, 2));
            const int k = static_cast<int>(uniform(-1000, 1000));
            const int m =
                static_cast<int>(uniform(0, 1) ? uniform(-9, 9) : uniform(-200000, 200000));
            Guarded x = random_mp(n), y = random_mp(n), out{Words(n + 1), -7.0};
            const double* xp = x.p();
            const long ex = static_cast<long>(xp[0]), ey = static_cast<long>(y.p()[0]);
            const long top = std::max(ex, ey), units = std::max(ex, 1L);
            const mpq_class vx = mp_value(x.p(), n), s = sign < 0 ? -1 : 1;
            auto error = [&](const mpq_class& exact) {  // exact - result, once the form is checked
                const bool ok = mp_normal(out.p(), n, mode) && out.guarded();
                EXPECT_TRUE(ok) << ::testing::PrintToString(out);
                return ok ? mpq_class(exact - mp_value(out.p(), n)) : mpq_class(-1);
            };
            // op(x, out) in place over x: the same words as out of place.
            const auto in_place = [&](const char* what, const auto& op) {
                Guarded z = x;
                op(z.p(), z.p());
                EXPECT_EQ(z.words(), out.words()) << what << " in place";
                EXPECT_TRUE(z.guarded()) << what << " in place";
            };
            const auto add = [&](const double* a, double* o) {
                mp_add(a, y.p(), o, n, sign_of(sign), mode);
            };
            add(x.p(), out.p());
            EXPECT_EQ(error(window(x.p(), n, top) + s * window(y.p(), n, top)), 0) << "mp_add";
            if (ey <= ex) in_place("mp_add", add);
            // k is lost when its units word falls below word n
            const auto int_add = [&](const double* a, double* o) {
                mp_int_add(k, a, o, n, sign_of(sign), mode);
            };
            int_add(x.p(), out.p());
            EXPECT_EQ(error((units <= n ? k : 0) + s * window(x.p(), n, units)), 0) << "mp_int_add";
            in_place("mp_int_add", int_add);
            // x * m is exact unless |d1 m| >= Radix shifts it a word: then of the last product
            // x[n] m only the carry trunc(x[n] m / Radix) is kept, and the error is the truncated
            // remainder
            // times Radix^(Ex - n), less than one unit of the result's last word.
            const long rem =
                std::fabs(xp[1] * m) >= Radix ? static_cast<long>(xp[n]) * m % 100000 : 0;
            const auto mul_int = [&](const double* a, double* o) { mp_mul_int(a, m, o, n, mode); };
            mul_int(x.p(), out.p());
            EXPECT_EQ(error(vx * m), rem * radix_power(ex - n)) << "mp_mul_int";
            in_place("mp_mul_int", mul_int);
            // x read as a DigitVector of n + 1 words, scaled in place.
            const mpz_class va = vec_value(x.p(), n + 1);
            vec_scale(x.p(), m, n + 1, mode);  // x is not read again
            ASSERT_TRUE(vec_normal(x.p(), n + 1, mode));
            ASSERT_TRUE(x.guarded());
            EXPECT_EQ(vec_value(x.p(), n + 1), va * m);
        }
}

#ifdef DRMPI_CHECKS
// Where the checks are compiled in, a precondition broken stops the program
// with its condition named: here a sum written over its second operand.
TEST(Checks, ABrokenPreconditionStops) {
    double x[3] = {1, 3, 14159}, y[3] = {1, 2, 71828};
    EXPECT_DEATH(mp_add(x, y, y, 2, Sign::Plus), "check failed: disjoint\\(out, n \\+ 1, y");
}
#endif

}  // namespace
}  // namespace drmpi_test
