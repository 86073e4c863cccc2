// Exact products from spectra, on top of the transform kernel.
//
// A product of two n-word operands needs only an n-point transform: word j is
// weighted by theta^j, theta = exp(i pi/(2n)), and as theta^n = i the terms of
// the cyclic convolution that wrap around arrive with factor i and the others
// with factor 1.  After the inverse transform the real part of point m holds
// product word m + 1 and its imaginary part word m + n + 1 (the kernel places
// them).  Rounding them and carrying gives the exact product while every
// output lies within 0.5 of its whole value.
//
// Short products are made by schoolbook multiplication instead: their
// "spectrum" is the operand's words, and every convolution sum is formed
// exactly in doubles, so their rounding error is 0.
//
// Products that may_split are made from whole words too, and kept when
// their rounding error is at most SplitTrigger; otherwise they are made again
// from the words split into digits (split_product), whose outputs are small
// enough to round right at every length.
#include <algorithm>
#include <cstring>

#include <immintrin.h>

#include "fft/fft.h"
#include "mp/check.h"
#include "mp/mp.h"

namespace drmpi {

double (*ProductErrorHook)(double error) = nullptr;

namespace {

// The words of {a, n} from the first non-zero one to the last: returns the
// index of the first, and sets *count to their number (0 for none).
int nonzero_words(const double* a, int n, int* count) {
    const int first = leading_zeros(a, n);
    int end = n;
    while (end > first && a[end - 1] == 0.0) --end;
    *count = end - first;
    return first;
}

// The helpers are inlined into each copy of mul_add_words, so the warning
// that vectors pass differently between instruction sets concerns no real
// call.
#pragma GCC diagnostic ignored "-Wpsabi"

// {sum, na + nb - 1} += {a, na} * {b, nb}, 1 <= na, nb <= SchoolbookMax, and
// up to SumSpare - 1 words after it += 0; every word product and sum a whole
// number below 2^53, so exact in any order and with or without a fused
// multiply-add: each copy gives the same words.  Groups of 4 vectors of the sum at a time, each in a
// register, from every word of a that reaches them times the vectors of b
// that it meets: no word of the sum is stored while it is being summed, and
// the four sums are independent.  b is read through a copy with zeros on
// either side, so that a vector may reach past its ends.
template <class Isa>
__attribute__((always_inline)) inline void mul_add_words(const double* a, int na, const double* b,
                                                         int nb, double* sum) {
    using Vec = typename Isa::Vec;
    constexpr int V = sizeof(Vec) / sizeof(double), G = 4 * V;
    alignas(64) double padded[SchoolbookMax + 2 * G];
    for (int i = 0; i < G; i += V) {
        Isa::store(padded + i, Isa::zero());
        Isa::store(padded + G + nb + i, Isa::zero());
    }
    std::memcpy(padded + G, b, static_cast<size_t>(nb) * sizeof(double));
    const double* const bz = padded + G;  // bz[i] = b[i], 0 for -G <= i < 0, nb <= i < nb + G
    for (int k = 0; k < na + nb - 1; k += G) {
        Vec s0 = Isa::load(sum + k), s1 = Isa::load(sum + k + V);
        Vec s2 = Isa::load(sum + k + 2 * V), s3 = Isa::load(sum + k + 3 * V);
        const int last = imin(na - 1, k + G - 1);
        for (int j = k - nb + 1 > 0 ? k - nb + 1 : 0; j <= last; ++j) {
            const Vec aj = Isa::broadcast(a[j]);
            const double* const bj = bz + k - j;
            s0 = Isa::mul_add(aj, Isa::load(bj), s0);
            s1 = Isa::mul_add(aj, Isa::load(bj + V), s1);
            s2 = Isa::mul_add(aj, Isa::load(bj + 2 * V), s2);
            s3 = Isa::mul_add(aj, Isa::load(bj + 3 * V), s3);
        }
        Isa::store(sum + k, s0);
        Isa::store(sum + k + V, s1);
        Isa::store(sum + k + 2 * V, s2);
        Isa::store(sum + k + 3 * V, s3);
    }
}

// The vectors of each instruction set: 8, 4 and 2 words.
struct Avx512 {
    using Vec = __m512d;
    __attribute__((target("avx512f"))) static Vec zero() { return _mm512_setzero_pd(); }
    __attribute__((target("avx512f"))) static Vec load(const double* p) { return _mm512_loadu_pd(p); }
    __attribute__((target("avx512f"))) static void store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
    __attribute__((target("avx512f"))) static Vec broadcast(double x) { return _mm512_set1_pd(x); }
    __attribute__((target("avx512f"))) static Vec mul_add(Vec x, Vec y, Vec z) { return _mm512_fmadd_pd(x, y, z); }
};
struct Avx2 {
    using Vec = __m256d;
    __attribute__((target("avx2,fma"))) static Vec zero() { return _mm256_setzero_pd(); }
    __attribute__((target("avx2,fma"))) static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    __attribute__((target("avx2,fma"))) static void store(double* p, Vec v) { _mm256_storeu_pd(p, v); }
    __attribute__((target("avx2,fma"))) static Vec broadcast(double x) { return _mm256_set1_pd(x); }
    __attribute__((target("avx2,fma"))) static Vec mul_add(Vec x, Vec y, Vec z) { return _mm256_fmadd_pd(x, y, z); }
};
struct Sse2 {
    using Vec = __m128d;
    static Vec zero() { return _mm_setzero_pd(); }
    static Vec load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm_storeu_pd(p, v); }
    static Vec broadcast(double x) { return _mm_set1_pd(x); }
    static Vec mul_add(Vec x, Vec y, Vec z) { return _mm_add_pd(_mm_mul_pd(x, y), z); }
};

// The words past a sum that mul_add_words may add zeros to.
constexpr int SumSpare = 32;

__attribute__((target("avx512f"))) void mul_add_avx512(const double* a, int na, const double* b,
                                                       int nb, double* sum) {
    mul_add_words<Avx512>(a, na, b, nb, sum);
}
__attribute__((target("avx2,fma"))) void mul_add_avx2(const double* a, int na, const double* b,
                                                      int nb, double* sum) {
    mul_add_words<Avx2>(a, na, b, nb, sum);
}
void mul_add_sse2(const double* a, int na, const double* b, int nb, double* sum) {
    mul_add_words<Sse2>(a, na, b, nb, sum);
}

// The copy for the path that the transforms take (fft_default_isa), the
// AVX2 one where the processor has fused multiply-adds too.
using MulAdd = void (*)(const double*, int, const double*, int, double*);
MulAdd mul_add() {
    static const MulAdd f = [] {
        switch (fft_default_isa()) {
            case FftIsa::avx512: return mul_add_avx512;
            case FftIsa::avx2: return __builtin_cpu_supports("fma") ? mul_add_avx2 : mul_add_sse2;
            default: return mul_add_sse2;
        }
    }();
    return f;
}

// {sum, na + nb - 1} += {a, na} * {b, nb}, na, nb >= 1, word by word, two
// rows at a time, each word of the sum loaded and stored once for both: a
// row at a time makes a chain of stores and loads through the same words,
// one row after another.  For the shortest products, whose rows are a few
// words long, where mul_add_words spends more on its zeros than it saves.
__attribute__((optimize("no-tree-vectorize"))) void mul_add_rows(const double* a, int na,
                                                                 const double* b, int nb,
                                                                 double* sum) {
    int j = 0;
    for (; j + 1 < na; j += 2) {
        const double a0 = a[j], a1 = a[j + 1];
        double* const row = sum + j;
        row[0] += a0 * b[0];
        for (int l = 1; l < nb; ++l) row[l] += a0 * b[l] + a1 * b[l - 1];
        row[nb] += a1 * b[nb - 1];
    }
    if (j < na)
        for (int l = 0; l < nb; ++l) sum[j + l] += a[j] * b[l];
}

// Products up to this length are summed by mul_add_rows and carried by a
// sweep over the words they reach, longer ones by mul_add_words and
// mp_normalize.
constexpr int RowsMax = 16;

// {out, 2n} := the sum over t < count of x[t] * y[t], carried to balanced
// words, by schoolbook multiplication, n <= SchoolbookMax: every product of
// words (below Radix in magnitude) and every sum is a whole number below
// 2^46 (SchoolbookMax * 10^10 for a sum, twice that for a sum of products),
// so exact in whatever order it is summed, and within the reach of
// mp_normalize.  Only the words
// between the first and the last non-zero word of each factor take part:
// the blocks of a product tree's lower levels are mostly zero.  The factors
// are read before out is written.
void schoolbook(const Factor* x, const Factor* y, int count, int n, double* out) {
    // The non-zero words of each term's factors, the shorter first, and the
    // words that the products reach, [begin, end): only these are summed,
    // so only these are zeroed first, with the few after them that the last
    // vectors of a sum reach.
    struct Term {
        const double* a;
        const double* b;
        int na, nb, at;
    } terms[2];
    DRMPI_ASSERT(count <= 2);
    int used = 0, begin = 2 * n, end = 2 * n;
    for (int t = 0; t < count; ++t) {
        int na, nb;
        const int sa = nonzero_words(x[t].spectrum, n, &na);
        const int sb = nonzero_words(y[t].spectrum, n, &nb);
        if (na == 0 || nb == 0) continue;
        const Term c{x[t].spectrum + sa, y[t].spectrum + sb, na, nb, sa + sb + 1};
        terms[used++] = na <= nb ? c : Term{c.b, c.a, nb, na, c.at};
        begin = std::min(begin, c.at);
        end = used == 1 ? c.at + na + nb - 1 : std::max(end, c.at + na + nb - 1);
    }
    alignas(64) double sum[2 * SchoolbookMax + SumSpare];
    const bool rows = n <= RowsMax;
    for (int i = begin; i < end + (rows ? 0 : SumSpare); ++i) sum[i] = 0.0;
    const MulAdd words = rows ? mul_add_rows : mul_add();
    for (int t = 0; t < used; ++t) {
        const Term& c = terms[t];
        words(c.a, c.na, c.b, c.nb, sum + c.at);
    }
    if (!rows) {
        for (int i = 0; i < begin; ++i) out[i] = 0.0;
        std::memcpy(out + begin, sum + begin, static_cast<size_t>(end - begin) * sizeof(double));
        for (int i = end; i < 2 * n; ++i) out[i] = 0.0;
        mp_normalize(out, 2 * n);
        return;
    }
    // The carries, from the last word reached up to the first, and on while
    // one is left; the other words are zero.
    constexpr int64_t Off = static_cast<int64_t>(Radix / 2);
    int64_t carry = 0;
    int i = 2 * n - 1;
    for (; i >= end; --i) out[i] = 0.0;
    for (; i >= 1 && (i >= begin || carry != 0); --i) {
        int64_t r;
        const int64_t word = i >= begin ? static_cast<int64_t>(sum[i]) : 0;
        carry = split_word(word + carry, Off, &r);
        out[i] = static_cast<double>(r);
    }
    for (; i >= 1; --i) out[i] = 0.0;
    out[0] = static_cast<double>(carry);
}

// acc := x * y when first, else acc += x * y.
void fft_mul_add_or_set(const FftPlan& p, const double* x, const double* y, double* acc,
                        bool first) {
    if (first) {
        fft_mul(p, x, y, acc);
    } else {
        fft_mul_add(p, x, y, acc);
    }
}

// The words of a factor of length n that a product reads.
int words(const Factor& f, int n) { return f.count == 0 ? n : f.count; }

// Whether {x, size} shares no byte with the first count words of w.
bool clear_of(const double* x, int64_t size, WordsView w, int64_t count) {
    return w.packed ? disjoint(x, size, w.packed, count) : disjoint(x, size, w.doubles, count);
}

double report(double err) { return ProductErrorHook != nullptr ? ProductErrorHook(err) : err; }

// Carries the words of a product and reports its error.
double carry(double* out, int n, double err) {
    mp_normalize(out, 2 * n);
    return report(err);
}

// {out, 2n} := the sum over t < count of x[t] * y[t], carried, from the
// words of the factors split into digits, w = h SplitBase + l (|h|, |l| <=
// 158 for balanced words).  With H and L the digit sequences, the sum is
// (hh SplitBase + mid) SplitBase + ll, hh = sum H_x H_y, mid = sum H_x L_y +
// L_x H_y, ll = sum L_x L_y.  Each product of digits is made on its own, in
// the two areas of 2n doubles at work (its spectra, then its words), and its
// outputs stay below n 158^2 < 5.1e12 at 3 * 2^26 points; Horner's rule on carried
// words keeps every sum below 2^45.  Twelve transforms for a single product;
// only products whose whole words round too far come here.  Returns the
// largest error of the inverse transforms.
double split_product(const FftPlan& p, const Factor* x, const Factor* y, int count, int n,
                     double* out, double* work) {
    using D = SplitDigit;
    // The pairs of digits (of x, of y) that hh sums, then mid, then ll.
    static constexpr D Pairs[4][2] = {
        {D::High, D::High}, {D::High, D::Low}, {D::Low, D::High}, {D::Low, D::Low}};
    static constexpr int LevelEnd[3] = {1, 3, 4};
    const int64_t m = 2 * static_cast<int64_t>(n);
    double* const sx = work;
    double* const sy = work + m;
    mp_fill(0, out, 2 * n);
    double err = 0.0;
    for (int level = 0, k = 0; level < 3; ++level) {
        if (level > 0)
            for (int64_t i = 0; i < m; ++i) out[i] *= SplitBase;
        for (; k < LevelEnd[level]; ++k)
            for (int t = 0; t < count; ++t) {
                fft_forward_digits(p, x[t].words, Pairs[k][0], sx, x[t].count);
                fft_forward_digits(p, y[t].words, Pairs[k][1], sy, y[t].count);
                fft_mul(p, sx, sy, sx);
                err = dmax(err, fft_inverse_words(p, sx, sy));
                for (int64_t i = 0; i < m; ++i) out[i] += sy[i];
            }
        mp_normalize(out, 2 * n);
    }
    return err;
}

// {out, 2n} := sum over the terms t < count of x[t] * y[t], from spectra of
// length n, carried; returns the rounding error, the largest of the inverse
// transforms whose outputs were kept.  work: fft_product_work(n) doubles.
double product(const Factor* x, const Factor* y, int count, int n, double* out, double* work) {
    const int64_t size = fft_spectrum_size(n), work_size = fft_product_work(n);
    // No spectrum overlaps the accumulator at the start of the work but that
    // of the first term's y (and x, for a square), which may be the
    // accumulator itself; the rest of the work is written only by a product
    // made again from digits, after every spectrum has been read.
    const auto apart = [&](const double* spectrum, int t) {
        return (t == 0 && spectrum == y[0].spectrum && spectrum == work) ||
               disjoint(work, size, spectrum, size);
    };
    // out may lie over a spectrum outside the work: every spectrum is read
    // before the first output is written.
    DRMPI_ASSERT(product_length(n) && disjoint(out, 2 * n, work, work_size));
    for (int t = 0; t < count; ++t)
        DRMPI_ASSERT(apart(x[t].spectrum, t) && apart(y[t].spectrum, t) &&
                     (!may_split(n) || (clear_of(out, 2 * n, x[t].words, words(x[t], n)) &&
                                        clear_of(out, 2 * n, y[t].words, words(y[t], n)))));
    if (n <= SchoolbookMax) {
        schoolbook(x, y, count, n, out);
        return report(0.0);
    }
    const FftPlan& p = fft_plan(n);
    double* const acc = work;
    for (int t = 0; t < count; ++t)
        fft_mul_add_or_set(p, x[t].spectrum, y[t].spectrum, acc, t == 0);
    double err = fft_inverse_words(p, acc, out);
    if (may_split(n) && !(err <= SplitTrigger)) {
        err = split_product(p, x, y, count, n, out, work);
    }
    return carry(out, n, err);
}

}  // namespace

bool product_length(int n) { return (n >= 1 && n <= SchoolbookMax) || fft_length(n); }

int short_product_length(int words, int n) {
    if (n <= FftBuiltInThreeMax / 3 * 4)
        for (const int m : {n / 2, n / 4 * 3})
            if (m >= words && product_length(m)) return m;
    return n;
}

int64_t fft_spectrum_size(int n) { return 2 * static_cast<int64_t>(n); }

int64_t fft_product_work(int n) { return (may_split(n) ? 4 : 2) * static_cast<int64_t>(n); }

void fft_spectrum(WordsView a, int n, double* spectrum, int count) {
    const int given = count == 0 ? n : count;
    DRMPI_ASSERT(product_length(n) && clear_of(spectrum, fft_spectrum_size(n), a, given));
    if (n <= SchoolbookMax) {
        if (a.packed) {
            mp_unpack(a.packed, spectrum, given);
        } else {
            mp_copy(a.doubles, spectrum, given);
        }
        mp_fill(0, spectrum + given, n - given);
        return;
    }
    fft_forward_words(fft_plan(n), a, spectrum, count);
}

double fft_product(Factor x, Factor y, int n, double* out, double* work) {
    return product(&x, &y, 1, n, out, work);
}

double fft_product_sum(Factor x1, Factor y1, Factor x2, Factor y2, int n, double* out,
                       double* work) {
    const Factor x[2] = {x1, x2};
    const Factor y[2] = {y1, y2};
    return product(x, y, 2, n, out, work);
}

int64_t fft_multiply_work(int n) { return fft_spectrum_size(n) + fft_product_work(n); }

double fft_multiply(const double* a, const double* b, double* out, int n, double* work) {
    DRMPI_ASSERT(disjoint(work, fft_multiply_work(n), a, n) &&
                 disjoint(work, fft_multiply_work(n), b, n) &&
                 disjoint(work, fft_multiply_work(n), out, 2 * n));
    // The spectrum of b, or of a for a square, is the product's accumulator,
    // followed by the rest of the product's work.
    double* const sb = work + fft_spectrum_size(n);
    double* const sa = a == b ? sb : work;
    fft_spectrum(b, n, sb);
    if (sa != sb) fft_spectrum(a, n, sa);
    return fft_product({a, sa}, {b, sb}, n, out, sb);
}

double mp_mul(const double* x, const double* y, double* out, int n, double* work) {
    const double e = x[0] + y[0];  // before out, which may overlap x or y, is written
    const double err = fft_multiply(x + 1, y + 1, out + 1, n, work);
    out[0] = e;
    mp_strip(out, 2 * n);
    return err;
}

double mp_product(WordsView x, const double* sx, WordsView y, const double* sy, int n,
                  double* out, double* work, int y_count) {
    const double e = x[0] + y[0];
    const double err = fft_product({x + 1, sx}, {y + 1, sy, y_count}, n, out + 1, work);
    out[0] = e;
    mp_strip(out, 2 * n);
    return err;
}

}  // namespace drmpi
