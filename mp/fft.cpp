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
#include <cmath>

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

double report(double err) { return ProductErrorHook != nullptr ? ProductErrorHook(err) : err; }

// Carries the words of a product and reports its error.
double carry(double* out, int n, double err) {
    mp_normalize(out, 2 * n);
    return report(err);
}

}  // namespace

int64_t fft_spectrum_size(int n) { return 2 * static_cast<int64_t>(n); }

int64_t fft_product_work(int n) { return 2 * static_cast<int64_t>(n); }

void fft_spectrum(const double* a, int n, double* spec) {
    if (n <= SchoolbookMax) {
        mp_copy(a, spec, n);
    } else {
        fft_forward_words(fft_plan(n), a, spec);
    }
}

double fft_product(const double* x, const double* y, int n, double* out, double* work) {
    if (n <= SchoolbookMax) {
        mp_fill(0, out, 2 * n);
        schoolbook_add(x, y, n, out);
        return carry(out, n, 0.0);
    }
    const FftPlan& p = fft_plan(n);
    fft_mul(p, x, y, work);
    return carry(out, n, fft_inverse_words(p, work, out));
}

double fft_product_sum(const double* x1, const double* y1, const double* x2, const double* y2,
                       int n, double* out, double* work) {
    if (n <= SchoolbookMax) {
        mp_fill(0, out, 2 * n);
        schoolbook_add(x1, y1, n, out);
        schoolbook_add(x2, y2, n, out);
        return carry(out, n, 0.0);
    }
    const FftPlan& p = fft_plan(n);
    fft_mul(p, x1, y1, work);
    fft_mul_add(p, x2, y2, work);
    return carry(out, n, fft_inverse_words(p, work, out));
}

int64_t fft_multiply_work(int n) { return 2 * fft_spectrum_size(n) + fft_product_work(n); }

double fft_multiply(const double* a, const double* b, double* out, int n, double* work) {
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

namespace {

// fft_core, weighted when `weight` is 1: theta^e omega^l = exp(i pi (weight e +
// 4 l)/(2n)).  Forward: y_j = x_j theta^(n-1-j) omega^j, and F[k] = omega^(k+1)
// S[-k], S the kernel's transform (w = 1/omega).  Inverse: G_k = F[k]
// omega^-(k+1), and x[j] = theta^-(n-1-j) omega^-j S'[j] / n, S' the kernel's
// transform of G.
void natural_transform(double* data, int n, int direction, double* area, int weight) {
    // exp(i pi e/(2n)) for a whole e, reduced modulo 4n so that the angle
    // stays below 2 pi and keeps its accuracy.
    const auto times_phase = [n](double* z, int64_t e) {
        const int64_t m = ((e % (4 * n)) + 4 * n) % (4 * n);
        const double a = std::acos(-1.0) * static_cast<double>(m) / (2.0 * n);
        const double c = std::cos(a);
        const double s = std::sin(a);
        const double re = z[0] * c - z[1] * s;
        z[1] = z[0] * s + z[1] * c;
        z[0] = re;
    };
    const FftPlan& p = fft_plan(n);
    double* spec = area;
    double* y = area + 2 * n;
    const bool inverse = direction == 1;
    for (int j = 0; j < n; ++j) {
        y[2 * j] = data[2 * j];
        y[2 * j + 1] = data[2 * j + 1];
        times_phase(y + 2 * j, inverse ? -4 * static_cast<int64_t>(j + 1)
                                       : weight * (n - 1 - j) + 4 * static_cast<int64_t>(j));
    }
    fft_complex_forward(p, y, spec);
    for (int k = 0; k < n; ++k) {
        fft_spectrum_point(p, spec, inverse ? k : (n - k) % n, &data[2 * k], &data[2 * k + 1]);
        if (inverse) {
            data[2 * k] /= n;
            data[2 * k + 1] /= n;
        }
        times_phase(data + 2 * k, inverse ? -weight * (n - 1 - k) - 4 * static_cast<int64_t>(k)
                                          : 4 * static_cast<int64_t>(k + 1));
    }
}

}  // namespace

void fft_core(double* data, int n, int direction, double* area) {
    natural_transform(data, n, direction, area, 0);
}

void fft_weighted(double* data, int n, int direction, double* area) {
    natural_transform(data, n, direction, area, 1);
}

}  // namespace drmpi
