// Carry normalisation, stripping and the small helpers: worked examples in both carry modes,
// and random vectors with extreme and far out-of-range words against their exact GMP values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "mp/mp.h"
#include "support/oracle.h"

namespace drmpi_test {
namespace {

using namespace drmpi;
using Words = std::vector<double>;

using Normalize = Balanced;

bool in_mode_range(double w) { return CarryMode < 0 ? std::fabs(w) <= 50000 : w >= 0 && w <= 99999; }

TEST_F(Normalize, WorkedExamplesAndRangeEnds) {
    const struct { int mode; Words in, out; } cases[] = {
        {-1, {3, 149999, 250001, -70000}, {5, -49999, 50000, 30000}}, {-1, {0, 50001}, {1, -49999}},
        {+1, {2, -150000, 0, -1}, {0, 49999, 99999, 99999}}, {-1, {0, -50001}, {-1, 49999}},
        {-1, {99999, 99999, 100000}, {100000, 0, 0}}, {+1, {99999, 99999, 100000}, {100000, 0, 0}},
        {+1, {0, -3}, {-1, 99997}}, {-1, {0, 50000, -50000}, {0, 50000, -50000}}, {+1, {0, 0, 5}, {0, 0, 5}},
        {-1, {-7, -60000}, {-8, 40000}}, {-1, {250000}, {250000}}, {+1, {-7}, {-7}}};
    for (const auto& c : cases) {
        CarryMode = c.mode;
        Words v = c.in;
        mp_normalize(v.data(), static_cast<int>(v.size()));
        EXPECT_EQ(v, c.out) << "mode " << c.mode << ", in " << ::testing::PrintToString(c.in);
    }
}

// The two floating sweeps, word for word as first written: the reference for
// the integer sweep, down to which of +-50000 a tie keeps.
void two_sweeps(double* v, int count) {
    for (int i = count - 1; i >= 1; --i) {
        const int32_t q = static_cast<int32_t>(v[i] / Radix);
        v[i] -= q * Radix, v[i - 1] += q;
    }
    for (int i = count - 1; i >= 1; --i) {
        const int t = CarryMode < 0 ? (v[i] > Radix / 2) - (v[i] < -Radix / 2) : -(v[i] < 0);
        v[i] -= t * Radix, v[i - 1] += t;
    }
}

TEST_F(Normalize, RandomExtremeAndHugeWordsKeepValueAndReachRange) {
    for (int mode : {-1, +1})
        for (int trial = 0; trial < 400; ++trial) {
            CarryMode = mode;
            const int count = static_cast<int>(uniform(0, 40));
            Words buf(count + 2, 7.0);  // a guard word on each side
            double* v = buf.data() + 1;
            random_words(v, count, true);
            for (int i = 0; i < count; ++i)  // a quarter of the words up to 1e13, far outside the range
                if (uniform(0, 3) == 0) v[i] = static_cast<double>(uniform(-1e13, 1e13));
            const mpz_class before = vec_value(v, count);
            Words ref(v, v + count);
            two_sweeps(ref.data(), count);
            mp_normalize(v, count);
            EXPECT_EQ(Words(v, v + count), ref) << "mode " << mode << ", trial " << trial;
            EXPECT_TRUE(vec_value(v, count) == before && buf.front() == 7.0 && buf.back() == 7.0 &&
                        std::all_of(v + std::min(count, 1), v + count, in_mode_range))
                << "mode " << mode << ", trial " << trial << ": " << ::testing::PrintToString(buf);
        }
}

TEST_F(Normalize, StripFromWordsSetSmallCopyFill) {
    // Word n + 1 (99) lies beyond the number and stays; a negative zero counts as zero.
    const struct { int n; Words in, out; } strips[] = {
        {5, {3, -0.0, 0, 7, 12345, 0}, {1, 7, 12345, 0, 0, 0}}, {3, {2, -1, 0, 5}, {2, -1, 0, 5}},
        {4, {1, 0, 0, 0, 0}, {-3, 0, 0, 0, 0}}, {4, {-3, 0, 0, 0, 0}, {-7, 0, 0, 0, 0}},
        {3, {3, 0, 5, 6, 99}, {2, 5, 6, 0, 99}}};
    for (auto c : strips) {
        mp_strip(c.in.data(), c.n);
        EXPECT_EQ(c.in, c.out);
    }
    Words b = {-9, 0, 0, 12, 34567, 99}, s(5, 8.0);
    mp_from_words(b.data(), 4);
    EXPECT_EQ(b, (Words{2, 12, 34567, 0, 0, 99}));
    mp_set_small(13591409, s.data(), 3);  // not normalised: the value stands whole in d1
    EXPECT_EQ(s, (Words{1, 13591409, 0, 0, 8}));
    mp_set_small(0, s.data(), 3);
    EXPECT_EQ(s, (Words{1, 0, 0, 0, 8}));
    mp_fill(4, s.data(), 2), mp_fill(5, s.data(), 0), mp_copy(b.data(), s.data(), -1);
    EXPECT_EQ(s, (Words{4, 4, 0, 0, 8}));
}

TEST_F(Normalize, SmallHelpers) {
    for (const auto& c : {Words{0, -1}, {1, 0}, {3, 1}, {1023, 9}, {1024, 10}})
        EXPECT_EQ(ilog2(static_cast<int>(c[0])), c[1]);
    for (int k = 1; k <= 30; ++k)  // every power of two and its neighbours
        EXPECT_TRUE(ilog2(1 << k) == k && ilog2((1 << k) - 1) == k - 1 && ilog2((1 << k) + 1) == k) << k;
    EXPECT_TRUE(int_pow(10, 0) == 1 && int_pow(10, 5) == 100000 && int_pow(-3, 3) == -27);
    EXPECT_EQ(int_pow(7, -2), 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::signbit(dmax(-0.0, 0.0)) && !std::signbit(dmax(0.0, -0.0)));  // a tie gives a
    EXPECT_TRUE(dmax(1.0, 3.0) == 3.0 && dmax(3.0, 1.0) == 3.0 && dmax3(1.0, 5.0, 3.0) == 5.0);
    EXPECT_TRUE(dmax(nan, 1.0) == 1.0 && dmax3(nan, 2.0, 1.0) == 2.0);  // a NaN fails the comparison: b
    EXPECT_TRUE(std::isnan(dmax(1.0, nan)) && std::isnan(dmax3(1.0, 2.0, nan)));
    EXPECT_TRUE(imin(3, 5) == 3 && imin(5, 3) == 3 && imin(-4, -4) == -4);
}

}  // namespace
}  // namespace drmpi_test
