// Products of words: against GMP at every length with every kind of operand,
// sums of products and squares, mp_mul's exponents, and the reported error
// against fractions planted in the outputs.  Every spectrum, output and work
// area lies between guard words.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fft/fft.h"
#include "mp/mp.h"
#include "support/oracle.h"

namespace drmpi_test {
namespace {
using namespace drmpi;
using Words = std::vector<double>;
using Product = ::testing::Test;
constexpr int MaxN = 1 << 18;

bool balanced(double w) { return w >= -50000 && w <= 49999; }

// {a, n} * {b, n} in fenced buffers, checked against GMP, the guards and the
// balanced range of words 1 .. 2n-1; the words go to *words, the error is returned.
double multiply(const double* a, const double* b, int n, Words* words = nullptr) {
    Fenced out(2 * n), work(fft_multiply_work(n));
    const double err = fft_multiply(a, b, out.data(), n, work.data());
    EXPECT_TRUE(out.intact() && work.intact()) << "guard overwritten, n = " << n;
    const Words z(out.data(), out.data() + 2 * n);
    EXPECT_EQ(vec_value(z.data(), 2 * n), vec_value(a, n) * vec_value(b, n)) << "n = " << n;
    EXPECT_TRUE(std::all_of(z.begin() + 1, z.end(), balanced))
        << "words outside the balanced range, n = " << n;
    if (words) *words = z;
    return err;
}

// The rounding error of a product of a kind, which multiply checks.
double product_error(int n, int kind) {
    const Words a = operand(n, kind), b = operand(n, kind);
    const double err = multiply(a.data(), b.data(), n);
    const std::string key = "error_" + std::to_string(n) + "_kind" + std::to_string(kind);
    if (n >= MaxN / 4) ::testing::Test::RecordProperty(key, std::to_string(err));
    return err;
}

// 300004 * 500006 = 150003800024 and 3.00004 * 5.00006 = 15.0003800024; the
// carry of 40000^2 into word 0; n = 1; zero operands, exact with error 0.
TEST_F(Product, WorkedExampleAndSmallCases) {
    const double a[2] = {3, 4}, b[2] = {5, 6}, w[2] = {40000, 0}, p = 5e4, m = -5e4, z[4] = {};
    Words r[3];
    multiply(a, b, 2, &r[0]);
    multiply(w, w, 2, &r[1]);
    multiply(&p, &m, 1, &r[2]);
    EXPECT_EQ(r[0], (Words{0, 15, 38, 24}));
    EXPECT_EQ(r[1], (Words{16000, 0, 0, 0}));
    EXPECT_EQ(r[2], (Words{-25000, 0}));
    for (int n : {1, 2, 4}) EXPECT_EQ(multiply(z, z, n), 0.0);  // the words: checked by GMP
    const double x[3] = {1, 3, 4}, y[3] = {1, 5, 6}, v[3] = {1, 40000, 0}, o[3] = {9, 0, 0};
    double out[5];
    Fenced work(fft_multiply_work(2));
    EXPECT_EQ(mp_mul(x, y, out, 2, work.data()), 0.0);
    EXPECT_EQ(Words(out, out + 5), (Words{1, 15, 38, 24, 0}));
    mp_mul(v, v, out, 2, work.data());  // nothing to strip: the exponent stays 1 + 1
    EXPECT_EQ(Words(out, out + 5), (Words{2, 16000, 0, 0, 0}));
    EXPECT_EQ(mp_mul(o, o, out, 2, work.data()), 0.0);  // zero: all four words stripped
    EXPECT_EQ(Words(out, out + 5), (Words{14, 0, 0, 0, 0}));
}

// Short products pass over the zero words at either end of each factor, as
// the blocks of a product tree have them: random factors with random zero
// ends, none left to all of them, alone and as sums of two, against GMP.
TEST_F(Product, ShortProductsOfFactorsWithZeroEnds) {
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = static_cast<int>(uniform(1, SchoolbookMax));
        Words v[4];
        for (Words& w : v) {
            w = operand(n, static_cast<int>(uniform(0, 4)));
            const int64_t first = uniform(0, n), end = uniform(first, n);
            std::fill(w.begin(), w.begin() + first, 0.0);
            std::fill(w.begin() + end, w.end(), 0.0);
        }
        Fenced out(2 * n), work(fft_product_work(n));
        const bool sum = trial % 2;
        const Factor f[4] = {{v[0].data(), v[0].data()}, {v[1].data(), v[1].data()},
                             {v[2].data(), v[2].data()}, {v[3].data(), v[3].data()}};
        EXPECT_EQ(sum ? fft_product_sum(f[0], f[1], f[2], f[3], n, out.data(), work.data())
                      : fft_product(f[0], f[1], n, out.data(), work.data()),
                  0.0);
        mpz_class want = vec_value(v[0].data(), n) * vec_value(v[1].data(), n);
        if (sum) want += vec_value(v[2].data(), n) * vec_value(v[3].data(), n);
        EXPECT_EQ(vec_value(out.data(), 2 * n), want) << "n = " << n;
        EXPECT_TRUE(std::all_of(out.data() + 1, out.data() + 2 * n, balanced)) << "n = " << n;
        EXPECT_TRUE(out.intact()) << "n = " << n;
    }
}

// Exponents add; leading zero words of the operands and so of the product are
// stripped; a result written over an operand equals one written elsewhere.
TEST_F(Product, MpMulAddsExponentsStripsAndOverwrites) {
    const struct { int n, ex, ey, zx, zy; } cases[] = {{1, 1, 1, 0, 0}, {2, 1, 1, 0, 0},
        {8, -3, 5, 2, 0}, {16, 7, -20, 5, 9}, {64, 0, 0, 63, 63}, {4096, 100, 3, 1, 0}};
    for (const auto& c : cases) {
        Words x(c.n + 1), y(c.n + 1);
        random_words(x.data(), c.n + 1, true);
        random_words(y.data(), c.n + 1, true);
        x[0] = c.ex;
        y[0] = c.ey;
        x[c.n] = 7;  // both non-zero
        y[c.n] = 7;
        std::fill_n(x.begin() + 1, c.zx, 0.0);
        std::fill_n(y.begin() + 1, c.zy, 0.0);
        Fenced out(2 * c.n + 1), work(fft_multiply_work(c.n));
        EXPECT_LT(mp_mul(x.data(), y.data(), out.data(), c.n, work.data()), 0.01);
        EXPECT_TRUE(out.intact()) << "n = " << c.n;
        EXPECT_NE(out.data()[1], 0.0) << "n = " << c.n;
        EXPECT_EQ(mp_value(out.data(), 2 * c.n), mp_value(x.data(), c.n) * mp_value(y.data(), c.n));
        Words over(2 * c.n + 1);
        std::copy(x.begin(), x.end(), over.begin());
        mp_mul(over.data(), y.data(), over.data(), c.n, work.data());
        EXPECT_EQ(over, Words(out.data(), out.data() + 2 * c.n + 1)) << "n = " << c.n;
    }
}

// Every length, 2^k and 3 * 2^k, with every kind of operand.  The error of
// real data stays far below the 0.25 that a run accepts: random words give
// about 0.001 at 2^18, the extreme mix three times that.  With equal signs the
// outputs reach n * 2.5e9 = 6.6e14 at 2^18, the largest that a transform of
// whole words meets, and the error 0.375.  Where products may_split, random
// words keep their product of whole words (an error of 1e-4 at least, which a
// product of split digits, about 1e-8, never shows), while all +50000 words,
// which would round wrong, are made again from split digits.  Products up to
// SchoolbookMax are exact without rounding.
TEST_F(Product, ProductsMatchGmpAtEveryLength) {
    for (int n : transform_lengths(8 * SplitMin)) {
        const std::vector<int> kinds = n <= 2 * SplitMin   ? std::vector{0, 1, 2, 3, 4}
                                       : n <= 4 * SplitMin ? std::vector{0, 3}
                                                           : std::vector{3};
        for (int kind : kinds) {
            const double err = product_error(n, kind);
            const bool split = may_split(n) && kind == 3;
            const double bound = split      ? 1e-3
                                 : kind < 2 ? 0.005 * std::max(1, n / SplitMin)
                                 : kind == 2 ? 0.02 * std::max(1, n / SplitMin)
                                             : 0.5;
            EXPECT_LT(err, bound) << "n = " << n << ", kind " << kind;
            if (n <= SchoolbookMax) {
                EXPECT_EQ(err, 0.0) << "n = " << n << ", kind " << kind;
            } else if (may_split(n) && !split) {
                EXPECT_GT(err, 1e-4) << "n = " << n << ", kind " << kind;
            } else if (n >= 64 && kind < 3) {
                EXPECT_GT(err, 0.0) << "n = " << n << ", kind " << kind;
            }
            if (n >= MaxN) std::printf("error at n = %d, kind %d: %g\n", n, kind, err);
        }
    }
}

// A sum of two products formed before its one inverse transform is the exact
// sum: from the spectra of fft_spectrum (schoolbook, whole words), also when
// every word is +50000 where products may_split and the sum is made again from split
// digits, and through the kernel's own steps, out := x y then acc += x y, at
// the lengths that have whole words.  A square of one spectrum passed twice
// equals that of two copies bit for bit, also when the product overwrites the
// second; so does fft_multiply of one array passed twice, which transforms it once.
// A product may write its words over its first factor's spectrum, and take
// the words of a factor packed.
TEST_F(Product, SumsOfProductsAndSquares) {
    for (int n : {1, 2, 4, 8, 16, 32, 64, 128, 1024, 3 << 10, 1 << 15, 2 * SplitMin,
                  -2 * SplitMin, -2 * SplitMin3}) {
        const bool worst = n < 0;
        n = std::abs(n);
        Words v[4];
        std::vector<Fenced> s, k;  // spectra of fft_spectrum, of the kernel
        for (int i = 0; i < 4; ++i) {
            v[i] = operand(n, worst ? 3 : 2 * (i % 2));
            s.emplace_back(fft_spectrum_size(n));
            fft_spectrum(v[i].data(), n, s[i].data());
        }
        const mpz_class want = vec_value(v[0].data(), n) * vec_value(v[1].data(), n) +
                               vec_value(v[2].data(), n) * vec_value(v[3].data(), n);
        Fenced sum(2 * n), work(fft_product_work(n)), acc(2 * n), sq(2 * n);
        // Beyond SplitMin, as the merges lay it out: y1's spectrum is the
        // accumulator and y2's the rest of the work, which split digits write.
        const double* sy[2] = {s[1].data(), s[3].data()};
        if (may_split(n))
            for (int i = 0; i < 2; ++i) {
                double* const at = work.data() + i * fft_spectrum_size(n);
                std::copy(sy[i], sy[i] + fft_spectrum_size(n), at);
                sy[i] = at;
            }
        const double err =
            fft_product_sum({v[0].data(), s[0].data()}, {v[1].data(), sy[0]},
                            {v[2].data(), s[2].data()}, {v[3].data(), sy[1]}, n, sum.data(),
                            work.data());
        EXPECT_EQ(vec_value(sum.data(), 2 * n), want) << "n = " << n;
        EXPECT_LT(err, worst ? 1e-3 : 0.1) << "n = " << n;
        if (!may_split(n)) {
            const FftPlan& p = fft_plan(n);
            for (int i = 0; i < 4; ++i) {
                k.emplace_back(2 * n);
                fft_forward_words(p, v[i].data(), k[i].data());
            }
            fft_mul(p, k[0].data(), k[1].data(), acc.data());
            fft_mul_add(p, k[2].data(), k[3].data(), acc.data());
            fft_inverse_words(p, acc.data(), sq.data());
            mp_normalize(sq.data(), 2 * n);
            EXPECT_EQ(vec_value(sq.data(), 2 * n), want) << "kernel, n = " << n;
            std::copy(k[0].data(), k[0].data() + 2 * n, k[1].data());
            fft_mul(p, k[0].data(), k[0].data(), sq.data());
            fft_mul(p, k[0].data(), k[1].data(), k[1].data());  // out = y
            EXPECT_EQ(std::memcmp(sq.data(), k[1].data(), 16L * n), 0) << "n = " << n;
        }
        for (const std::vector<Fenced>* areas : {&s, &k})
            for (const Fenced& a : *areas) EXPECT_TRUE(a.intact()) << "n = " << n;
        for (const Fenced* a : {&sum, &work, &acc, &sq}) EXPECT_TRUE(a->intact()) << "n = " << n;
        const Words copy = v[1];
        Words once, twice;
        EXPECT_EQ(multiply(v[1].data(), v[1].data(), n, &once),
                  multiply(v[1].data(), copy.data(), n, &twice));
        EXPECT_EQ(once, twice) << "n = " << n;
        // A product whose words take the place of its first factor's
        // spectrum, that factor's words packed (made again from split digits
        // in the worst case at 2 * SplitMin3).
        if (n <= 2 * SplitMin3) {
            Fenced over(fft_spectrum_size(n)), at_work(fft_product_work(n));
            std::vector<int32_t> packed(n);
            mp_pack(v[0].data(), packed.data(), n);
            fft_spectrum(packed.data(), n, over.data());
            std::copy(s[1].data(), s[1].data() + fft_spectrum_size(n), at_work.data());
            fft_product({packed.data(), over.data()}, {v[1].data(), at_work.data()}, n, over.data(),
                        at_work.data());
            EXPECT_EQ(vec_value(over.data(), 2 * n),
                      vec_value(v[0].data(), n) * vec_value(v[1].data(), n)) << "n = " << n;
            EXPECT_TRUE(over.intact() && at_work.intact()) << "n = " << n;
        }
    }
}

// The reported error is the largest distance of any of the 2n outputs from its
// whole number, real parts (words 1 .. n) and imaginary parts (words n+1 ..
// 2n-1) alike, a fraction planted in each eighth of the outputs in turn: in a
// word j of a, which the product with x^s (the words 0, ..., 1 at s, ..., 0)
// moves to output j + s, or past n to the imaginary part of output j + s - n.
// At 2^19 and 2^20, where the inverse shares its last pass among the threads
// (radix 2, then radix 4), a fraction above SplitTrigger sends the product
// back to split digits: there it lies in the low digit of the word, and must
// come back through the inverse transform of the low digits' product.
TEST_F(Product, ErrorIsTheWorstOfAllOutputs) {
    std::vector<int> lengths{96, 3 << 18};
    for (int n = static_cast<int>(std::bit_ceil(SchoolbookMax + 1u)); n <= 1 << 20;
         n *= n == 1 << 14 ? 32 : 2)
        lengths.push_back(n);
    for (int n : lengths) {
        Words a(n), x(n);
        for (double& w : a) w = static_cast<double>(uniform(-1000, 1000));
        Fenced sa(fft_spectrum_size(n)), sx(fft_spectrum_size(n)), out(2 * n);
        Fenced work(fft_product_work(n));
        for (int trial = 0; trial < 8; ++trial) {
            const int at = static_cast<int>(trial * (n / 8) + uniform(0, n / 8 - 1));
            const bool imaginary = uniform(0, 1) && at < n - 1;
            const int s = static_cast<int>(imaginary ? uniform(at + 1, n - 1) : uniform(0, at));
            const double fraction = static_cast<double>(uniform(5, 45)) / 100;
            Words planted = a, want(2 * n, 0.0);
            planted[imaginary ? at + n - s : at - s] += fraction;
            x.assign(n, 0.0);
            x[s] = 1.0;
            fft_spectrum(planted.data(), n, sa.data());
            fft_spectrum(x.data(), n, sx.data());
            const double err =
                fft_product({planted.data(), sa.data()}, {x.data(), sx.data()}, n, out.data(),
                            work.data());
            EXPECT_NEAR(err, fraction, 1e-6) << "n " << n << " output " << at << " imaginary "
                                             << imaginary;
            std::copy(a.begin(), a.end(), want.begin() + s + 1);  // a moved s words up
            EXPECT_EQ(Words(out.data(), out.data() + 2 * n), want) << "n " << n;
        }
        EXPECT_TRUE(sa.intact() && sx.intact() && out.intact() && work.intact()) << "n " << n;
    }
}

}  // namespace
}  // namespace drmpi_test
