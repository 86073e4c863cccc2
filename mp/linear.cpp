// Operations of linear cost: sums and differences of MpNumbers, small-integer
// sums, products and quotients, and the scaling of DigitVectors.
// The MpNumber operations work at the fixed length n: whatever falls below
// word n is dropped without rounding, and each ends with the same finish.
#include <cmath>

#include "mp/check.h"
#include "mp/mp.h"

namespace drmpi {

namespace {

// Carry normalisation over the digit words, then removal of leading zero
// words.  The carry-out stays in d1; the exponent is never raised here.
void finish(double* out, int n, Carry mode) {
    mp_normalize(out + 1, n, mode);
    mp_strip(out, n);
}

// A distance in words between two exponents, capped at n: every distance of
// n or more drops the lower operand entirely, and the cap keeps the
// conversion of a far-apart exponent defined.
int word_gap(double d, int n) { return d < n ? static_cast<int32_t>(d) : n; }

// out = a + b or a - b word by word, without carries; out may be a or b.
void add_words(const double* a, const double* b, double* out, int count, Sign sign) {
    if (sign == Sign::Minus) {
        for (int i = 0; i < count; ++i) out[i] = a[i] - b[i];
    } else {
        for (int i = 0; i < count; ++i) out[i] = a[i] + b[i];
    }
}

}  // namespace

void mp_add(const double* x, const double* y, double* out, int n, Sign sign, Carry mode) {
    const double ex = x[0];
    const double ey = y[0];
    DRMPI_ASSERT(disjoint(out, n + 1, y, n + 1));
    DRMPI_ASSERT(out == x ? ey <= ex : disjoint(out, n + 1, x, n + 1));
    if (ey <= ex) {
        // x leads: its first d words have no partner and are copied as they
        // are (already in place when out == x); y's last d words are dropped.
        const int d = word_gap(ex - ey, n);
        out[0] = ex;
        if (out != x) mp_copy(x + 1, out + 1, d);
        if (d < n) add_words(x + d + 1, y + 1, out + d + 1, n - d, sign);
    } else {
        // y leads: its first d words enter with the sign; x's last d words
        // are dropped.
        const int d = word_gap(ey - ex, n);
        out[0] = ey;
        if (sign == Sign::Minus) {
            for (int i = 1; i <= d; ++i) out[i] = -y[i];
        } else {
            mp_copy(y + 1, out + 1, d);
        }
        if (d < n) add_words(x + 1, y + d + 1, out + d + 1, n - d, sign);
    }
    // Sums of two canonical words stay far below 2^52: one normalisation
    // over all n words carries them.
    finish(out, n, mode);
}

void mp_int_add(int k, const double* x, double* out, int n, Sign sign, Carry mode) {
    DRMPI_ASSERT(out == x || disjoint(out, n + 1, x, n + 1));
    const double s = sign == Sign::Minus ? -1.0 : 1.0;
    const double ex = x[0];
    if (ex >= 1.0) {
        // The units word of x is word e; k is dropped when it lies below word n.
        out[0] = ex;
        for (int i = 1; i <= n; ++i) out[i] = s * x[i];
        if (ex <= n) {
            const int e = static_cast<int32_t>(ex);
            out[e] = k + out[e];
        }
    } else {
        // The units word lies e words ahead of d1 of x; x's last e words are
        // dropped.  The words move up from the last, so that out may be x.
        const int e = word_gap(1.0 - ex, n);
        for (int j = n - e; j >= 1; --j) out[e + j] = s * x[j];
        out[0] = 1.0;
        out[1] = k;
        mp_fill(0, out + 2, e - 1);
    }
    finish(out, n, mode);
}

void mp_mul_int(const double* x, int m, double* out, int n, Carry mode) {
    DRMPI_ASSERT(out == x || disjoint(out, n + 1, x, n + 1));
    const double md = m;
    if (std::fabs(x[1] * md) >= Radix) {
        // The leading product needs a word ahead of it: shift by one word and
        // keep the carry of the dropped last product.  The words move up
        // from the last, so that out may be x.
        const double carry = static_cast<int32_t>(x[n] * md / Radix);
        for (int i = n - 1; i >= 1; --i) out[i + 1] = x[i] * md;
        out[0] = x[0] + 1.0;
        out[1] = 0.0;
        out[n] += carry;
    } else {
        out[0] = x[0];
        for (int i = 1; i <= n; ++i) out[i] = x[i] * md;
    }
    finish(out, n, mode);
}

void vec_scale(double* v, double s, int count, Carry mode) {
    for (int i = 0; i < count; ++i) v[i] *= s;
    mp_normalize(v, count, mode);
}

}  // namespace drmpi
