// Number representation: the global settings and work arrays, carry
// normalisation, stripping, and the small helpers every other file uses.
#include <cmath>

#include "mp/mp.h"

namespace drmpi {

double Radix = 100000.0;
int32_t CarryMode = -1;

double ArrayP[ND + 3];
double ArrayQ[ND + 3];
double ArrayA[ND + 3];
double ArraySum[ND + 3];
double ArrayT[ND];
double ArrayB[4 * ND];
double FftWork[6 * ND + 2];

void mp_normalize(double* v, int count) {
    const double radix = Radix;
    // First sweep: v[i-1] takes its carry before it is itself divided, so one
    // sweep carries all the way to v[0].  Afterwards every v[i], i >= 1, lies
    // in (-Radix, Radix) with the sign it had before its division.
    for (int i = count - 1; i >= 1; --i) {
        const int32_t q = static_cast<int32_t>(v[i] / radix);
        v[i] -= q * radix;
        v[i - 1] += q;
    }
    // Second sweep: one borrow or carry per word brings it into range; each
    // word is examined after its less significant neighbour has adjusted it.
    if (CarryMode < 0) {
        const double half = radix / 2.0;
        for (int i = count - 1; i >= 1; --i) {
            if (v[i] > half) {
                v[i - 1] += 1.0;
                v[i] -= radix;
            } else if (v[i] < -half) {
                v[i - 1] -= 1.0;
                v[i] += radix;
            }
        }
    } else {
        for (int i = count - 1; i >= 1; --i) {
            if (v[i] < 0.0) {
                v[i - 1] -= 1.0;
                v[i] += radix;
            }
        }
    }
}

void mp_strip(double* x, int n) {
    const double e = x[0];
    int i = 1;
    while (i <= n && x[i] == 0.0) ++i;
    const int s = i - 1;
    if (s > 0) {
        for (int j = 1; j <= n - s; ++j) x[j] = x[j + s];
        mp_fill(0, x + n - s + 1, s);
    }
    x[0] = e - s;
}

void mp_from_words(double* x, int n) {
    x[0] = n;
    mp_strip(x, n);
}

void mp_copy(const double* src, double* dst, int count) {
    for (int i = 0; i < count; ++i) dst[i] = src[i];
}

void mp_fill(int value, double* dst, int count) {
    const double v = value;
    for (int i = 0; i < count; ++i) dst[i] = v;
}

void mp_set_small(int value, double* x, int n) {
    x[0] = 1.0;
    x[1] = value;
    mp_fill(0, x + 2, n - 1);
}

int int_pow(int base, int exp) {
    // Wrapping multiplication: a result beyond 32 bits is the caller's fault
    // and must not be undefined behaviour.
    uint32_t r = 1;
    for (int i = 0; i < exp; ++i) r *= static_cast<uint32_t>(base);
    return static_cast<int>(r);
}

double dmax(double a, double b) { return b <= a ? a : b; }

double dmax3(double u, double v, double w) { return dmax(dmax(u, v), w); }

int imin(int a, int b) { return a > b ? b : a; }

int ilog2(int n) {
    // The added half keeps an exact power of two from falling just below its
    // logarithm.
    return static_cast<int>(std::log(n + 0.5) / std::log(2.0));
}

}  // namespace drmpi
