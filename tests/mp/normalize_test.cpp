// Carry normalisation and stripping: random vectors in both carry modes,
// with extreme, boundary and far out-of-range words, against their exact GMP
// values.
#include <gtest/gtest.h>

#include <vector>

#include "mp/mp.h"
#include "support/oracle.h"

namespace drmpi_test {
namespace {

using namespace drmpi;
using Words = std::vector<double>;

using Normalize = ::testing::Test;

const Carry Modes[2] = {Carry::Balanced, Carry::NonNegative};

// The words of a value in a mode are unique: word i is the remainder of the
// value by Radix^(count-i), divided by Radix^(count-1-i), in the mode's range
// of Radix consecutive values; word 0 keeps the rest.  Computed with GMP.
Words canonical(const mpz_class& value, int count, Carry mode) {
    Words w(count);
    mpz_class v = value;
    const mpz_class radix(static_cast<long>(Radix));
    const long off = mode == Carry::Balanced ? 50000 : 0;
    for (int i = count - 1; i >= 1; --i) {
        mpz_class q, r;
        mpz_class shifted = v + off;
        mpz_fdiv_qr(q.get_mpz_t(), r.get_mpz_t(), shifted.get_mpz_t(), radix.get_mpz_t());
        w[i] = static_cast<double>(r.get_si() - off);
        v = q;
    }
    if (count > 0) w[0] = v.get_d();
    return w;
}

// Short and long vectors (the long ones take the rounds over all words at
// once), words up to 4e15, runs of boundary words that carries ripple along,
// and words halfway between two multiples of Radix or on one, where the
// rounds' quotients may come out one less.
TEST_F(Normalize, RandomWordsGetTheirCanonicalForm) {
    for (Carry mode : Modes)
        for (int trial = 0; trial < 600; ++trial) {
            SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << " trial "
                                            << trial);
            const int count = static_cast<int>(uniform(0, trial % 3 ? 40 : 400));
            Words buf(count + 2, 7.0);  // a guard word on each side
            double* v = buf.data() + 1;
            random_words(v, count, true);
            const int64_t top = trial % 4 == 0 ? 4000000000000000 : 10000000000000;
            const int64_t multiples = top / static_cast<int64_t>(Radix);
            for (int i = 0; i < count; ++i) {
                switch (uniform(0, 9)) {
                    case 0: v[i] = static_cast<double>(uniform(-top, top)); break;
                    case 1: v[i] = mode == Carry::Balanced ? 49999 : 99999; break;
                    case 2: v[i] = mode == Carry::Balanced ? -50000 : 0; break;
                    case 3: v[i] = Radix * static_cast<double>(uniform(-multiples, multiples)); break;
                    case 4:
                        v[i] = Radix * static_cast<double>(uniform(-multiples, multiples)) + 50000;
                        break;
                    default: break;
                }
            }
            const Words want = canonical(vec_value(v, count), count, mode);
            mp_normalize(v, count, mode);
            EXPECT_EQ(Words(v, v + count), want);
            EXPECT_EQ(buf.front(), 7.0);
            EXPECT_EQ(buf.back(), 7.0);
        }
}

TEST_F(Normalize, StripFromWordsSetSmall) {
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
}

}  // namespace
}  // namespace drmpi_test
