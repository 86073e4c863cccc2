// The FFT kernel: forward and inverse transforms, weighting, rounding and
// pointwise products.  This file is compiled once per instruction set, with
// DRMPI_FFT_NS naming the namespace of that copy (fft_generic, fft_avx2,
// fft_avx512) and the compiler flags of the set.  Vectors are GCC vector
// extensions of the widest native width; every path runs the same IEEE
// operations on every element in the same order (no FMA contraction, no
// reassociation), so the results agree bit for bit.  Only moves of data
// (transposes, lane swaps) and the exact floor of the rounding differ between
// the paths.
//
// Nothing here may have external linkage but the kernel table: an inline
// function or template instantiated here would be compiled for this set and
// could be picked by the linker for callers elsewhere.
#include <immintrin.h>

#include <cstring>

#include "fft/kernel.h"
#include "mp/parallel.h"

#ifndef DRMPI_FFT_NS
#error "DRMPI_FFT_NS names the namespace of this copy of the kernel"
#endif

namespace drmpi {
namespace DRMPI_FFT_NS {
namespace {

#if defined(__AVX512F__)
constexpr int W = 8;
#elif defined(__AVX2__)
constexpr int W = 4;
#else
constexpr int W = 2;
#endif
constexpr int K = 8 / W;  // native vectors per block of eight lanes

// The small helpers are forced inline: a call would pass the vectors through memory.
#define FFT_INLINE inline __attribute__((always_inline))

typedef double Nat __attribute__((vector_size(8 * W)));
typedef long long Mask __attribute__((vector_size(8 * W)));

// Eight lanes of doubles, as K native vectors.
struct V {
    Nat v[K];
    V() = default;
    FFT_INLINE V(const V& o) { copy(o); }
    FFT_INLINE V& operator=(const V& o) {
        copy(o);
        return *this;
    }
    FFT_INLINE void copy(const V& o) {
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) v[k] = o.v[k];
    }
};

FFT_INLINE V operator+(V a, const V& b) {
    for (int k = 0; k < K; ++k) a.v[k] += b.v[k];
    return a;
}
FFT_INLINE V operator-(V a, const V& b) {
    for (int k = 0; k < K; ++k) a.v[k] -= b.v[k];
    return a;
}
FFT_INLINE V operator*(V a, const V& b) {
    for (int k = 0; k < K; ++k) a.v[k] *= b.v[k];
    return a;
}
FFT_INLINE V operator-(V a) {  // flips the sign bit: exact
    for (int k = 0; k < K; ++k) a.v[k] = -a.v[k];
    return a;
}
FFT_INLINE V splat(double x) {
    V r;
    for (int k = 0; k < K; ++k)
        for (int i = 0; i < W; ++i) r.v[k][i] = x;
    return r;
}
// One native vector at a time: a copy of the whole struct may go through
// general registers.
FFT_INLINE V load(const double* p) {
    V r;
    for (int k = 0; k < K; ++k) std::memcpy(&r.v[k], p + W * k, sizeof(Nat));
    return r;
}
// Eight 32-bit words, converted exactly.
FFT_INLINE V load(const int32_t* p) {
    typedef int32_t Ints __attribute__((vector_size(4 * W)));
    V r;
    for (int k = 0; k < K; ++k) {
        Ints i;
        std::memcpy(&i, p + W * k, sizeof i);
        r.v[k] = __builtin_convertvector(i, Nat);
    }
    return r;
}
FFT_INLINE void store(double* p, const V& x) {
    for (int k = 0; k < K; ++k) std::memcpy(p + W * k, &x.v[k], sizeof(Nat));
}

// Complex numbers, eight lanes each.
struct C {
    V re, im;
};

FFT_INLINE C operator+(const C& a, const C& b) { return {a.re + b.re, a.im + b.im}; }
FFT_INLINE C operator-(const C& a, const C& b) { return {a.re - b.re, a.im - b.im}; }
FFT_INLINE C times_minus_i(const C& a) { return {a.im, -a.re}; }
FFT_INLINE C times_i(const C& a) { return {-a.im, a.re}; }

// a * w and a * conj(w).
FFT_INLINE C cmul(const C& a, const C& w) {
    return {a.re * w.re - a.im * w.im, a.re * w.im + a.im * w.re};
}
FFT_INLINE C cmul_conj(const C& a, const C& w) {
    return {a.re * w.re + a.im * w.im, a.im * w.re - a.re * w.im};
}

// The block of eight complex values at t.
FFT_INLINE C block(const double* t) { return {load(t), load(t + 8)}; }

FFT_INLINE C get(const double* d, long b) { return block(d + FftBlock * b); }
FFT_INLINE void put(double* d, long b, const C& x) {
    store(d + FftBlock * b, x.re);
    store(d + FftBlock * b + 8, x.im);
}

// ------------------------------------------------------------------ roots --
// Value r of block b of roots of P powers (FftRoots in kernel.h), whole or
// split: w(b, r).  w.each_group(b0, b1, f) calls f(c0, c1, u) over the parts
// [c0, c1) of the blocks [b0, b1) that share a factor H, u giving the same
// values as w with H loaded once.  with_roots(t, f) calls f with the one that
// t is.

template <int P>
struct WholeRoots {
    const double* t;
    FFT_INLINE C operator()(long b, int r) const { return block(t + fft_roots_block(b, r, P)); }
    template <class F>
    FFT_INLINE void each_group(long b0, long b1, const F& f) const {
        f(b0, b1, *this);
    }
};

// The split roots of one group, its factors H held in registers.
template <int P>
struct GroupRoots {
    const double* lo;
    long mask;
    C h[P], l[P];  // H = h + l
    // H (1 + D) = h + (l + h D), D at lo: the small terms summed before the
    // one rounding that matters.
    FFT_INLINE C operator()(long b, int r) const {
        const C d = block(lo + fft_roots_block(b & mask, r, P));
        const C& x = h[r - 1];
        const C& y = l[r - 1];
        return {x.re + (y.re + (x.re * d.re - x.im * d.im)),
                x.im + (y.im + (x.re * d.im + x.im * d.re))};
    }
};

template <int P>
struct SplitRoots {
    const double* lo;
    const double* hi;
    int shift;
    FFT_INLINE GroupRoots<P> group(long g) const {
        GroupRoots<P> u{lo, (1L << shift) - 1, {}, {}};
        for (int r = 1; r <= P; ++r) {
            const double* e = hi + fft_roots_group(g, r, P);
            u.h[r - 1] = {splat(e[0]), splat(e[1])};
            u.l[r - 1] = {splat(e[2]), splat(e[3])};
        }
        return u;
    }
    FFT_INLINE C operator()(long b, int r) const { return group(b >> shift)(b, r); }
    template <class F>
    FFT_INLINE void each_group(long b0, long b1, const F& f) const {
        for (long b = b0; b < b1;) {
            const long next = ((b >> shift) + 1) << shift, end = next < b1 ? next : b1;
            f(b, end, group(b >> shift));
            b = end;
        }
    }
};

template <int P, class F>
FFT_INLINE void with_roots(const FftRoots& t, const F& f) {
    if (t.hi == nullptr) {
        f(WholeRoots<P>{t.lo});
    } else {
        f(SplitRoots<P>{t.lo, t.hi, t.shift});
    }
}

// ------------------------------------------------------------ transposes --
// The 8 x 8 matrix of rows row(0..7) (references to V) is replaced by its
// transpose, in place: no copy of the rows, which GCC would keep in memory.

#if defined(__AVX512F__)
template <class Row>
FFT_INLINE void transpose(const Row& row) {
    Nat a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = __builtin_shuffle(row(i).v[0], row(i + 1).v[0], Mask{0, 8, 2, 10, 4, 12, 6, 14});
        a[i + 1] = __builtin_shuffle(row(i).v[0], row(i + 1).v[0], Mask{1, 9, 3, 11, 5, 13, 7, 15});
    }
    for (int g = 0; g < 4; ++g) {
        const int i = (g & 1) + 4 * (g >> 1);  // 0, 1, 4, 5
        b[i] = __builtin_shuffle(a[i], a[i + 2], Mask{0, 1, 8, 9, 4, 5, 12, 13});
        b[i + 2] = __builtin_shuffle(a[i], a[i + 2], Mask{2, 3, 10, 11, 6, 7, 14, 15});
    }
    for (int i = 0; i < 4; ++i) {
        row(i).v[0] = __builtin_shuffle(b[i], b[i + 4], Mask{0, 1, 2, 3, 8, 9, 10, 11});
        row(i + 4).v[0] = __builtin_shuffle(b[i], b[i + 4], Mask{4, 5, 6, 7, 12, 13, 14, 15});
    }
}
#elif defined(__AVX2__)
// The 4 x 4 matrix of rows a, b, c, d transposed in place.
FFT_INLINE void transpose4(Nat& a, Nat& b, Nat& c, Nat& d) {
    const Nat a0 = __builtin_shuffle(a, b, Mask{0, 4, 2, 6});
    const Nat a1 = __builtin_shuffle(a, b, Mask{1, 5, 3, 7});
    const Nat a2 = __builtin_shuffle(c, d, Mask{0, 4, 2, 6});
    const Nat a3 = __builtin_shuffle(c, d, Mask{1, 5, 3, 7});
    a = __builtin_shuffle(a0, a2, Mask{0, 1, 4, 5});
    b = __builtin_shuffle(a1, a3, Mask{0, 1, 4, 5});
    c = __builtin_shuffle(a0, a2, Mask{2, 3, 6, 7});
    d = __builtin_shuffle(a1, a3, Mask{2, 3, 6, 7});
}
// Four 4 x 4 tiles; tile (R, C) is rows 4R..4R+3 of native vector C.  Each
// tile is transposed, and the two off the diagonal change places.
template <class Row>
FFT_INLINE void transpose(const Row& row) {
    for (int t = 0; t < 4; ++t) {
        const int r0 = 4 * (t >> 1), c = t & 1;
        transpose4(row(r0).v[c], row(r0 + 1).v[c], row(r0 + 2).v[c], row(r0 + 3).v[c]);
    }
    for (int i = 0; i < 4; ++i) {
        const Nat t = row(i).v[1];
        row(i).v[1] = row(i + 4).v[0];
        row(i + 4).v[0] = t;
    }
}
#else
// Sixteen 2 x 2 tiles; tile (R, C) is rows 2R, 2R+1 of native vector C.
template <class Row>
FFT_INLINE void transpose(const Row& row) {
    Nat out[8][4];
    for (int tr = 0; tr < 4; ++tr)
        for (int tc = 0; tc < 4; ++tc) {
            const Nat a = row(2 * tr).v[tc], b = row(2 * tr + 1).v[tc];
            out[2 * tc][tr] = __builtin_shuffle(a, b, Mask{0, 2});
            out[2 * tc + 1][tr] = __builtin_shuffle(a, b, Mask{1, 3});
        }
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) row(i).v[k] = out[i][k];
}
#endif

// The same for the 8 x 8 complex matrix of rows row(0..7) (references to C).
template <class Row>
FFT_INLINE void transpose_complex(const Row& row) {
    transpose([&](int i) -> V& { return row(i).re; });
    transpose([&](int i) -> V& { return row(i).im; });
}

// Lane l and lane l ^ S exchanged, S = 1, 2 or 4.
template <int S>
FFT_INLINE V swap_lanes(const V& x) {
    V r;
    if constexpr (S >= W) {
        for (int k = 0; k < K; ++k) r.v[k] = x.v[k ^ (S / W)];
    } else {
        Mask m;
        for (int i = 0; i < W; ++i) m[i] = i ^ S;
        for (int k = 0; k < K; ++k) r.v[k] = __builtin_shuffle(x.v[k], m);
    }
    return r;
}

// +1 in the lanes l with l & S clear, -1 in the others.
template <int S>
FFT_INLINE V lane_signs() {
    V r;
    for (int k = 0; k < K; ++k)
        for (int i = 0; i < W; ++i) r.v[k][i] = ((W * k + i) & S) ? -1.0 : 1.0;
    return r;
}

// ------------------------------------------------------------- butterflies --

// Four-point transforms in place, natural order in and out: y_k = sum_j x_j s^(jk),
// s = -i (forward) or +i (inverse), unscaled.
template <bool Inverse>
FFT_INLINE void dft4_either(C& x0, C& x1, C& x2, C& x3) {
    const C t0 = x0 + x2, t1 = x0 - x2, t2 = x1 + x3;
    const C t3 = Inverse ? times_i(x1 - x3) : times_minus_i(x1 - x3);
    x0 = t0 + t2;
    x1 = t1 + t3;
    x2 = t0 - t2;
    x3 = t1 - t3;
}

// Eight-point transforms in place across the vectors x(0..7) (references to
// C), natural order in, with s = exp(-+ i pi/4), unscaled; h holds cos(pi/4)
// in every lane.  Frequency f ends in x(dft8_place(f)): the even ones in
// x(0..3), the odd ones in x(4..7).  The results stay where they are made, as
// a reordering copy of the vectors would go through memory.
constexpr int dft8_place(int f) { return (f & 1) * 4 + (f >> 1); }

template <bool Inverse, class At>
FFT_INLINE void dft8_either(const At& x, const V& h) {
    for (int k = 0; k < 4; ++k) {
        const C sum = x(k) + x(k + 4), difference = x(k) - x(k + 4);
        x(k) = sum;
        x(k + 4) = difference;
    }
    C &b1 = x(5), &b3 = x(7);
    if constexpr (Inverse) {
        b1 = {(b1.re - b1.im) * h, (b1.re + b1.im) * h};
        x(6) = times_i(x(6));
        b3 = {-((b3.re + b3.im) * h), (b3.re - b3.im) * h};
    } else {
        b1 = {(b1.re + b1.im) * h, (b1.im - b1.re) * h};
        x(6) = times_minus_i(x(6));
        b3 = {(b3.im - b3.re) * h, -((b3.re + b3.im) * h)};
    }
    dft4_either<Inverse>(x(0), x(1), x(2), x(3));
    dft4_either<Inverse>(x(4), x(5), x(6), x(7));
}

// Eight-point transforms within the lanes of one block, by radix-2 stages on
// the lane pairs (l, l + S): decimation in frequency with S = 4, 2, 1, and its
// unscaled inverse, decimation in time, with S = 1, 2, 4.  The upper lane of a
// pair takes the difference (times the twiddle in the table t, exp(-2 pi i
// (l mod S)/(2S)); a multiplication by one is exact), the lower lane the sum.
// Frequency k ends in lane bitreverse(k) of three bits.
// The stage S = 1 has no twiddles: t is the 8-point leaf's table.
template <int S>
FFT_INLINE C lane_dif(const C& x, const double* t) {
    const V sign = lane_signs<S>();
    const C y = {x.re * sign + swap_lanes<S>(x.re), x.im * sign + swap_lanes<S>(x.im)};
    if constexpr (S == 1) {
        return y;
    } else {
        return cmul(y, block(t + fft_lane_stage(S)));
    }
}
template <int S>
FFT_INLINE C lane_dit(const C& x, const double* t) {
    const V sign = lane_signs<S>();
    C b = x;
    if constexpr (S != 1) b = cmul_conj(x, block(t + fft_lane_stage(S)));
    return {b.re * sign + swap_lanes<S>(b.re), b.im * sign + swap_lanes<S>(b.im)};
}
FFT_INLINE C lanes_forward(const C& x, const double* t) {
    return lane_dif<1>(lane_dif<2>(lane_dif<4>(x, t), t), t);
}
FFT_INLINE C lanes_inverse(const C& x, const double* t) {
    return lane_dit<4>(lane_dit<2>(lane_dit<1>(x, t), t), t);
}

// --------------------------------------------------------------- passes --
// A pass works on the blocks of one sub-transform at d.  Load(b) gives block b
// of its input (from d itself, or from the caller's words with the weights
// applied); Store(b, x) takes block b of its output.

struct InPlace {
    double* d;
    FFT_INLINE C operator()(long b) const { return get(d, b); }
    FFT_INLINE void operator()(long b, const C& x) const { put(d, b, x); }
};

// Radix-4 decimation in frequency over 32 * qb points: quarter r receives the
// points whose frequency is r mod 4, times w^(rj), w the roots of 3 powers.
template <class Load, class Roots>
void dif4(double* d, long qb, const Roots& roots, const Load& load, long j0 = 0, long j1 = -1) {
    roots.each_group(j0, j1 < 0 ? qb : j1, [&](long c0, long c1, const auto& w) {
        for (long j = c0; j < c1; ++j) {
            const C a0 = load(j), a1 = load(j + qb), a2 = load(j + 2 * qb), a3 = load(j + 3 * qb);
            const C t0 = a0 + a2, t1 = a0 - a2, t2 = a1 + a3, t3 = times_minus_i(a1 - a3);
            put(d, j, t0 + t2);
            put(d, j + qb, cmul(t1 + t3, w(j, 1)));
            put(d, j + 2 * qb, cmul(t0 - t2, w(j, 2)));
            put(d, j + 3 * qb, cmul(t1 - t3, w(j, 3)));
        }
    });
}

// Its inverse, unscaled: radix-4 decimation in time.
template <class Store, class Roots>
void dit4(double* d, long qb, const Roots& roots, const Store& store, long j0 = 0, long j1 = -1) {
    roots.each_group(j0, j1 < 0 ? qb : j1, [&](long c0, long c1, const auto& w) {
        for (long j = c0; j < c1; ++j) {
            const C b0 = get(d, j), b1 = cmul_conj(get(d, j + qb), w(j, 1));
            const C b2 = cmul_conj(get(d, j + 2 * qb), w(j, 2));
            const C b3 = cmul_conj(get(d, j + 3 * qb), w(j, 3));
            const C t0 = b0 + b2, t1 = b0 - b2, t2 = b1 + b3, t3 = times_i(b1 - b3);
            store(j, t0 + t2);
            store(j + qb, t1 + t3);
            store(j + 2 * qb, t0 - t2);
            store(j + 3 * qb, t1 - t3);
        }
    });
}

// Radix-3 decimation in frequency over 24 * tb points: third r receives the
// points whose frequency is r mod 3, times w^(rj), w the roots of 2 powers.
// With t1 = a1 + a2 and t2 = a1 - a2, third 0 takes a0 + t1, thirds 1 and 2
// take m -+ i s t2, m = a0 - t1/2 and s = sin(pi/3).
constexpr double Sin60 = 0.86602540378443864676;

template <class Load, class Roots>
void dif3(double* d, long tb, const Roots& roots, const Load& load, long j0, long j1) {
    const V half = splat(0.5), s = splat(Sin60);
    roots.each_group(j0, j1, [&](long c0, long c1, const auto& w) {
        for (long j = c0; j < c1; ++j) {
            const C a0 = load(j), a1 = load(j + tb), a2 = load(j + 2 * tb);
            const C t1 = a1 + a2, t2 = a1 - a2;
            const C m = {a0.re - half * t1.re, a0.im - half * t1.im};
            const C u = {s * t2.im, -(s * t2.re)};  // -i s t2
            put(d, j, a0 + t1);
            put(d, j + tb, cmul(m + u, w(j, 1)));
            put(d, j + 2 * tb, cmul(m - u, w(j, 2)));
        }
    });
}

// Its inverse, unscaled: radix-3 decimation in time.
template <class Store, class Roots>
void dit3(double* d, long tb, const Roots& roots, const Store& store, long j0, long j1) {
    const V half = splat(0.5), s = splat(Sin60);
    roots.each_group(j0, j1, [&](long c0, long c1, const auto& w) {
        for (long j = c0; j < c1; ++j) {
            const C b0 = get(d, j), b1 = cmul_conj(get(d, j + tb), w(j, 1));
            const C b2 = cmul_conj(get(d, j + 2 * tb), w(j, 2));
            const C t1 = b1 + b2, t2 = b1 - b2;
            const C m = {b0.re - half * t1.re, b0.im - half * t1.im};
            const C u = {-(s * t2.im), s * t2.re};  // i s t2
            store(j, b0 + t1);
            store(j + tb, m + u);
            store(j + 2 * tb, m - u);
        }
    });
}

// Radix-2 over 16 * hb points: half r receives the frequencies r mod 2, w
// the roots of 1 power.
template <class Load, class Roots>
void dif2(double* d, long hb, const Roots& roots, const Load& load, long j0 = 0, long j1 = -1) {
    roots.each_group(j0, j1 < 0 ? hb : j1, [&](long c0, long c1, const auto& w) {
        for (long j = c0; j < c1; ++j) {
            const C a0 = load(j), a1 = load(j + hb);
            put(d, j, a0 + a1);
            put(d, j + hb, cmul(a0 - a1, w(j, 1)));
        }
    });
}

template <class Store, class Roots>
void dit2(double* d, long hb, const Roots& roots, const Store& store, long j0 = 0, long j1 = -1) {
    roots.each_group(j0, j1 < 0 ? hb : j1, [&](long c0, long c1, const auto& w) {
        for (long j = c0; j < c1; ++j) {
            const C b0 = get(d, j), b1 = cmul_conj(get(d, j + hb), w(j, 1));
            store(j, b0 + b1);
            store(j + hb, b0 - b1);
        }
    });
}

// The 64-point leaf: point 8b + l is lane l of block b.  Eight-point transforms
// down the blocks, the twiddles exp(-2 pi i l k1/64), a transpose, and
// eight-point transforms again; frequency k1 + 8 k2 ends in lane k1 of block k2.
// Row i of the middle stage is x[dft8_place(i)], where the first transforms
// leave frequency i.
template <class Load>
void leaf_forward(double* d, const double* tw, const Load& in) {
    const V h = load(tw + FftLeafHalf);
    const WholeRoots<FftLeafPowers> w{tw};
    C x[8];
    for (int b = 0; b < 8; ++b) x[b] = in(b);
    const auto row = [&x](int i) -> C& { return x[dft8_place(i)]; };
    dft8_either<false>([&x](int i) -> C& { return x[i]; }, h);
    for (int k = 1; k < 8; ++k) row(k) = cmul(row(k), w(0, k));
    transpose_complex(row);
    dft8_either<false>(row, h);
    for (int k = 0; k < 8; ++k) put(d, k, row(dft8_place(k)));
}

template <class Store>
void leaf_inverse(double* d, const double* tw, const Store& store) {
    const V h = load(tw + FftLeafHalf);
    const WholeRoots<FftLeafPowers> w{tw};
    C x[8];
    for (int k = 0; k < 8; ++k) x[k] = get(d, k);
    const auto row = [&x](int i) -> C& { return x[dft8_place(i)]; };
    dft8_either<true>([&x](int i) -> C& { return x[i]; }, h);
    transpose_complex(row);
    for (int k = 1; k < 8; ++k) row(k) = cmul_conj(row(k), w(0, k));
    dft8_either<true>(row, h);
    for (int b = 0; b < 8; ++b) store(b, row(dft8_place(b)));
}

// ------------------------------------------------------ whole transforms --

// Forward transform in place of the 2^lg points at d, lg >= 6 and lg - 6 even
// (radix-4 passes down to the leaves).  Depth first, so that every sub-transform
// of a cache's size runs within that cache.
void forward_in_place(const FftPlan& p, double* d, int lg) {
    if (lg == 6) {
        leaf_forward(d, p.leaf, InPlace{d});
        return;
    }
    const long qb = 1L << (lg - 5);
    with_roots<3>(p.pass[lg], [&](const auto& w) { dif4(d, qb, w, InPlace{d}); });
    for (int q = 0; q < 4; ++q) forward_in_place(p, d + FftBlock * q * qb, lg - 2);
}

void inverse_in_place(const FftPlan& p, double* d, int lg) {
    if (lg == 6) {
        leaf_inverse(d, p.leaf, InPlace{d});
        return;
    }
    const long qb = 1L << (lg - 5);
    for (int q = 0; q < 4; ++q) inverse_in_place(p, d + FftBlock * q * qb, lg - 2);
    with_roots<3>(p.pass[lg], [&](const auto& w) { dit4(d, qb, w, InPlace{d}); });
}

// From this length on a transform shares its work among the threads: the
// outer pass in Chunks ranges of butterflies, then its independent
// sub-transforms.  Every butterfly computes the same operations whichever
// thread runs it, so the results do not depend on the thread count.  Called
// from a task of parallel_run, everything runs on the calling thread.  With
// the pool's threads polling between jobs, sharing pays from 2^13 points: runs
// of 10^5, 10^6 and 10^7 digits took 0.95, 0.87 and 0.90 of their time with
// 2^19, where a job's wake-up through the system set the length.
constexpr long ParallelMin = 1L << 13;
constexpr int Chunks = 4;

// f(j0, j1) over [0, count) in Chunks ranges, on the threads for long transforms.
template <class F>
void chunked(const FftPlan& p, long count, const F& f) {
    if (p.n < ParallelMin) {
        f(0, count);
        return;
    }
    parallel_for(Chunks, [&](int i, int) { f(count * i / Chunks, count * (i + 1) / Chunks); });
}

// f(i) for i < parts, on the threads for long transforms.
template <class F>
void parts(const FftPlan& p, int count, const F& f) {
    if (p.n < ParallelMin) {
        for (int i = 0; i < count; ++i) f(i);
        return;
    }
    parallel_for(count, [&](int i, int) { f(i); });
}

// The forward transform of the 2^lg >= 8 points at d, its first pass reading
// through load; whether it shares its work among the threads goes by the
// plan's length.  Below 64 points one pass across the blocks (none for 8)
// leaves an eight-point transform in each block.  After the first pass the
// parts are independent contiguous sub-transforms.
template <class Load>
void forward_pow2(const FftPlan& p, double* d, int lg, const Load& load) {
    if (lg < 6) {
        const int parts = 1 << (lg - 3);
        if (lg == 3) put(d, 0, load(0));
        if (lg == 4) dif2(d, 1, WholeRoots<1>{p.pass[4].lo}, load);
        if (lg == 5) dif4(d, 1, WholeRoots<3>{p.pass[5].lo}, load);
        for (int b = 0; b < parts; ++b) put(d, b, lanes_forward(get(d, b), p.leaf));
    } else if (lg == 6) {
        leaf_forward(d, p.leaf, load);
    } else if (fft_top_radix2(lg)) {
        const long hb = 1L << (lg - 4);
        with_roots<1>(p.pass[lg], [&](const auto& w) {
            chunked(p, hb, [&](long j0, long j1) { dif2(d, hb, w, load, j0, j1); });
        });
        parts(p, 2, [&](int h) { forward_in_place(p, d + FftBlock * h * hb, lg - 1); });
    } else {
        const long qb = 1L << (lg - 5);
        with_roots<3>(p.pass[lg], [&](const auto& w) {
            chunked(p, qb, [&](long j0, long j1) { dif4(d, qb, w, load, j0, j1); });
        });
        parts(p, 4, [&](int q) { forward_in_place(p, d + FftBlock * q * qb, lg - 2); });
    }
}

// The inverse, unscaled, of the 2^lg >= 8 points at d, its last pass writing
// through stores(i), the store for the range of butterflies i < Chunks
// (stores(0) for the whole last pass when the transform is short).
template <class Stores>
void inverse_pow2(const FftPlan& p, double* d, int lg, const Stores& stores) {
    const auto store = stores(0);
    if (lg < 6) {
        const int parts = 1 << (lg - 3);
        for (int b = 0; b < parts; ++b) put(d, b, lanes_inverse(get(d, b), p.leaf));
        if (lg == 3) store(0, get(d, 0));
        if (lg == 4) dit2(d, 1, WholeRoots<1>{p.pass[4].lo}, store);
        if (lg == 5) dit4(d, 1, WholeRoots<3>{p.pass[5].lo}, store);
    } else if (lg == 6) {
        leaf_inverse(d, p.leaf, store);
    } else if (fft_top_radix2(lg)) {
        const long hb = 1L << (lg - 4);
        parts(p, 2, [&](int h) { inverse_in_place(p, d + FftBlock * h * hb, lg - 1); });
        with_roots<1>(p.pass[lg], [&](const auto& w) {
            chunked(p, hb, [&](long j0, long j1) {
                dit2(d, hb, w, stores(Chunks * j0 / hb), j0, j1);
            });
        });
    } else {
        const long qb = 1L << (lg - 5);
        parts(p, 4, [&](int q) { inverse_in_place(p, d + FftBlock * q * qb, lg - 2); });
        with_roots<3>(p.pass[lg], [&](const auto& w) {
            chunked(p, qb, [&](long j0, long j1) {
                dit4(d, qb, w, stores(Chunks * j0 / qb), j0, j1);
            });
        });
    }
}

// f(part) for the three thirds of the 3 * 2^k points at d, in turn.
template <class F>
void each_third(const FftPlan& p, double* d, const F& f) {
    for (int r = 0; r < 3; ++r) f(d + FftBlock * r * (p.n / 24));
}

// The whole forward transform of plan p, n >= 8, its first pass reading
// through load: for n = 3 * 2^k the radix-3 pass, then each third in place.
template <class Load>
void forward(const FftPlan& p, double* d, const Load& load) {
    if (!p.three) {
        forward_pow2(p, d, p.log2n, load);
        return;
    }
    const long tb = p.n / 24;
    with_roots<2>(p.third, [&](const auto& w) {
        chunked(p, tb, [&](long j0, long j1) { dif3(d, tb, w, load, j0, j1); });
    });
    each_third(p, d, [&](double* part) { forward_pow2(p, part, p.log2n, InPlace{part}); });
}

// The whole inverse, unscaled, as inverse_pow2: for n = 3 * 2^k each third
// in place, then the radix-3 pass, which writes through the stores.
template <class Stores>
void inverse(const FftPlan& p, double* d, const Stores& stores) {
    if (!p.three) {
        inverse_pow2(p, d, p.log2n, stores);
        return;
    }
    each_third(p, d, [&](double* part) {
        inverse_pow2(p, part, p.log2n, [part](int) { return InPlace{part}; });
    });
    const long tb = p.n / 24;
    with_roots<2>(p.third, [&](const auto& w) {
        chunked(p, tb, [&](long j0, long j1) {
            dit3(d, tb, w, stores(Chunks * j0 / tb), j0, j1);
        });
    });
}

// ------------------------------------------------- loads and stores --

// Block b of the words (doubles or 32-bit integers), times theta^j, w the
// weights; the blocks from `blocks` on are zero.
template <class Roots, class T>
struct WeightedWords {
    const T* a;
    long blocks;
    Roots w;
    FFT_INLINE C operator()(long b) const {
        if (b >= blocks) return {splat(0.0), splat(0.0)};
        const V x = load(a + 8 * b);
        const C t = w(b, 1);
        return {x * t.re, x * t.im};
    }
};

// Block b of the high or the low digits of the words, h the
// whole number nearest to w / SplitBase and l = w - h SplitBase, times
// theta^j.  h comes from adding and removing RoundingShift, the same on every path.
template <class Roots, class T>
struct WeightedDigits {
    const T* a;
    long blocks;
    Roots w;
    SplitDigit digit;
    FFT_INLINE C operator()(long b) const {
        if (b >= blocks) return {splat(0.0), splat(0.0)};
        const V x = load(a + 8 * b);
        const V shift = splat(RoundingShift);
        const V h = (x * splat(1.0 / SplitBase) + shift) - shift;
        const V y = digit == SplitDigit::High ? h : x - h * splat(SplitBase);
        const C t = w(b, 1);
        return {y * t.re, y * t.im};
    }
};

constexpr double Big = 4503599627370496.0;  // 2^52: from here on every double is whole

// floor(x + 0.5) in each lane.  floor is exact, so the instruction of AVX and the
// steps of SSE2 (t rounded to the nearest whole number by adding and removing
// 2^52, exact below 2^52, less one where that went up) agree bit for bit.
FFT_INLINE Nat round_half_up(Nat x) {
    const Nat t = x + 0.5;
#if defined(__AVX512F__)
    return _mm512_mask_roundscale_pd(t, 0xff, t, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
#elif defined(__AVX2__)
    return _mm256_floor_pd(t);
#else
    const Nat big = t < 0 ? -Big : Big;  // sign of t, magnitude 2^52
    Nat r = (t + big) - big;
    r = r > t ? r - 1.0 : r;
    const Nat mag = t < 0 ? -t : t;
    return mag >= Big ? t : r;
#endif
}

FFT_INLINE double round_half_up(double x) {
    const double t = x + 0.5;
    const double big = t < 0 ? -Big : Big;
    double r = (t + big) - big;
    r = r > t ? r - 1.0 : r;
    const double mag = t < 0 ? -t : t;
    return mag >= Big ? t : r;
}

// Block b of c_m = theta^(-m) * x / n, m = 8b + lane, w the weights: rounded
// into the words z, its largest distance from them into err.
template <class Roots>
struct RoundedWords {
    double* z;
    Roots w;
    long n;
    V scale;
    V* err;
    FFT_INLINE void operator()(long b, const C& x) const {
        const C c = cmul_conj({x.re * scale, x.im * scale}, w(b, 1));
        double re[8], im[8];
        for (int k = 0; k < K; ++k) {
            const Nat rr = round_half_up(c.re.v[k]), ri = round_half_up(c.im.v[k]);
            Nat dr = rr - c.re.v[k], di = ri - c.im.v[k];
            dr = dr < 0 ? -dr : dr;
            di = di < 0 ? -di : di;
            Nat e = err->v[k];
            e = e < dr ? dr : e;
            e = e < di ? di : e;
            err->v[k] = e;
            std::memcpy(re + W * k, &rr, sizeof rr);
            std::memcpy(im + W * k, &ri, sizeof ri);
        }
        std::memcpy(z + 8 * b + 1, re, sizeof re);
        // Im c_(n-1) has no word: the last block leaves it out.
        if (8 * b + 8 < n)
            std::memcpy(z + n + 8 * b + 1, im, sizeof im);
        else
            std::memcpy(z + n + 8 * b + 1, im, 7 * sizeof(double));
    }
};

FFT_INLINE double largest(const V& e) {
    double r[8];
    store(r, e);
    double m = r[0];
    for (int i = 1; i < 8; ++i) m = m < r[i] ? r[i] : m;
    return m;
}

// ------------------------------------------------- lengths below 8 --
// Scalar radix-2 transforms on natural-order arrays re[n], im[n].

// Decimation in frequency in place; position p ends with frequency bitreverse(p).
void small_forward(const FftPlan& p, double* re, double* im) {
    const int n = p.n;
    const double* wr = p.pass[0].lo;
    const double* wi = wr + n / 2;
    for (int len = n; len >= 2; len /= 2) {
        const int h = len / 2, stride = n / len;
        for (int g = 0; g < n; g += len)
            for (int j = 0; j < h; ++j) {
                const double ar = re[g + j], ai = im[g + j];
                const double br = re[g + j + h], bi = im[g + j + h];
                const double dr = ar - br, di = ai - bi;
                const double cr = wr[j * stride], ci = wi[j * stride];
                re[g + j] = ar + br;
                im[g + j] = ai + bi;
                re[g + j + h] = dr * cr - di * ci;
                im[g + j + h] = dr * ci + di * cr;
            }
    }
}

// Its inverse, unscaled: decimation in time.
void small_inverse(const FftPlan& p, double* re, double* im) {
    const int n = p.n;
    const double* wr = p.pass[0].lo;
    const double* wi = wr + n / 2;
    for (int len = 2; len <= n; len *= 2) {
        const int h = len / 2, stride = n / len;
        for (int g = 0; g < n; g += len)
            for (int j = 0; j < h; ++j) {
                const double cr = wr[j * stride], ci = wi[j * stride];
                const double xr = re[g + j + h], xi = im[g + j + h];
                const double br = xr * cr + xi * ci, bi = xi * cr - xr * ci;
                const double ar = re[g + j], ai = im[g + j];
                re[g + j] = ar + br;
                im[g + j] = ai + bi;
                re[g + j + h] = ar - br;
                im[g + j + h] = ai - bi;
            }
    }
}

// Between natural arrays and the spectrum layout of a length below 64.
void small_put(int n, const double* re, const double* im, double* spectrum) {
    const int block = n < 8 ? n : 8;
    for (int q = 0; q < n; ++q) {
        spectrum[q / block * 2 * block + q % block] = re[q];
        spectrum[q / block * 2 * block + q % block + block] = im[q];
    }
}
void small_get(int n, const double* spectrum, double* re, double* im) {
    const int block = n < 8 ? n : 8;
    for (int q = 0; q < n; ++q) {
        re[q] = spectrum[q / block * 2 * block + q % block];
        im[q] = spectrum[q / block * 2 * block + q % block + block];
    }
}

// ------------------------------------------------------- entry points --

// f(words) with the pointer that a holds, of doubles or of 32-bit integers.
template <class F>
void with_words(WordsView a, const F& f) {
    if (a.packed) {
        f(a.packed);
    } else {
        f(a.doubles);
    }
}

// The words a[count..n) are zero and not read; count is n or a multiple of 8.
void forward_words(const FftPlan& p, WordsView words, long count, double* spectrum) {
    const int n = p.n;
    with_words(words, [&](const auto* a) {
        if (n >= 8) {
            with_roots<1>(p.weights, [&](const auto& w) {
                forward(p, spectrum, WeightedWords{a, count / 8, w});
            });
            return;
        }
        const double* w = p.weights.lo;
        double re[8], im[8];
        for (int j = 0; j < n; ++j) {
            re[j] = a[j] * w[j];
            im[j] = a[j] * w[n + j];
        }
        small_forward(p, re, im);
        small_put(n, re, im, spectrum);
    });
}

// n >= 8 only: the split digits are for long products.
void forward_digits(const FftPlan& p, WordsView words, long count, SplitDigit digit,
                    double* spectrum) {
    with_words(words, [&](const auto* a) {
        with_roots<1>(p.weights, [&](const auto& w) {
            forward(p, spectrum, WeightedDigits{a, count / 8, w, digit});
        });
    });
}

double inverse_words(const FftPlan& p, double* spectrum, double* z) {
    const int n = p.n;
    const double scale = 1.0 / n;
    z[0] = 0.0;
    if (n >= 8) {
        V err[Chunks];
        for (V& e : err) e = splat(0.0);
        with_roots<1>(p.weights, [&](const auto& w) {
            inverse(p, spectrum,
                    [&](int i) { return RoundedWords{z, w, n, splat(scale), &err[i]}; });
        });
        double largest_err = 0.0;
        for (const V& e : err) largest_err = dmax(largest_err, largest(e));
        return largest_err;
    }
    double re[8], im[8];
    small_get(n, spectrum, re, im);
    small_inverse(p, re, im);
    double err = 0.0;
    for (int m = 0; m < n; ++m) {
        const double xr = re[m] * scale, xi = im[m] * scale;
        const double wr = p.weights.lo[m], wi = p.weights.lo[n + m];
        const double cr = xr * wr + xi * wi, ci = xi * wr - xr * wi;
        const double rr = round_half_up(cr), ri = round_half_up(ci);
        double dr = rr - cr, di = ri - ci;
        dr = dr < 0 ? -dr : dr;
        di = di < 0 ? -di : di;
        err = err < dr ? dr : err;
        err = err < di ? di : err;
        z[m + 1] = rr;
        if (m < n - 1) z[m + n + 1] = ri;
    }
    return err;
}

void mul(const FftPlan& p, const double* x, const double* y, double* out) {
    const int n = p.n;
    if (n >= 8) {
        for (long b = 0; b < n / 8; ++b) {
            const C u = get(x, b), v = get(y, b);
            put(out, b, {u.re * v.re - u.im * v.im, u.re * v.im + u.im * v.re});
        }
        return;
    }
    for (int q = 0; q < n; ++q) {
        const double ur = x[q], ui = x[q + n], vr = y[q], vi = y[q + n];
        out[q] = ur * vr - ui * vi;
        out[q + n] = ur * vi + ui * vr;
    }
}

void mul_add(const FftPlan& p, const double* x, const double* y, double* acc) {
    const int n = p.n;
    if (n >= 8) {
        for (long b = 0; b < n / 8; ++b) {
            const C u = get(x, b), v = get(y, b), s = get(acc, b);
            put(acc, b, {s.re + (u.re * v.re - u.im * v.im), s.im + (u.re * v.im + u.im * v.re)});
        }
        return;
    }
    for (int q = 0; q < n; ++q) {
        const double ur = x[q], ui = x[q + n], vr = y[q], vi = y[q + n];
        acc[q] = acc[q] + (ur * vr - ui * vi);
        acc[q + n] = acc[q + n] + (ur * vi + ui * vr);
    }
}

}  // namespace

extern const FftKernels kernels = {forward_words, forward_digits, inverse_words, mul, mul_add};

}  // namespace DRMPI_FFT_NS
}  // namespace drmpi
