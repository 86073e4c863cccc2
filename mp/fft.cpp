// Exact products by a complex floating-point FFT with right-angle weighting.
//
// A product of two n-word operands needs only an n-point transform: word j
// is weighted by theta^(n-1-j), theta = exp(i pi/(2n)), and as theta^n = i the
// terms of the cyclic convolution that wrap around arrive with factor 1 and
// the others with factor i.  After the inverse transform the imaginary part of
// point k holds product word k (upper half) and the real part product word
// k + n (lower half).  Complex vectors are interleaved: point k at [2k] (real) and
// [2k + 1] (imaginary).
//
// The twiddle table and the weights are computed afresh by every transform,
// each entry directly from the library cos and sin, so that a product's words
// and its measured error depend on nothing but its operands.
#include <cmath>

#include "mp/mp.h"

namespace drmpi {

void fft_twiddles(int half, int direction, double* table) {
    double sigma = std::atan(1.0) * 4.0 / half;
    if (direction == 1) sigma = -sigma;
    for (int j = 0; j < half; ++j) {
        const double phi = static_cast<double>(half - 1 - j) * sigma;
        table[2 * j] = std::cos(phi);
        table[2 * j + 1] = std::sin(phi);
    }
}

namespace {

// One radix-2 Stockham pass from {src, n} into {dst, n} complex points,
// n = 2 * span * groups.  The first point of each pair is the one multiplied
// by the group's factor; the difference goes to the lower half of dst and the
// sum to the upper half.
void butterflies(const double* src, double* dst, int span, int groups, const double* table) {
    const int m = span;
    const int halfn = span * groups;
    for (int k = 0; k < groups; ++k) {
        // Through the reversed table the factor of group k is
        // exp(+-i pi (groups - 1 - k)/groups).
        const double wr = table[2 * (m * (k + 1) - 1)];
        const double wi = table[2 * (m * (k + 1) - 1) + 1];
        const double* a = src + 4 * m * k;  // points p = 2mk + j
        const double* b = a + 2 * m;        // points p + m
        double* lo = dst + 2 * m * k;       // points mk + j
        double* hi = lo + 2 * halfn;        // points mk + j + n/2
        for (int j = 0; j < m; ++j) {
            const double pr = a[2 * j];
            const double pi = a[2 * j + 1];
            const double tr = pr * wr - pi * wi;
            const double ti = pr * wi + pi * wr;
            const double qr = b[2 * j];
            const double qi = b[2 * j + 1];
            lo[2 * j] = qr - tr;
            lo[2 * j + 1] = qi - ti;
            hi[2 * j] = qr + tr;
            hi[2 * j + 1] = qi + ti;
        }
    }
}

// Multiplies point j of {data, n} by exp(i (n - 1 - j) s).
void apply_weights(double* data, int n, double s) {
    for (int j = 0; j < n; ++j) {
        const double phi = static_cast<double>(n - 1 - j) * s;
        const double co = std::cos(phi);
        const double si = std::sin(phi);
        const double re = data[2 * j];
        const double im = data[2 * j + 1];
        data[2 * j] = co * re - si * im;
        data[2 * j + 1] = co * im + si * re;
    }
}

}  // namespace

void fft_stage(double* data, int span, int groups, const double* table, double* scratch) {
    butterflies(data, scratch, span, groups, table);
    mp_copy(scratch, data, 4 * span * groups);
}

void fft_core(double* data, int n, int direction, double* area) {
    const int levels = ilog2(n);
    const int half = n / 2;
    fft_twiddles(half, direction, area);
    // The passes alternate between data and the scratch instead of copying
    // every pass back (fft_stage); only an odd number of passes ends with a
    // copy.  The arithmetic is that of fft_stage, pass for pass.
    double* src = data;
    double* dst = area + 2 * n;
    int groups = 1;
    int span = half;
    for (int l = 0; l < levels; ++l) {
        butterflies(src, dst, span, groups, area);
        double* t = src;
        src = dst;
        dst = t;
        groups *= 2;
        span /= 2;
    }
    if (src != data) mp_copy(src, data, 2 * n);
    if (direction == 1) {
        const double dn = n;
        for (int k = 0; k < 2 * n; ++k) data[k] /= dn;
    }
}

void fft_weighted(double* data, int n, int direction, double* area) {
    const double s = std::atan(1.0) * 2.0 / n;
    if (direction != 1) {
        apply_weights(data, n, s);
        fft_core(data, n, direction, area);
    } else {
        fft_core(data, n, 1, area);
        apply_weights(data, n, -s);
    }
}

double (*ProductErrorHook)(double error) = nullptr;

double fft_multiply(const double* a, const double* b, double* out, int n, double* work) {
    for (int k = 0; k < n; ++k) {
        work[2 * k] = a[k];
        work[2 * k + 1] = 0.0;
        out[2 * k] = b[k];
        out[2 * k + 1] = 0.0;
    }
    double* area = work + 2 * n;
    fft_weighted(work, n, 0, area);
    fft_weighted(out, n, 0, area);
    for (int k = 0; k < n; ++k) {
        const double ar = work[2 * k];
        const double ai = work[2 * k + 1];
        const double br = out[2 * k];
        const double bi = out[2 * k + 1];
        work[2 * k] = br * ar - bi * ai;
        work[2 * k + 1] = br * ai + bi * ar;
    }
    fft_weighted(work, n, 1, area);
    // Halves round upward: floor(v + 0.5).
    double err = 0.0;
    for (int k = 0; k < n; ++k) {
        const double re = work[2 * k];
        const double im = work[2 * k + 1];
        const double rr = std::floor(re + 0.5);
        const double ri = std::floor(im + 0.5);
        err = dmax3(err, std::fabs(rr - re), std::fabs(ri - im));
        out[k] = ri;
        out[k + n] = rr;
    }
    mp_normalize(out, 2 * n);
    return ProductErrorHook != nullptr ? ProductErrorHook(err) : err;
}

double mp_mul(const double* x, const double* y, double* out, int n, double* work) {
    out[0] = x[0] + y[0];
    const double err = fft_multiply(x + 1, y + 1, out + 1, n, work);
    mp_strip(out, 2 * n);
    return err;
}

}  // namespace drmpi
