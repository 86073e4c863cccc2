// Multiple-precision arithmetic on arrays of doubles.
//
// A DigitVector {v, count} is a run of doubles holding whole numbers, most
// significant first, valued as an integer in base Radix:
//     v[0]*Radix^(count-1) + ... + v[count-1].
// Words may be negative and may lie outside [-Radix, Radix] until normalised.
//
// An MpNumber of length n is n + 1 doubles: x[0] is the exponent E (a whole
// number, possibly zero or negative), x[1..n] the digit words d1..dn, and the
// value is the sum of di * Radix^(E - i).  After any producing operation the
// words d2..dn lie in the range selected by CarryMode and d1 is non-zero but
// unreduced: it keeps every carry and may be Radix or more in magnitude.  A
// zero has all digit words zero and an exponent without meaning.
//
// Operations of linear cost read words 0..n of their operands and write words
// 0..n of their result and nothing beyond, so they may run on a prefix of a
// longer number.  Every value is exact while each word stays below 2^53 in
// magnitude; nothing checks this.  Conversions of doubles to integers (quotient
// words, exponent differences) truncate toward zero.
//
// Nothing here allocates: all numbers live in the global work arrays below or
// in other caller-owned storage.
#pragma once

#include <cstdint>

namespace drmpi {

// ---------------------------------------------------------------- globals --

// Capacity of the work arrays in words; the largest FMT size that fits is 2^18.
inline constexpr int ND = 270001;

// Word base, 10^5.  Set by the run set-up; every operation reads it.
extern double Radix;

// Range of the normalised words 1..count-1 of a DigitVector:
// negative: balanced, [-Radix/2, +Radix/2] with both ends included;
// zero or positive: non-negative, [0, Radix - 1].
extern int32_t CarryMode;

// Global work arrays, zero at program start, reused by every phase of a run.
extern double ArrayP[ND + 3];
extern double ArrayQ[ND + 3];
extern double ArrayA[ND + 3];
extern double ArraySum[ND + 3];
extern double ArrayT[ND];
extern double ArrayB[4 * ND];
extern double FftWork[6 * ND + 2];

// ---------------------------------------------- representation (normalize.cpp) --

// Carry normalisation of {v, count} in place, in the mode of CarryMode.  Two
// sweeps from v[count-1] down to v[1]: the first moves the quotient of each
// word by Radix, truncated toward zero, into its more significant neighbour,
// the second brings each word into the mode's range with one borrow or carry.
// v[0] is never reduced and absorbs the carry-out.  The value is unchanged.
// Exact while every word, with the carry it receives, stays below 2^53 in
// magnitude (the quotients are whole numbers in 64 bits, so a product of
// extreme words at the largest length, up to 6.6e14 a word, is carried too).
void mp_normalize(double* v, int count);

// Removes the leading zero digit words of the MpNumber {x, n} (shifting the
// rest up and zeroing the vacated tail) and lowers its exponent by their
// number.  An all-zero number keeps its words and has its exponent lowered by n.
void mp_strip(double* x, int n);

// Turns the n-word integer in x[1..n] (x[n] the units word) into the MpNumber
// of the same value: E := n, then mp_strip.
void mp_from_words(double* x, int n);

// dst[i] := src[i] for i = 0..count-1, in ascending order.
void mp_copy(const double* src, double* dst, int count);

// dst[i] := value for i = 0..count-1.
void mp_fill(int value, double* dst, int count);

// {x, n} := value with exponent 1; words 2..n zero; not normalised, so a value
// of Radix or more stands whole in d1.
void mp_set_small(int value, double* x, int n);

// base^exp in 32-bit arithmetic; 1 for exp <= 0.
int int_pow(int base, int exp);

// a when b <= a, otherwise b: a tie returns a, a NaN in either argument b.
inline double dmax(double a, double b) { return b <= a ? a : b; }

// dmax(dmax(u, v), w).
inline double dmax3(double u, double v, double w) { return dmax(dmax(u, v), w); }

// b when a > b, otherwise a.
inline int imin(int a, int b) { return a > b ? b : a; }

// Whole part of log2(n + 0.5): floor(log2 n) for n >= 1, -1 for n = 0.
int ilog2(int n);

// ------------------------------------------------ linear operations (linear.cpp) --

// {out, count} := {a, count} - {b, count} when sign < 0, else the sum, word
// by word, then normalised.  out may coincide with a or with b.
void vec_add(const double* a, const double* b, double* out, int count, int sign);

// {out, n} := x - y when sign < 0, else x + y, with exponent alignment; the
// words of the smaller-exponent operand that fall below word n are dropped.
// out never coincides with y; it may coincide with x when Ey <= Ex.
void mp_add(const double* x, const double* y, double* out, int n, int sign);

// {out, n} := k - x when sign < 0, else k + x; k is a small integer.
// out is separate from x.
void mp_int_add(int k, const double* x, double* out, int n, int sign);

// {out, n} := x * m, truncated to n words.  out is separate from x.
void mp_mul_int(const double* x, int m, double* out, int n);

// {out, n} := x / m, truncated to n words; m != 0.  out is separate from x.
void mp_div_int(const double* x, int m, double* out, int n);

// {v, count} := {v, count} * s in place, then normalised; s is a whole number.
void vec_scale(double* v, double s, int count);

// ------------------------------------------------- FFT multiplication (fft.cpp) --

// Fills half complex entries (cos phi, sin phi), phi = (half - 1 - j) * sigma,
// sigma = pi/half, negated when direction == 1.  The last entry is (1, 0).
void fft_twiddles(int half, int direction, double* table);

// One radix-2 Stockham pass over n = 2 * span * groups complex points, through
// {scratch, n} complex points, then copied back into data.
void fft_stage(double* data, int span, int groups, const double* table, double* scratch);

// Unweighted transform of the n complex points at data, in place; n a power of
// two.  Forward: F[k] = sum_j x[j] w^((k+1)(j+1)), w = exp(2 pi i/n); the inverse
// (direction == 1) undoes it, including the division by n.  area holds the
// twiddle table at {area, n} and the stage scratch at {area + 2n, 2n}.
void fft_core(double* data, int n, int direction, double* area);

// The transform with right-angle weighting: point j is weighted by
// theta^(n-1-j), theta = exp(i pi/(2n)), before the forward core transform; the
// inverse undoes the weight after the inverse core transform.
void fft_weighted(double* data, int n, int direction, double* area);

// When set, every product passes its rounding error through it and reports
// what it returns: a seam for tests that follow the errors through the
// operations.  The program never sets it.
extern double (*ProductErrorHook)(double error);

// {out, 2n} := {a, n} * {b, n}, exact while every convolution output lies
// within 0.5 of its whole value; normalised, the carry-out in out[0].
// Overlap: a and b may coincide; out overlaps neither, nor {work, 6n}.
// Returns the largest distance of a convolution output from its nearest integer.
double fft_multiply(const double* a, const double* b, double* out, int n, double* work);

// MpNumber {out, 2n} := {x, n} * {y, n}, stripped; x and y may coincide; out
// overlaps neither, nor {work, 6n}.  Returns the rounding error of the product.
double mp_mul(const double* x, const double* y, double* out, int n, double* work);

// ------------------------------------ FFT kernel (fft_plan.cpp, fft_kernel.cpp) --
// Plans, forward and inverse transforms and pointwise products for lengths n a
// power of two, 1 <= n <= 2^27.  Twiddles are w = exp(-2 pi i/n) in the forward
// direction, and the right-angle weight is theta = exp(+i pi/(2n)).
//
// A spectrum of length n is 2n doubles, 64-byte aligned, owned by the caller;
// the layout and the order of its points are private to the kernel.  The
// forward transform leaves the points in an order that the pointwise steps and
// the inverse agree on; fft_spectrum_point finds a frequency in it.
//
// Every entry of a plan's tables comes straight from the cos and sin of its own
// angle (reduced to the first octant by exact symmetries), once per plan.  The
// transforms allocate nothing.  Each instruction set (FftIsa) runs the same IEEE
// operations in the same order, so every path gives the same spectra, words
// and errors bit for bit.

struct FftPlan;  // tables for one length; opaque outside the kernel

// The instruction sets a kernel is compiled for.
enum class FftIsa { generic, avx2, avx512 };

// Whether this processor runs the kernel compiled for isa.
bool fft_isa_available(FftIsa isa);

// The path of fft_plan(n): the one named by the environment variable DRMPI_ISA
// (generic, avx2 or avx512) when this processor runs it, else the widest it runs.
FftIsa fft_default_isa();

// The plan for length n on the default path, built on first use and kept for
// the life of the process.  Thread-safe; after creation a lookup takes no lock.
// Building the plan for n builds nothing for other lengths.
const FftPlan& fft_plan(int n);

// The plan for length n on the path isa, which must be available.  Plans of one
// length share their tables whatever the path.
const FftPlan& fft_plan(int n, FftIsa isa);

// {spec} := F(k) = sum_{j<n} a[j] theta^j w^(jk), k < n, for the n real whole
// words {a, n}.  a is not in spec.
void fft_forward_words(const FftPlan& p, const double* a, double* spec);

// Pointwise out := x * y on spectra of plan p; out may coincide with x or y.
void fft_mul(const FftPlan& p, const double* x, const double* y, double* out);

// Pointwise acc := acc + x * y (the product rounded, then the sum); acc overlaps
// neither x nor y.
void fft_mul_add(const FftPlan& p, const double* x, const double* y, double* acc);

// c_m := theta^(-m) * (inverse transform of spec)[m], m < n, the inverse
// including the division by n; then the 2n product words before carrying:
// z[0] := 0, z[m+1] := round(Re c_m) for m < n, z[m+n+1] := round(Im c_m) for
// m < n-1, round(v) = floor(v + 0.5).  Returns the largest |round(v) - v| over
// the real and imaginary parts of every c_m (Im c_(n-1) included).  spec is
// destroyed; z overlaps nothing.  The words can reach n * 2.5e9 in magnitude.
double fft_inverse_words(const FftPlan& p, double* spec, double* z);

// Unweighted transforms between n natural-order interleaved points (re at [2k],
// im at [2k+1]) and a spectrum: the forward one with the same w as above, the
// inverse including 1/n.  The inverse destroys spec; in and out overlap nothing.
void fft_complex_forward(const FftPlan& p, const double* in, double* spec);
void fft_complex_inverse(const FftPlan& p, double* spec, double* out);

// The value of frequency k, 0 <= k < n, of a spectrum of plan p.
void fft_spectrum_point(const FftPlan& p, const double* spec, int k, double* re, double* im);

// ---------------------------------------------- Newton iterations (newton.cpp) --
// Scratch holds two temporaries of up to 2n digit words at scratch[0..2n] and
// scratch[2n+1..4n+1].  Each operation returns the largest rounding error of
// its products.  n is a power of two, at least 2.
//
// The precision schedule: from a two-word seed, one pass at each working
// length d = 2, 4, ..., n, each adding its correction over the min(n, 2d)
// words that the next pass reads, then a spare pass at n.  The passes before
// the spare one reach about 0.85 n correct words (the seed holds fewer than
// two), and the spare pass brings in the rest.
int newton_pass_count(int n);

// {x, n} := 1/a.  x overlaps neither a, scratch nor work; a is not in scratch.
// passes < newton_pass_count(n) stops the schedule early, for tests of it;
// 0 runs it whole.
double mp_reciprocal(const double* a, double* x, int n, double* scratch, double* work,
                     int passes = 0);

// {out, n} := p/q.  out differs from p, q, scratch and work; p and q are not in
// scratch.
double mp_divide(const double* p, const double* q, double* out, int n,
                 double* scratch, double* work);

// {x, n} := 1/sqrt(m) for flag < 0, sqrt(m) otherwise; m > 0 a small integer.
// x overlaps neither scratch nor work.
double mp_sqrt_int(int m, double* x, int n, int flag, double* scratch, double* work);

}  // namespace drmpi
