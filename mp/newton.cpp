// Reciprocal, quotient and square root by Newton iteration with precision
// doubling.
//
// Scratch layout, for the full length n:
//   t = scratch[0 .. 2n]          an MpNumber of up to 2n digit words
//   u = scratch[2n + 1 .. 4n + 1] an MpNumber of up to 2n digit words
#include <cmath>

#include "mp/mp.h"

namespace drmpi {

namespace {

// Seed words: x[1] := the whole part of q, x[2] := the next five digits of
// its fraction, words 3..n of x := 0.
void seed_two_words(double q, double* x, int n) {
    x[1] = static_cast<int32_t>(q);
    x[2] = static_cast<int32_t>((q - x[1]) * Radix);
    mp_fill(0, x + 3, n - 2);
}

// The first `passes` passes of the schedule (all of them for 0): working
// lengths d = 2, 4, ..., n and once more n.  step(d, k, t, u) makes one
// Newton step from the d leading words of its approximation, adds the
// correction over the k = min(n, 2d) words that the next pass will read, and
// returns the larger error of its two products.  Returns the largest error of
// all passes.
template <class Step>
double newton_passes(int n, int passes, double* scratch, Step step) {
    double* t = scratch;
    double* u = scratch + 2 * n + 1;
    if (passes <= 0) passes = newton_pass_count(n);
    double err = 0.0;
    for (int pass = 0, d = 2; pass < passes; ++pass, d = d < n ? 2 * d : d) {
        err = dmax(err, step(d, imin(n, 2 * d), t, u));
    }
    return err;
}

}  // namespace

int newton_pass_count(int n) { return ilog2(n) + 1; }

double mp_reciprocal(const double* a, double* x, int n, double* scratch, double* work,
                     int passes) {
    x[0] = 1.0 - a[0];
    seed_two_words(Radix / (a[1] + a[2] / Radix), x, n);
    // x := x + x (1 - a x).  The residual is normalised and stripped, so its
    // significant words enter the d-word product; the correction lies below
    // x, which lets mp_add write the sum in place.
    return newton_passes(n, passes, scratch, [&](int d, int k, double* t, double* u) {
        const double e1 = mp_mul(a, x, t, d, work);
        mp_int_add(1, t, u, 2 * d, -1);
        const double e2 = mp_mul(x, u, t, d, work);
        mp_add(x, t, x, k, +1);
        return dmax(e1, e2);
    });
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
    // Inverse square root: x := x + x (1 - m x^2) / 2, whose only division
    // is the halving.
    const double err = newton_passes(n, 0, scratch, [&](int d, int k, double* t, double* u) {
        const double e1 = mp_mul(x, x, t, d, work);
        mp_mul_int(t, m, u, 2 * d);
        mp_int_add(1, u, t, 2 * d, -1);
        const double e2 = mp_mul(x, t, u, d, work);
        mp_div_int(u, 2, t, k);
        mp_add(x, t, x, k, +1);
        return dmax(e1, e2);
    });
    if (flag >= 0) {
        double* t = scratch;
        mp_mul_int(x, m, t, n);
        mp_copy(t, x, n + 1);
    }
    return err;
}

}  // namespace drmpi
