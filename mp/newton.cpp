// Reciprocal, quotient and square root by Newton iteration with precision
// doubling.  The working length d runs 2, 4, ..., n and then once more n, so
// the loop makes ilog2(n) + 1 passes; the corrections are added over twice
// the working length (at most n), where the next pass will read them.
//
// Scratch layout, for the full length n:
//   t = scratch[0 .. 2n]          an MpNumber of up to 2n digit words
//   u = scratch[2n + 1 .. 4n + 1] an MpNumber of up to 2n digit words
#include <cmath>

#include "mp/mp.h"

namespace drmpi {

namespace {

// Two-word seed from the double q = Radix * (an approximation of the value
// below 1); words 3..n of x are cleared.
void seed_two_words(double q, double* x, int n) {
    x[1] = static_cast<int32_t>(q);
    x[2] = static_cast<int32_t>((q - x[1]) * Radix);
    mp_fill(0, x + 3, n - 2);
}

}  // namespace

double mp_reciprocal(const double* a, double* x, int n, double* scratch, double* work) {
    x[0] = 1.0 - a[0];
    seed_two_words(Radix / (a[1] + a[2] / Radix), x, n);

    double* t = scratch;
    double* u = scratch + 2 * n + 1;
    const int passes = ilog2(n) + 1;
    int d = 2;
    double err = 0.0;
    // x := x + x * (1 - a * x); the residual is normalised and stripped, so
    // its significant words enter the d-word product, and the correction lies
    // below x, which lets mp_add write in place.
    for (int pass = 0; pass < passes; ++pass) {
        const int m = imin(n, 2 * d);
        const double e1 = mp_mul(a, x, t, d, work);
        mp_int_add(1, t, u, 2 * d, -1);
        const double e2 = mp_mul(x, u, t, d, work);
        err = dmax3(err, e1, e2);
        mp_add(x, t, x, m, +1);
        if (d < n) d *= 2;
    }
    return err;
}

double mp_divide(const double* p, const double* q, double* out, int n,
                 double* scratch, double* work) {
    const double e1 = mp_reciprocal(q, out, n, scratch, work);
    const double e2 = mp_mul(p, out, scratch, n, work);
    mp_copy(scratch, out, n + 1);
    return dmax(e1, e2);
}

double mp_sqrt_int(int m, double* x, int n, int flag, double* scratch, double* work) {
    x[0] = 0.0;
    seed_two_words(Radix / std::sqrt(m * 1.0), x, n);

    double* t = scratch;
    double* u = scratch + 2 * n + 1;
    const int passes = ilog2(n) + 1;
    int d = 2;
    double err = 0.0;
    // Inverse square root: x := x + x * (1 - m * x^2) / 2.
    for (int pass = 0; pass < passes; ++pass) {
        const int k = imin(n, 2 * d);
        const double e1 = mp_mul(x, x, t, d, work);
        mp_mul_int(t, m, u, 2 * d);
        mp_int_add(1, u, t, 2 * d, -1);
        const double e2 = mp_mul(x, t, u, d, work);
        mp_div_int(u, 2, t, k);
        err = dmax3(err, e1, e2);
        mp_add(x, t, x, k, +1);
        if (d < n) d *= 2;
    }
    if (flag >= 0) {
        mp_mul_int(x, m, t, n);
        mp_copy(t, x, n + 1);
    }
    return err;
}

}  // namespace drmpi
