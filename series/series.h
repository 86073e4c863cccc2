// Series evaluation: the constants of the three Ramanujan-type series, the
// generation of one chunk of terms as exact 8-word integers, and the product
// tree that reduces the chunk to the three integers P, Q and T.
//
// For a run of terms k0..k1 of a series sum_k s(k) (A k + B) a(k), with
// a(k) = a(k-1) p(k)/q(k):
//   P = prod_{k=k0..k1} p(k+1),   Q = prod_{k=k0..k1} q(k),
//   T = sum_{j=k0..k1} s(j) (A j + B) prod_{i=k0+1..j} p(i) prod_{i=j+1..k1} q(i),
// and adjacent runs L, R combine into P_L P_R, Q_L Q_R and P_L T_R + Q_R T_L.
// The tail S(k0) of the series from k0 on, scaled by 1/(a(k0) q(k0)), obeys
// S(k0) = (T + P S(k1 + 1)) / Q.
#pragma once

#include <cstdint>

namespace drmpi {

// The polynomial a*x + b.
struct LinearFactor {
    int a;
    int b;
};

struct SeriesFormula {
    LinearFactor numerator[3];    // product is p(x)
    LinearFactor denominator[6];  // product is q(x)
    double slope;                 // A
    double intercept;             // B
    bool alternating;             // term k carries (-1)^k
};

// Indexed by the 0-based series ID: 0 Chudnovsky, 1 Fast-Ramanujan, 2 Free-Sqrt.
inline constexpr SeriesFormula SeriesTable[3] = {
    {{{2, -1}, {6, -5}, {6, -1}},
     {{3, 0}, {3, 0}, {1, 0}, {0, 106720}, {0, 106720}, {0, 106720}},
     545140134.0, 13591409.0, true},
    {{{2, -1}, {4, -3}, {4, -1}},
     {{2, 0}, {1, 0}, {1, 0}, {0, 39204}, {0, 198}, {0, 198}},
     26390.0, 1103.0, false},
    {{{2, -1}, {4, -3}, {4, -1}},
     {{2, 0}, {1, 0}, {1, 0}, {0, 3528}, {0, 3528}, {0, 1}},
     21460.0, 1123.0, true},
};

// Width in words of one term's block.
inline constexpr int TermWords = 8;

// {block, width} := the product of the first count factors at x, in balanced
// words.  Every factor value is a whole number below 2^52 / 50000 in
// magnitude, and the product fits the width.
void linear_product(double* block, double x, const LinearFactor* factors, int width,
                    int count);

// The numbers of a DRM step of FMT size n: p, q and t of n + 1 words each
// (MpNumbers once the step is done), and area, drm_step_area(n) doubles,
// 64-byte aligned, for the spectra and scratch of the merge.  None overlaps
// another.
struct StepArrays {
    double* p;
    double* q;
    double* t;
    double* area;
};

// Doubles of the area of a DRM step of FMT size n, whatever the thread count.
int64_t drm_step_area(int n);

// First phase of a DRM step: for the count terms k = first, first + 1, ...
// writes p(k+1), q(k) and s(k)(A k + B) as 8-word blocks into a.p, a.q and
// a.t from word 1 on.  Word 0 of the arrays is not touched.  first >= 1.
void drm_terms(int series, int count, double first, const StepArrays& a);

// Merges the first 2*pairs adjacent width-w blocks of a.p, a.q, a.t into
// pairs blocks of width 2w (none for pairs = 0).  Returns the largest
// rounding error of its 3*pairs products: P_L P_R, Q_L Q_R, and P_L T_R +
// Q_R T_L formed as one.
double merge_level(int w, int pairs, const StepArrays& a);

// One DRM step over the chunk of count terms from `first` on, 1 <= count <=
// n/8 (n the FMT size, a power of two, at least 8): leaves the MpNumbers P, Q
// and T of the chunk in a.p, a.q and a.t (words 0..n), and returns the
// largest rounding error of its count - 1 merges.  The work is shared among
// the threads; the result is the same whatever their number.
double drm_step(int series, int n, double first, int count, const StepArrays& a);

}  // namespace drmpi
