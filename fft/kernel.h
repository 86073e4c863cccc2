// Private to the transform layer (plan.cpp and the per-instruction-set copies of
// kernel.cpp): the plan's tables, their layout and the pass schedule, which
// the builder and the kernel both follow, and the table of kernel entry points.
//
// Spectrum layout.  For n >= 8 the points are kept in blocks of eight, each
// block 16 doubles: the eight real parts, then the eight imaginary parts; for
// n < 8 the n real parts precede the n imaginary parts.  A position p lies at
// (p / B) * 2B + p % B (real part) and B further on (imaginary part), B = min(n, 8).
//
// Order of the points.  For n = 3 * 2^k the forward transform first makes a
// radix-3 pass over all n points: third r of the spectrum (2^k points,
// contiguous) receives the frequencies k = r (mod 3), times w^(rj), w =
// exp(-2 pi i/n), and is then transformed as a length of 2^k.  For n = 2^k >= 8
// the forward transform is a decimation in
// frequency: an optional radix-2 pass (fft_top_radix2) and radix-4 passes
// over ever smaller contiguous sub-transforms down to leaves of 64 points (n >=
// 64) or 8 points (n < 64).  A pass over a sub-transform of N points sends the
// frequencies k = r (mod R), R = 2 or 4, to its r-th part.  A 64-point leaf
// holds its frequencies in natural order, an 8-point leaf (one block) frequency
// k in lane bitreverse(k) of three bits.  For n < 8 the transform is a plain
// radix-2 decimation in frequency and position p holds frequency bitreverse(p).
#pragma once

#include "fft/fft.h"

namespace drmpi {

// ---------------------------------------------------------- pass schedule --

// log2 of the leaves of a transform of 2^lg >= 8 points: 64 points from 64
// on, else a single block of eight.
inline constexpr int fft_leaf_log2(int lg) { return lg >= 6 ? 6 : 3; }

// Whether the transform of 2^lg >= 8 points starts with a radix-2 pass over
// all its points; every other pass is radix 4, over 2^l points for l = lg,
// lg - 2, ... (or lg - 1, lg - 3, ... after the radix-2 pass) down to the
// leaves.
inline constexpr bool fft_top_radix2(int lg) { return (lg - fft_leaf_log2(lg)) % 2 == 1; }

// ------------------------------------------------------------ table layout --

// A block of eight complex values: the eight real parts, then the eight
// imaginary parts.
inline constexpr int FftBlock = 16;

// Roots: the powers z^(rk), r = 1 .. P, k < count, of one root of unity z, with
// k = 8b + lane in blocks of eight.  Either whole (hi null): value r of block b
// is the block at lo + fft_roots_block(b, r, P).  Or split in groups of 2^shift
// blocks, b = (g << shift) + c: value r of block b is H (1 + D), H =
// z^(8 r g 2^shift) as the sum of two doubles at hi + fft_roots_group(g, r, P)
// (real part, imaginary part, then the remainders of each), and D the block
// of z^(r (8c + lane)) - 1 at lo + fft_roots_block(c, r, P).  A split table
// holds about sqrt(count) values where a whole one holds count; since H is
// carried to twice the precision and D is small, H + H D rounds to the value
// with little more than the one rounding of a whole table's entry.
//
// The plans use four kinds, each value rounded from the exact root:
//   weights of n >= 8      z = theta = exp(i pi/(2n)), P = 1, count n
//   radix-4 pass over N    z = w = exp(-2 pi i/N), P = 3, count N/4
//   radix-2 pass over N    z = w, P = 1, count N/2
//   radix-3 pass over N    z = w, P = 2, count N/3
struct FftRoots {
    const double* lo = nullptr;
    const double* hi = nullptr;
    int shift = 0;
};

inline constexpr long fft_roots_block(long b, int r, int powers) {
    return (powers * b + r - 1) * FftBlock;
}
inline constexpr long fft_roots_group(long g, int r, int powers) { return 4 * (powers * g + r - 1); }

// The 64-point leaf: the roots exp(-2 pi i l k1/64) in lane l for k1 = 1..7
// (block fft_roots_block(0, k1, 7)), then cos(pi/4) in every lane.
inline constexpr int FftLeafPowers = 7;
inline constexpr int FftLeafHalf = FftLeafPowers * FftBlock;
inline constexpr int FftLeafDoubles = FftLeafHalf + 8;

// The 8-point leaf: for the lane stages S = 4 and 2, exp(-2 pi i (l mod S)/(2S))
// in the lanes l with l & S set, 1 in the others, in the block at
// fft_lane_stage(S).
inline constexpr int fft_lane_stage(int s) { return s == 4 ? 0 : FftBlock; }
inline constexpr int FftLanesDoubles = 2 * FftBlock;

// ----------------------------------------------------------------- plans --

struct FftKernels {
    void (*forward_words)(const FftPlan& p, WordsView a, long count, double* spectrum);
    void (*forward_digits)(const FftPlan& p, WordsView a, long count, SplitDigit digit,
                           double* spectrum);
    double (*inverse_words)(const FftPlan& p, double* spectrum, double* z);
    void (*mul)(const FftPlan& p, const double* x, const double* y, double* out);
    void (*mul_add)(const FftPlan& p, const double* x, const double* y, double* acc);
};

// A plan points into tables that plan.cpp owns for the life of the
// process, 64-byte aligned; the pass tables of 2^l points and the leaves are
// shared by every length, the weights by the paths of one length.  A length
// n = 3 * 2^log2n (three) has the tables of 2^log2n but its own weights, and
// the roots of its radix-3 pass in third.
//   n >= 8:
//     weights      the weights of n (FftRoots)
//     pass[l]      the roots of the pass over 2^l points that the schedule
//                  makes, radix 2 or 4 (FftRoots)
//     leaf         the 64-point leaf (n >= 64) or the 8-point one
//   n < 8:
//     weights.lo   cos (pi/(2n)) j for j < n, then the n sines
//     pass[0].lo   w^j, w = exp(-2 pi i/n), j < n/2: the n/2 real parts, then
//                  the n/2 imaginary parts
struct FftPlan {
    int n;
    int log2n;   // n = 2^log2n, or 3 * 2^log2n when three
    bool three;
    const FftKernels* kernels;
    FftRoots weights;
    FftRoots third;
    FftRoots pass[FftMaxLog2 + 1];
    const double* leaf;
};

namespace fft_generic { extern const FftKernels kernels; }
namespace fft_avx2 { extern const FftKernels kernels; }
namespace fft_avx512 { extern const FftKernels kernels; }

}  // namespace drmpi
