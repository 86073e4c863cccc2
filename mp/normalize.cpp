// Number representation: carry normalisation, stripping, and the small
// helpers every other file uses.
#include <cmath>

#include "mp/mp.h"

namespace drmpi {

namespace {

// The canonical word of x and its carry: x = q * Radix + r with r in
// [-off, Radix - off), off = Radix/2 (balanced) or 0.  Exact for whole x below
// 2^52 in magnitude: the quotient through the rounded reciprocal is off by at
// most one, which the remainder shows and corrects; q * Radix and x - q Radix
// are whole numbers below 2^53, so exact.
struct Split {
    double q, r;
};
inline Split split(double x, double off) {
    double q = std::floor((x + off) * (1.0 / Radix));
    double r = x - q * Radix;
    if (r < -off) {
        q -= 1.0;
        r += Radix;
    } else if (r >= Radix - off) {
        q += 1.0;
        r -= Radix;
    }
    return {q, r};
}

// The whole number nearest to t, for |t| < 2^51: adding and subtracting
// 1.5 * 2^52 leaves no fraction bits.  Plain additions, so a loop of them
// vectorises on every instruction set, unlike floor before SSE4.1.
inline double nearest(double t) {
    constexpr double Magic = 6755399441055744.0;
    return (t + Magic) - Magic;
}

// One round over all words at once: word i becomes its canonical word plus
// the carry of word i + 1.  Every word's magnitude shrinks by a factor of
// Radix or comes within a few units of the range.  Returns whether a carry
// beyond +-1 was met, that is whether another round is worth making.  The
// quotient through the rounded reciprocal is off by at most one either way,
// which the remainder shows and the comparisons correct, without branches,
// so that the loop vectorises; the words are read before they are written.
__attribute__((target_clones("avx512f", "avx2", "default")))
bool carry_round(double* v, int count, double off) {
    long big = 0;
    for (int i = 1; i < count - 1; ++i) {
        const double x = v[i];
        const double y = v[i + 1];
        double q = nearest((x + off) * (1.0 / Radix) - 0.5);
        const double r = x - q * Radix;
        q += (r >= Radix - off ? 1.0 : 0.0) - (r < -off ? 1.0 : 0.0);
        double qy = nearest((y + off) * (1.0 / Radix) - 0.5);
        const double ry = y - qy * Radix;
        qy += (ry >= Radix - off ? 1.0 : 0.0) - (ry < -off ? 1.0 : 0.0);
        big |= q * q > 1.0;
        v[i] = (x - q * Radix) + qy;
    }
    return big != 0;
}

}  // namespace

void mp_normalize(double* v, int count, Carry mode) {
    if (count <= 1) return;
    const double off = mode == Carry::Balanced ? Radix / 2 : 0.0;
    // Long vectors of large words (the outputs of a product) first shrink in
    // rounds that run over all words at once.  The sweep below then settles the
    // few carries left, and runs of boundary words that a carry ripples along.
    if (count > 32) {
        for (int round = 0; round < 4; ++round) {
            // The round leaves out word count-1 (it has no lower neighbour,
            // and its carry goes to word count-2 within the round) and the
            // carry of word 1 into word 0: both are done here.
            const Split first = split(v[1], off);
            const Split last = split(v[count - 1], off);
            const bool more = carry_round(v, count, off);
            v[count - 1] = last.r;
            v[0] += first.q;
            if (!more && std::fabs(last.q) <= 1.0) break;
        }
    }
    double carry = 0.0;
    const double lo = -off;
    const double hi = Radix - off;
    for (int i = count - 1; i >= 1; --i) {
        const double x = v[i] + carry;
        if (x >= lo && x < hi) {
            v[i] = x;
            carry = 0.0;
        } else {
            const Split s = split(x, off);
            v[i] = s.r;
            carry = s.q;
        }
    }
    v[0] += carry;
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
