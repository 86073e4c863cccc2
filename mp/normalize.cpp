// Number representation: carry normalisation, stripping, and the small
// helpers every other file uses.
#include <bit>
#include <cmath>
#include <cstring>

#include "fft/fft.h"
#include "mp/check.h"
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

// L = 4 words at a time: one AVX2 register, or two SSE2 registers.  Vectors
// of eight words made a run of 10^6 digits take 1.35 times as long on a
// processor without AVX-512: their shift of lanes across two AVX2 registers
// went through memory.  The helpers are inlined into each copy of
// carry_round, so the warning that such vectors pass differently between
// instruction sets concerns no real call.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef double Vec __attribute__((vector_size(32)));
typedef long Mask __attribute__((vector_size(32)));
constexpr int L = sizeof(Vec) / sizeof(double);

__attribute__((always_inline)) inline Vec load(const double* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void store(double* p, const Vec& v) { std::memcpy(p, &v, sizeof v); }

// The quotient of a split without the corrections of split(), for one word
// or L at once: q is the whole number nearest to t = x/Radix + off/Radix -
// 1/2, that is to (x + off)/Radix - 1/2, the last term 0 in the balanced
// range (where the sum is left out: off is a constant in every caller).  For
// whole x below 2^46 in magnitude t is within 2^-22 of its exact value (one
// rounding of the product by the rounded reciprocal, one of the sum), and
// the exact value lies at least 10^-5 from a whole number plus 1/2 unless
// (x + off)/Radix is whole: so q is the floor of (x + off)/Radix, or one less
// where that is a whole number, and r = x - q Radix lies in [-off, Radix -
// off], the upper end included, which the scan after the rounds allows for.
// Larger x may be split one unit of Radix off either way; such words only
// come before further rounds, which put it right.
template <class T>
__attribute__((always_inline)) inline T split_quotient(const T& x, double off) {
    const T p = x * (1.0 / Radix);
    const T t = off == Radix / 2 ? p : p + (off * (1.0 / Radix) - 0.5);
    return (t + RoundingShift) - RoundingShift;
}

// L words split at once, x = q Radix + r.
__attribute__((always_inline)) inline void split_lanes(const Vec& x, double off, Vec* q, Vec* r) {
    *q = split_quotient(x, off);
    *r = x - *q * Radix;
}

// The same split of one word, the same operations, so the same result.
__attribute__((always_inline)) inline Split split1(double x, double off) {
    const double q = split_quotient(x, off);
    return {q, x - q * Radix};
}

// The largest carry that the rounds leave to the scan: words then lie at
// most Slack outside their range, and the scan settles each with one unit of
// Radix.  Outputs of transforms need two rounds so, where a carry of +-1
// would take three.
constexpr double Slack = Radix / 4;

// One round over words 1 .. count-2: word i becomes its canonical word plus
// the carry of word i + 1.  Every word's magnitude shrinks by a factor of
// Radix or comes within a few units of the range.  Returns whether a carry
// beyond Slack was met, that is whether another round is needed.  Each
// block of L words splits the block after it first, so that every word is split
// once and read before it is written.
__attribute__((always_inline)) inline bool carry_round(double* v, int count, double off) {
    Mask big = {};
    int i = 1;
    if (count - 1 >= 2 * L + 1) {
        Vec q, r;
        split_lanes(load(v + 1), off, &q, &r);
        for (; i + 2 * L <= count - 1; i += L) {
            Vec qn, rn;
            split_lanes(load(v + i + L), off, &qn, &rn);
            const Vec carry = __builtin_shuffle(q, qn, Mask{1, 2, 3, 4});
            big |= q * q > Slack * Slack;
            store(v + i, r + carry);
            q = qn;
            r = rn;
        }
    }
    // The last words, which have no full block after them, one by one.
    long tail = 0;
    for (; i < count - 1; ++i) {
        const Split x = split1(v[i], off);
        const Split y = split1(v[i + 1], off);
        tail |= x.q * x.q > Slack * Slack;
        v[i] = x.r + y.q;
    }
    for (int k = 0; k < L; ++k) tail |= big[k];
    return tail != 0;
}

// Settles the words from v[from] down to v[to] (from >= to >= 1): a word
// outside [lo, hi) moves one unit of Radix to its neighbour, which comes
// next, so that runs of boundary words that a carry ripples along need
// nothing more.  Words lie less than one unit of Radix outside, a carry
// received included.
inline void settle(double* v, int from, int to, double lo, double hi) {
    for (int j = from; j >= to; --j) {
        if (v[j] < lo) {
            v[j] += Radix;
            v[j - 1] -= 1.0;
        } else if (v[j] >= hi) {
            v[j] -= Radix;
            v[j - 1] += 1.0;
        }
    }
}

// Settles words 1 .. count-1 after the rounds, each in [lo - Slack, hi +
// Slack].  Words outside [lo, hi) are rare: chunks of 64 words without one
// are passed over in a few vector operations.
__attribute__((always_inline)) inline void scan(double* v, int count, double lo, double hi) {
    // A chunk whose least word is at least lo and whose largest is below hi
    // holds no word to settle: a minimum and a maximum for each L words.
    constexpr int Chunk = 64;
    int i = count - 1;
    for (; i >= Chunk; i -= Chunk) {
        Vec least = load(v + i - Chunk + 1), most = least;
        for (int k = i - Chunk + 1 + L; k <= i - L + 1; k += L) {
            const Vec x = load(v + k);
            least = x < least ? x : least;
            most = most < x ? x : most;
        }
        double a = least[0], b = most[0];
        for (int k = 1; k < L; ++k) {
            a = least[k] < a ? least[k] : a;
            b = b < most[k] ? most[k] : b;
        }
        if (a < lo || b >= hi) settle(v, i, i - Chunk + 1, lo, hi);
    }
    settle(v, i, 1, lo, hi);
}

// A copy of carry_round and scan for each instruction set of the transforms:
// the same operations in each, so the same words.
struct CarryKernels {
    bool (*round)(double* v, int count, double off);
    void (*scan)(double* v, int count, double lo, double hi);
};

// The offset is Radix/2 or 0: each gets its own copy of the round, in
// which the split's offset is a constant.
__attribute__((always_inline)) inline bool carry_round_of(double* v, int count, double off) {
    return off == 0 ? carry_round(v, count, 0.0) : carry_round(v, count, Radix / 2);
}

__attribute__((target("avx512f"))) bool carry_round_avx512(double* v, int count, double off) {
    return carry_round_of(v, count, off);
}
__attribute__((target("avx512f"))) void scan_avx512(double* v, int count, double lo, double hi) {
    scan(v, count, lo, hi);
}
__attribute__((target("avx2"))) bool carry_round_avx2(double* v, int count, double off) {
    return carry_round_of(v, count, off);
}
__attribute__((target("avx2"))) void scan_avx2(double* v, int count, double lo, double hi) {
    scan(v, count, lo, hi);
}
bool carry_round_generic(double* v, int count, double off) {
    return carry_round_of(v, count, off);
}
void scan_generic(double* v, int count, double lo, double hi) { scan(v, count, lo, hi); }

// The copies for the path that the transforms take (fft_default_isa).
const CarryKernels& carry_kernels() {
    static const CarryKernels k = [] {
        switch (fft_default_isa()) {
            case FftIsa::avx512: return CarryKernels{carry_round_avx512, scan_avx512};
            case FftIsa::avx2: return CarryKernels{carry_round_avx2, scan_avx2};
            default: return CarryKernels{carry_round_generic, scan_generic};
        }
    }();
    return k;
}

// Carry normalisation of a short vector, word by word in 64-bit integers.
void short_sweep(double* v, int count, int64_t off) {
    int64_t carry = 0;
    for (int i = count - 1; i >= 1; --i) {
        int64_t r;
        carry = split_word(static_cast<int64_t>(v[i]) + carry, off, &r);
        v[i] = static_cast<double>(r);
    }
    v[0] += static_cast<double>(carry);
}

}  // namespace

namespace {

// mp_normalize's work.
void normalize(double* v, int count, Carry mode) {
    if (count <= 1) return;
    const double off = mode == Carry::Balanced ? Radix / 2 : 0.0;
    // Up to 16 words the sweep is the faster (40 ns against 60 ns here); at
    // 32 the rounds are (75 ns against 105 ns).
    if (count <= 16) {
        short_sweep(v, count, static_cast<int64_t>(off));
        return;
    }
    const double lo = -off;
    const double hi = Radix - off;
    // Rounds over all words at once shrink every word by a factor of Radix,
    // until no carry beyond Slack is left: the words then lie in [lo - Slack,
    // hi + Slack].
    const CarryKernels& kernels = carry_kernels();
    bool settled = false;
    for (int round = 0; round < 4 && !settled; ++round) {
        // The round leaves out word count-1 (it has no lower neighbour, and
        // its carry goes to word count-2 within the round) and the carry of
        // word 1 into word 0: both are done here.
        const Split first = split1(v[1], off);
        const Split last = split1(v[count - 1], off);
        const bool more = count > 2 && kernels.round(v, count, off);
        v[count - 1] = last.r;
        v[0] += first.q;
        settled = !more && std::fabs(last.q) <= Slack;
    }
    if (!settled) {
        // Words beyond 2^52 or so: an exact sweep word by word.
        double carry = 0.0;
        for (int i = count - 1; i >= 1; --i) {
            const Split s = split(v[i] + carry, off);
            v[i] = s.r;
            carry = s.q;
        }
        v[0] += carry;
        return;
    }
    kernels.scan(v, count, lo, hi);
}

// Whether the words {v, count} all lie in the range of mode.
bool in_range(const double* v, int count, Carry mode) {
    const double lo = mode == Carry::Balanced ? -Radix / 2 : 0.0;
    for (int i = 0; i < count; ++i)
        if (v[i] < lo || v[i] > lo + Radix - 1 || v[i] != std::floor(v[i])) return false;
    return true;
}

}  // namespace

void mp_normalize(double* v, int count, Carry mode) {
    normalize(v, count, mode);
    DRMPI_ASSERT(count <= 1 || in_range(v + 1, count - 1, mode));
}

void mp_strip(double* x, int n) {
    const double e = x[0];
    const int s = leading_zeros(x + 1, n);
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

void mp_pack(const double* x, int32_t* out, int count) {
    DRMPI_ASSERT(disjoint(x, count, out, count));
    for (int i = 0; i < count; ++i) {
        DRMPI_ASSERT(std::fabs(x[i]) < 2147483648.0);
        out[i] = static_cast<int32_t>(x[i]);
    }
}

void mp_unpack(const int32_t* x, double* out, int count) {
    DRMPI_ASSERT(disjoint(x, count, out, count));
    for (int i = 0; i < count; ++i) out[i] = x[i];
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

int ilog2(int n) { return std::bit_width(static_cast<unsigned>(n)) - 1; }

}  // namespace drmpi
