// Reciprocal, quotient and square root by Newton iteration with precision
// doubling.
//
// Storage, for the full length n (offsets kept to multiples of eight
// doubles, so that the spectra stay 64-byte aligned):
//   sx        the spectrum of the approximation, a product's first factor,
//             whose place t takes
//   t         an MpNumber of up to 2n words: a product, written over the
//             spectrum of its first factor, and the residual formed in its
//             place; so each product of a pass transforms the approximation
//             anew (on a second thread, beside the other factor's spectrum)
//   sa        the other spectrum of a product, which the product consumes
//             as its accumulator: followed by the rest of a product's work,
//             which only a product made again from digits touches
// and, in the part for a number:
//   u         (residual) an MpNumber of the residual's leading words, at
//             most n/2 + 2, and zeros to the end of their block of eight:
//             a product's factor, given as that many words
#include <cmath>

#include "mp/check.h"
#include "mp/mp.h"
#include "mp/parallel.h"

namespace drmpi {

namespace {

// Below this working length the two transforms of a pass are too short to be
// worth handing to a second thread.
constexpr int ParallelMin = 1 << 12;

// Doubles of an MpNumber of up to 2n words, to whole blocks of eight: the
// part of the spectra where a product's words lie, over its first factor's
// spectrum.
int64_t newton_product_size(int n) { return round_up8(2 * static_cast<int64_t>(n) + 1); }

struct Temp {
    double* sx;
    double* sa;  // and the work of the products
    double* t;
    double* u;
};

Temp carve(const NewtonTemp& temp, int n) {
    Temp s;
    s.sx = temp.spectra;
    s.t = temp.spectra;
    s.sa = s.sx + newton_product_size(n);
    s.u = temp.residual;
    return s;
}

// Whether the parts of the storage lie apart from each other and from the
// MpNumber x of n words.
bool apart(const NewtonTemp& temp, int n, const double* x) {
    const struct { const double* at; int64_t size; } parts[3] = {
        {temp.spectra, newton_spectra_size(n)},
        {temp.residual, newton_residual_size(n)},
        {x, n + 1}};
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            if (!disjoint(parts[i].at, parts[i].size, parts[j].at, parts[j].size)) return false;
    return true;
}

// The spectra of the d leading digit words of x and y, on two threads when
// they are long; x_count: the words of x given (fft_spectrum's count).
void two_spectra(const double* x, double* sx, const double* y, double* sy, int d,
                 int x_count = 0) {
    if (d < ParallelMin) {
        fft_spectrum(x + 1, d, sx, x_count);
        fft_spectrum(y + 1, d, sy);
        return;
    }
    parallel_for(2, [&](int i, int) {
        if (i == 0) {
            fft_spectrum(x + 1, d, sx, x_count);
        } else {
            fft_spectrum(y + 1, d, sy);
        }
    });
}

// MpNumber {t, 2L} := a x, of the L leading words of the MpNumber a (of n
// words) and the L leading words of x (whose spectra are sa and sx), plus
// a's words L + 1 .. L + 3 times x's words 1 .. 3: the part of a beyond L
// words that reaches the residual 1 - a x within its first L + 2 words.
// Stripped; t may lie over sx and work may begin at sa, which the product
// then consumes.  Returns the rounding error of the product.
double product_with_tail(const double* a, const double* sa, const double* x, const double* sx,
                         int L, int n, double* t, double* work) {
    const double err = fft_product({x + 1, sx}, {a + 1, sa}, L, t + 1, work);
    t[0] = a[0] + x[0];
    // Word i of a times word j of x is word i + j of the product; the sums
    // stay far within 2^52 for the carries of the residual.
    for (int i = L + 1; i <= imin(n, L + 3); ++i)
        for (int j = 1; j <= 3 && i + j <= 2 * L; ++j) t[i + j] += a[i] * x[j];
    mp_strip(t, 2 * L);
    return err;
}

// The seed: x[1] := the whole part of q and x[2..4] := the next words of its
// fraction, as far as x's n words reach; the rest of x := 0.  Four words
// hold all that a double knows of q, about three words, whatever its size.
void seed(double q, double* x, int n) {
    const int words = imin(n, 4);
    for (int i = 1; i <= words; ++i) {
        x[i] = static_cast<int32_t>(q);
        q = (q - x[i]) * Radix;
    }
    mp_fill(0, x + words + 1, n - words);
}

// The first `passes` passes of the schedule (all of them for 0): working
// lengths L = n / 2^(newton_pass_count(n) - 1), then twice that, ..., n.  step(L, w, k) makes one
// Newton step at length L from the w = min(L, L/2 + 2) leading words of its
// approximation, whose words w + 1 .. k it has zeroed, adds the correction
// over k = min(n, L + 2) words, and returns the larger error of its two
// products.  Returns the largest error of all passes.
template <class Step>
double newton_passes(int n, int passes, Step step) {
    const int all = newton_pass_count(n);
    if (passes <= 0) passes = all;
    double err = 0.0;
    for (int pass = 0, L = n >> (all - 1); pass < passes; ++pass, L *= 2) {
        err = dmax(err, step(L, imin(L, L / 2 + 2), imin(n, L + 2)));
    }
    return err;
}

// The words of x from w + 1 to k := 0: x taken to its w leading words.
void truncate(double* x, int w, int k) {
    if (k > w) mp_fill(0, x + w + 1, k - w);
}

// MpNumber {u, L} := the w leading words of the MpNumber r, the rest zero.
// u holds them to the end of their block of eight, or all L where that
// reaches L.  Returns the words that u gives its product: that many, or 0
// for all L (a Factor's count).
int leading(const double* r, int w, int L, double* u) {
    mp_copy(r, u, w + 1);
    const int given = round_up8(w) < L ? static_cast<int>(round_up8(w)) : 0;
    truncate(u, w, given == 0 ? L : given);
    return given;
}

// MpNumber {s.t, 2h} := x u, the correction of a pass at working length L:
// from the spectra of the residual's given words in s.u (a Factor's count, 0
// for all L) and of x's first h words, of which the first w are its
// approximation and the rest zero.  Both factors have at most w words, so
// the product is made at h = short_product_length(w, L), 3L/4 for L = 2^k
// from 32 to 2^15: a quarter of the time of one of length L.  Returns the
// rounding error of the product.
double correction(const double* x, const Temp& s, int L, int w, int given) {
    const int h = short_product_length(w, L);
    const int count = given < h ? given : 0;
    DRMPI_ASSERT(w <= h);
    two_spectra(s.u, s.sa, x, s.sx, h, count);
    return mp_product(x, s.sx, s.u, s.sa, h, s.t, s.sa, count);
}

}  // namespace

bool newton_length(int n) {
    const int odd = n >> __builtin_ctz(static_cast<unsigned>(n));
    return n >= 2 && product_length(n) && (odd == 1 || odd == 3);
}

int newton_pass_count(int n) {
    int passes = 1;
    for (int L = n; L > 4; L /= 2) ++passes;
    return passes;
}

int64_t newton_residual_size(int n) { return 8 + round_up8(n / 2 + 2); }

int64_t newton_spectra_size(int n) { return newton_product_size(n) + fft_product_work(n); }

int64_t newton_temp_size(int n) { return newton_spectra_size(n) + newton_residual_size(n); }

NewtonTemp newton_temp(double* block, int n) { return {block, block + newton_spectra_size(n)}; }

double mp_reciprocal(const double* a, double* x, int n, const NewtonTemp& temp, int passes) {
    DRMPI_ASSERT(newton_length(n) && disjoint(a, n + 1, x, n + 1) &&
                 apart(temp, n, a) && apart(temp, n, x));
    const Temp s = carve(temp, n);
    x[0] = 1.0 - a[0];
    double lead = 0.0;  // a's leading words, as far as a double holds them
    for (int i = imin(n, 4); i >= 1; --i) lead = lead / Radix + a[i];
    seed(Radix / lead, x, n);
    // x := x + x (1 - a x).  The residual's leading words cancel: normalised
    // and stripped, its significant words enter the correction.  The
    // correction lies below x, which lets mp_add write the sum in place.
    // The spectrum of x serves both products.
    return newton_passes(n, passes, [&](int L, int w, int k) {
        truncate(x, w, k);
        two_spectra(a, s.sa, x, s.sx, L);
        const double e1 = product_with_tail(a, s.sa, x, s.sx, L, n, s.t, s.sa);
        mp_int_add(1, s.t, s.t, 2 * L, Sign::Minus);
        const int given = leading(s.t, w, L, s.u);
        const double e2 = correction(x, s, L, w, given);
        mp_add(x, s.t, x, k, Sign::Plus);
        return dmax(e1, e2);
    });
}

double mp_divide(const double* p, const double* q, double* out, int n, const NewtonTemp& temp) {
    DRMPI_ASSERT(disjoint(out, n + 1, p, n + 1) && disjoint(out, n + 1, q, n + 1) &&
                 apart(temp, n, p));
    const Temp s = carve(temp, n);
    const double e1 = mp_reciprocal(q, out, n, temp);
    two_spectra(p, s.sa, out, s.sx, n);
    const double e2 = mp_product(out, s.sx, p, s.sa, n, s.t, s.sa);
    mp_copy(s.t, out, n + 1);
    return dmax(e1, e2);
}

double mp_sqrt_int(int m, double* x, int n, Root root, const NewtonTemp& temp) {
    DRMPI_ASSERT(m > 0 && newton_length(n) && apart(temp, n, x));
    const Temp s = carve(temp, n);
    x[0] = 0.0;
    seed(Radix / std::sqrt(m * 1.0), x, n);
    // Inverse square root: x := x + x (1 - m x^2) / 2, whose only division
    // is the halving.  The square takes one transform, and is made at the
    // correction's length h, whose 2h words hold its 2w.
    const double err = newton_passes(n, 0, [&](int L, int w, int k) {
        const int h = short_product_length(w, L);
        truncate(x, w, k);
        fft_spectrum(x + 1, h, s.sx);
        const double e1 = mp_product(x, s.sx, x, s.sx, h, s.t, s.sa);
        mp_mul_int(s.t, m, s.t, 2 * h);
        mp_int_add(1, s.t, s.t, 2 * h, Sign::Minus);
        const int given = leading(s.t, w, L, s.u);
        const double e2 = correction(x, s, L, w, given);
        // The halving as a product by Radix/2 one word down: a sweep of
        // independent products and one carry, where a division is a chain.
        mp_mul_int(s.t, static_cast<int>(Radix / 2), s.t, k);
        s.t[0] -= 1.0;
        mp_add(x, s.t, x, k, Sign::Plus);
        return dmax(e1, e2);
    });
    if (root == Root::Sqrt) mp_mul_int(x, m, x, n);
    return err;
}

}  // namespace drmpi
