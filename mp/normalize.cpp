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

namespace {

// Truncating division of whole numbers below 2^53 in magnitude by a fixed
// divisor d > 1, through a precomputed reciprocal (Granlund and Montgomery,
// "Division by invariant integers using multiplication", Thm. 4.2): with
// l = ceil(log2 d), s = max(53 + l, 64) and m = ceil(2^s / d) < 2^64,
// floor(x m / 2^s) equals floor(x / d) for every 0 <= x < 2^(s-l), which
// covers 2^53.  It keeps a division off the carry chain of mp_normalize.
struct Divisor {
    int64_t d = 0;
    uint64_t m = 0;
    int shift = 0;  // s - 64

    void set(int64_t divisor) {
        int l = 0;
        while ((int64_t{1} << l) < divisor) ++l;
        const int s = l + 53 > 64 ? l + 53 : 64;
        const unsigned __int128 p = static_cast<unsigned __int128>(1) << s;
        const auto dd = static_cast<unsigned __int128>(divisor);
        d = divisor;
        m = static_cast<uint64_t>((p + dd - 1) / dd);
        shift = s - 64;
    }

    // x / d truncated toward zero, as C++ integer division.
    // Branch-free: the sign of x is random in a product, so a branch on it
    // would be mispredicted half the time.
    int64_t quotient(int64_t x) const {
        const int64_t sign = x >> 63;  // 0 or -1
        const auto a = static_cast<uint64_t>((x ^ sign) - sign);
        const auto high = static_cast<uint64_t>((static_cast<unsigned __int128>(a) * m) >> 64);
        return (static_cast<int64_t>(high >> shift) ^ sign) - sign;
    }
};

Divisor RadixDivisor;

}  // namespace

void mp_normalize(double* v, int count) {
    if (count <= 1) return;
    if (static_cast<double>(RadixDivisor.d) != Radix) RadixDivisor.set(static_cast<int64_t>(Radix));
    const Divisor radix = RadixDivisor;
    const int64_t r = radix.d;
    // The mode's range [lower, upper]: balanced [-Radix/2, Radix/2] (for
    // whole words the same as comparing with Radix/2.0), or [0, Radix - 1].
    const int64_t upper = CarryMode < 0 ? r / 2 : r - 1;
    const int64_t lower = CarryMode < 0 ? -(r / 2) : 0;
    // Both sweeps run from v[count-1] down to v[1] in one loop, in exact
    // integer arithmetic.  The first sweep gives each word the carry of its
    // less significant neighbour and moves its quotient by Radix, truncated
    // toward zero, on (carry); afterwards the word lies in (-Radix, Radix)
    // with the sign of its value before the division.  The second sweep then
    // examines the word together with the borrow or carry of its neighbour
    // (adjust) and brings it into the mode's range with one more of its own.
    int64_t carry = 0;
    int64_t adjust = 0;
    for (int i = count - 1; i >= 1; --i) {
        const int64_t x = static_cast<int64_t>(v[i]) + carry;
        carry = radix.quotient(x);
        int64_t w = x - carry * r + adjust;  // within [-Radix, Radix]
        adjust = (w > upper) - (w < lower);
        w -= adjust * r;
        v[i] = static_cast<double>(w);
    }
    v[0] = v[0] + static_cast<double>(carry) + static_cast<double>(adjust);
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

int ilog2(int n) {
    // The added half keeps an exact power of two from falling just below its
    // logarithm.
    return static_cast<int>(std::log(n + 0.5) / std::log(2.0));
}

}  // namespace drmpi
