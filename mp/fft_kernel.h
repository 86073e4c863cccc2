// Private to the FFT kernel (fft_plan.cpp and the per-instruction-set copies of
// fft_kernel.cpp): the plan's tables and the table of kernel entry points.
//
// Spectrum layout.  For n >= 8 the points are kept in blocks of eight, each
// block 16 doubles: the eight real parts, then the eight imaginary parts; for
// n < 8 the n real parts precede the n imaginary parts.  A position p lies at
// (p / B) * 2B + p % B (real part) and B further on (imaginary part), B = min(n, 8).
//
// Order of the points.  For n >= 8 the forward transform is a decimation in
// frequency: an optional radix-2 pass (when log2 n is odd) and radix-4 passes
// over ever smaller contiguous sub-transforms down to leaves of 64 points (n >=
// 64) or 8 points (n < 64).  A pass over a sub-transform of N points sends the
// frequencies k = r (mod R), R = 2 or 4, to its r-th part.  A 64-point leaf
// holds its frequencies in natural order, an 8-point leaf (one block) frequency
// k in lane bitreverse(k) of three bits.  For n < 8 the transform is a plain
// radix-2 decimation in frequency and position p holds frequency bitreverse(p).
#pragma once

#include "mp/mp.h"

namespace drmpi {

inline constexpr int FftMaxLog2 = 27;

struct FftKernels {
    void (*forward_words)(const FftPlan& p, const double* a, double* spectrum);
    void (*forward_digits)(const FftPlan& p, const double* a, SplitDigit digit, double* spectrum);
    double (*inverse_words)(const FftPlan& p, double* spectrum, double* z);
    void (*mul)(const FftPlan& p, const double* x, const double* y, double* out);
    void (*mul_add)(const FftPlan& p, const double* x, const double* y, double* acc);
};

// All tables are 64-byte aligned and shared by the plans of one length.
//   n >= 8:
//     weights      n/8 blocks: cos, then sin, of (pi/(2n)) j, j = 8 * block + lane
//     pass[l]      for the pass over 2^l points, N = 2^l, w = exp(-2 pi i/N):
//                  radix 4: per block of eight j < N/4, the real then imaginary
//                  parts of w^j, w^2j, w^3j (48 doubles); radix 2: of w^j (16)
//     leaf         64-point leaves: for k1 = 1..7, the real then imaginary parts
//                  of exp(-2 pi i l k1/64), l = 0..7, then those of exp(-i pi/4)
//                  in every lane (8 * 16 doubles);
//                  8-point leaves: the twiddles of the lane stages S = 4 and 2,
//                  exp(-2 pi i (l mod S)/(2S)) in the lanes l with l & S set,
//                  1 in the others (2 * 16 doubles)
//   n < 8:
//     weights      cos (pi/(2n)) j for j < n, then the n sines
//     pass[0]      w^j, w = exp(-2 pi i/n), j < n/2: the n/2 real parts, then
//                  the n/2 imaginary parts
struct FftPlan {
    int n;
    int log2n;
    const FftKernels* kernels;
    const double* weights;
    const double* pass[FftMaxLog2 + 1];
    const double* leaf;
};

namespace fft_generic { extern const FftKernels kernels; }
namespace fft_avx2 { extern const FftKernels kernels; }
namespace fft_avx512 { extern const FftKernels kernels; }

}  // namespace drmpi
