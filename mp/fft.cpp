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
#include "mp/check.h"
#include "mp/mp.h"

namespace drmpi {

double (*ProductErrorHook)(double error) = nullptr;

namespace {

// {out, 2n} += the convolution of {a, n} and {b, n}, placed as product words:
// out[p] gets sum_{j + l = p - 1} a[j] b[l].  Every term and sum is a whole
// number below 2^53 (16 * 2.5e9 per sum, twice that for a sum of products),
// so exact.
void schoolbook_add(const double* a, const double* b, int n, double* out) {
    for (int j = 0; j < n; ++j) {
        const double aj = a[j];
        for (int l = 0; l < n; ++l) out[j + l + 1] += aj * b[l];
    }
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

double report(double err) { return ProductErrorHook != nullptr ? ProductErrorHook(err) : err; }

// Carries the words of a product and reports its error.
double carry(double* out, int n, double err) {
    mp_normalize(out, 2 * n);
    return report(err);
}

}  // namespace

int64_t fft_spectrum_size(int n) {
    // Split: the spectra of the high and the low digits.
    return (n > SplitMin ? 4 : 2) * static_cast<int64_t>(n);
}

int64_t fft_product_work(int n) { return (n > SplitMin ? 6 : 2) * static_cast<int64_t>(n); }

void fft_spectrum(const double* a, int n, double* spectrum) {
    DRMPI_ASSERT(power_of_two(n) && disjoint(a, n, spectrum, fft_spectrum_size(n)));
    if (n <= SchoolbookMax) {
        mp_copy(a, spectrum, n);
        return;
    }
    const FftPlan& p = fft_plan(n);
    if (n <= SplitMin) {
        fft_forward_words(p, a, spectrum);
        return;
    }
    // Each word w = h SplitBase + l with h the whole number nearest to w /
    // SplitBase, so |h| and |l| stay below SplitBase/2 for balanced words.
    fft_forward_digits(p, a, SplitDigit::High, spectrum);
    fft_forward_digits(p, a, SplitDigit::Low, spectrum + 2 * static_cast<int64_t>(n));
}

namespace {

// {out, 2n} := sum over the terms t < count of x[t] * y[t], from spectra of
// length n, carried; returns the rounding error, the largest of every inverse
// transform made.  work: fft_product_work(n) doubles.
double product(const double* const* x, const double* const* y, int count, int n, double* out,
               double* work) {
    DRMPI_ASSERT(power_of_two(n) && disjoint(out, 2 * n, work, fft_product_work(n)));
    for (int t = 0; t < count; ++t)
        DRMPI_ASSERT(disjoint(out, 2 * n, x[t], fft_spectrum_size(n)) &&
                     disjoint(out, 2 * n, y[t], fft_spectrum_size(n)));
    if (n <= SchoolbookMax) {
        mp_fill(0, out, 2 * n);
        for (int t = 0; t < count; ++t) schoolbook_add(x[t], y[t], n, out);
        return carry(out, n, 0.0);
    }
    const FftPlan& p = fft_plan(n);
    if (n <= SplitMin) {
        fft_mul(p, x[0], y[0], work);
        for (int t = 1; t < count; ++t) fft_mul_add(p, x[t], y[t], work);
        return carry(out, n, fft_inverse_words(p, work, out));
    }
    // Split digits: with H and L the spectra of the high and the low digits,
    // the product is hh SplitBase^2 + mid SplitBase + ll, hh = sum H_x H_y,
    // mid = sum H_x L_y + L_x H_y, ll = sum L_x L_y, each an exact product of
    // small digits with its own inverse transform.  Every output of a sum of
    // two products stays below 2 * 2 n 158^2 < 1.4e13 at the longest length,
    // so mid SplitBase + ll < 4.4e15 < 2^52 is exact without carrying; hh is
    // carried first, so that its words times SplitBase^2 stay below 2^33.
    const int64_t half = 2 * static_cast<int64_t>(n);
    double* acc = work;
    double* hh = work + half;
    double* mid = work + 2 * half;
    for (int t = 0; t < count; ++t) fft_mul_add_or_set(p, x[t], y[t], acc, t == 0);
    double err = fft_inverse_words(p, acc, hh);
    for (int t = 0; t < count; ++t) {
        fft_mul_add_or_set(p, x[t], y[t] + half, acc, t == 0);
        fft_mul_add(p, x[t] + half, y[t], acc);
    }
    err = dmax(err, fft_inverse_words(p, acc, mid));
    for (int t = 0; t < count; ++t) fft_mul_add_or_set(p, x[t] + half, y[t] + half, acc, t == 0);
    err = dmax(err, fft_inverse_words(p, acc, out));
    mp_normalize(hh, 2 * n);
    constexpr double Square = SplitBase * SplitBase;
    for (int64_t i = 0; i < half; ++i) out[i] += (hh[i] * Square + mid[i] * SplitBase);
    return carry(out, n, err);
}

}  // namespace

double fft_product(const double* x, const double* y, int n, double* out, double* work) {
    return product(&x, &y, 1, n, out, work);
}

double fft_product_sum(const double* x1, const double* y1, const double* x2, const double* y2,
                       int n, double* out, double* work) {
    const double* x[2] = {x1, x2};
    const double* y[2] = {y1, y2};
    return product(x, y, 2, n, out, work);
}

int64_t fft_multiply_work(int n) { return 2 * fft_spectrum_size(n) + fft_product_work(n); }

double fft_multiply(const double* a, const double* b, double* out, int n, double* work) {
    DRMPI_ASSERT(disjoint(work, fft_multiply_work(n), a, n) &&
                 disjoint(work, fft_multiply_work(n), b, n) &&
                 disjoint(work, fft_multiply_work(n), out, 2 * n));
    double* sa = work;
    double* sb = a == b ? sa : work + fft_spectrum_size(n);
    fft_spectrum(a, n, sa);
    if (sb != sa) fft_spectrum(b, n, sb);
    return fft_product(sa, sb, n, out, work + 2 * fft_spectrum_size(n));
}

double mp_mul(const double* x, const double* y, double* out, int n, double* work) {
    const double e = x[0] + y[0];  // before out, which may overlap x or y, is written
    const double err = fft_multiply(x + 1, y + 1, out + 1, n, work);
    out[0] = e;
    mp_strip(out, 2 * n);
    return err;
}

}  // namespace drmpi
