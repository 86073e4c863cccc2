// The transform layer: right-angle weighted complex FFTs of whole words, their
// plans and shared root tables, and the dispatch among the kernels compiled
// for each instruction set (plan.cpp, kernel.cpp; the layout of the tables and
// spectra and the pass schedule are private to the layer, in kernel.h).
//
// Plans, forward and inverse transforms and pointwise products for lengths n a
// power of two, 1 <= n <= 2^27, or three times one, 24 <= n <= 3 * 2^26
// (fft_length), which lets a run pay for its words rather than for the next
// power of two.  Twiddles are w = exp(-2 pi i/n) in the forward
// direction, and the right-angle weight is theta = exp(+i pi/(2n)).
//
// A spectrum of length n is 2n doubles, 64-byte aligned, owned by the caller;
// the layout and the order of its points are private to the kernel.  The
// forward transform leaves the points in an order that the pointwise steps and
// the inverse agree on.
//
// Every root of unity in the tables is rounded from its cos and sin in long
// double, once per process: a pass over 2^l points uses one table whatever the
// length, and the tables of the long transforms hold about the square root of
// their entries (two factors each, see kernel.h), so that all the plans up
// to length n take a small fraction of n doubles.  The transforms allocate
// nothing.  Each instruction set (FftIsa) runs the same IEEE
// operations in the same order, so every path gives the same spectra, words
// and errors bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "mp/mp.h"

namespace drmpi {

// The longest transform of a power of two, 2^FftMaxLog2 points; three times a
// power of two reaches 3 * 2^(FftMaxLog2 - 1).
inline constexpr int FftMaxLog2 = 27;

// Whether n is a length of the transforms: 2^k <= 2^FftMaxLog2, or 3 * 2^k with
// 8 <= 2^k < 2^FftMaxLog2.
bool fft_length(int n);

struct FftPlan;  // tables for one length; opaque outside the kernel

// The instruction sets a kernel is compiled for.
enum class FftIsa { generic, avx2, avx512 };

// Whether this processor runs the kernel compiled for isa.
bool fft_isa_available(FftIsa isa);

// The path of fft_plan(n): the one named by the environment variable DRMPI_ISA
// (generic, avx2 or avx512) when this processor runs it, else the widest it runs.
FftIsa fft_default_isa();

// The plan for length n on the default path, built on first use with the
// tables it needs that no other plan has built, and kept for the life of the
// process.  Thread-safe; after creation a lookup takes no lock.  Throws
// std::bad_alloc when the memory for the tables is not there.
const FftPlan& fft_plan(int n);

// The tables of the plans of fft_prepare(n) for these n are built into the
// program: made at build time by this code, and mapped from the program's
// file rather than computed into fresh memory.  They are those of the
// dialogue's runs up to 10^5 digits (2^15) and of the command line's (3 * 2^13).
inline constexpr int FftBuiltInSizes[] = {1 << 15, 3 << 13};

// The longest length 3 * 2^k among the built-in tables: products of a run of
// any length may be made at the lengths 3 * 2^k up to it, where their factors
// leave room, from tables that the program holds.
inline constexpr int FftBuiltInThreeMax = FftBuiltInSizes[1];

// Builds the plans of every length up to n on the default path, and of the
// lengths 3 * 2^k up to n when n is one, else up to 3n/4 and
// FftBuiltInThreeMax: what a run of length n would otherwise build one
// length at a time, mid-run, where a failure would come after its header.
// The tables are the same either way, and small (fft_plans_bytes: 12 MB up to
// 2^25, built in some 20 ms).  Throws std::bad_alloc when the memory is not
// there; the plans built stay.
void fft_prepare(int n);

// Those tables as this process makes them, in the order and layout that the
// program holds them in: what the build writes into the program (fft/embed.cpp),
// and what the tests compare the program's with.
std::vector<double> fft_built_in_tables();

// Bytes of the tables of the plans that fft_prepare(n) builds, in whole
// 64-byte lines on the heap, and of the cos and sin that it caches while it
// builds them (up to 2 MB), and of all the built-in tables where it reads any
// (which the system may map whole): what it takes at most in a process that
// has built no plan yet.
int64_t fft_plans_bytes(int n);

// The plan for length n on the path isa, which must be available.  Plans of one
// length share their tables whatever the path.
const FftPlan& fft_plan(int n, FftIsa isa);

// {spectrum} := F(k) = sum_{j<n} a[j] theta^j w^(jk), k < n, for the n real whole
// words {a, n}, of which the first count are given and the rest are zero and
// not read: count = n (or 0, for all n), or a multiple of 8 below n.  a is not
// in spectrum.
void fft_forward_words(const FftPlan& p, WordsView a, double* spectrum, int count = 0);

// The two digits of a split word w = h SplitBase + l: h the whole number
// nearest to w / SplitBase, and l.
enum class SplitDigit { High, Low };

// fft_forward_words of the high or the low digits of the words.  n >= 8.
void fft_forward_digits(const FftPlan& p, WordsView a, SplitDigit digit, double* spectrum,
                        int count = 0);

// Pointwise out := x * y on spectra of plan p; out may coincide with x or y.
void fft_mul(const FftPlan& p, const double* x, const double* y, double* out);

// Pointwise acc := acc + x * y (the product rounded, then the sum); acc overlaps
// neither x nor y.
void fft_mul_add(const FftPlan& p, const double* x, const double* y, double* acc);

// c_m := theta^(-m) * (inverse transform of spectrum)[m], m < n, the inverse
// including the division by n; then the 2n product words before carrying:
// z[0] := 0, z[m+1] := round(Re c_m) for m < n, z[m+n+1] := round(Im c_m) for
// m < n-1, round(v) = floor(v + 0.5).  Returns the largest |round(v) - v| over
// the real and imaginary parts of every c_m (Im c_(n-1) included).  spectrum is
// destroyed; z overlaps nothing.  The words can reach n * 2.5e9 in magnitude.
double fft_inverse_words(const FftPlan& p, double* spectrum, double* z);

}  // namespace drmpi
