// Term generation: each term of a chunk becomes three exact 8-word integers,
// in balanced words below the leading one.  Every term value stays below
// 10^40 (q(k) < 6.5e39 at the largest k that a run reaches), and every
// intermediate word, a balanced word times at most ScaleMax, below 2^53.
#include <cmath>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

namespace {

// Products of the factors stay in 64-bit integers while below this: within
// 2^61 whatever the rounding of their estimate in doubles, where set_words
// is exact.
constexpr double IntegerMax = 1152921504606846976.0;  // 2^60

// {block, width} := v in balanced words (the canonical form that
// mp_normalize gives), |v| < 2^61 and fitting the width.
void set_words(double* block, int width, int64_t v) {
    int i = width - 1;
    for (; i >= 0 && v != 0; --i) {
        int64_t r;
        v = split_word(v, static_cast<int64_t>(Radix) / 2, &r);
        block[i] = static_cast<double>(r);
    }
    for (; i >= 0; --i) block[i] = 0.0;
}

}  // namespace

void linear_product(double* block, double x, const LinearFactor* factors, int width,
                    int count) {
    // The first factors multiply in 64-bit integers while the product stays
    // below IntegerMax, which gives the words at once.  The rest are gathered
    // into one multiplier while it stays within ScaleMax, so that a balanced
    // word times it stays within 2^52, where the carries are exact: no
    // scaling pass at all for the factors of a short run.
    constexpr double ScaleMax = 4503599627370496.0 / (Radix / 2);  // 2^52 / 50000
    int64_t v = 1;
    int i = 0;
    for (; i < count; ++i) {
        const double f = factors[i].a * x + factors[i].b;
        if (std::fabs(static_cast<double>(v) * f) >= IntegerMax) break;
        v *= static_cast<int64_t>(f);
    }
    set_words(block, width, v);
    double m = 1.0;
    for (; i < count; ++i) {
        const double f = factors[i].a * x + factors[i].b;
        if (std::fabs(m * f) > ScaleMax) {
            vec_scale(block, m, width);
            m = 1.0;
        }
        m *= f;
    }
    if (m != 1.0) vec_scale(block, m, width);
}

namespace {

// The terms j0 .. j1 - 1 of the chunk, term j being k = first + j.
void terms(const SeriesFormula& f, double first, int j0, int j1, const StepArrays& a) {
    for (int j = j0; j < j1; ++j) {
        const int pos = 1 + j * TermWords;
        const double k = first + j;
        linear_product(a.p + pos, k + 1.0, f.numerator, TermWords, 3);
        linear_product(a.q + pos, k, f.denominator, TermWords, 6);

        // t = s (A k + B), s = (-1)^k for an alternating series: whole, and
        // below 2^60 for every reachable k (A k < 2^30 2^31).
        const bool negative = f.alternating && (static_cast<int32_t>(k) & 1) != 0;
        const int64_t t = static_cast<int64_t>(f.slope) * static_cast<int64_t>(k) +
                          static_cast<int64_t>(f.intercept);
        set_words(a.t + pos, TermWords, negative ? -t : t);
    }
}

}  // namespace

void drm_terms(int series, int count, double first, const StepArrays& a) {
    const SeriesFormula& f = SeriesTable[series];
    // Pieces of 1024 terms, a few for every thread.
    const int pieces = (count + 1023) / 1024;
    parallel_for(pieces, [&](int i, int) {
        terms(f, first, i * 1024, imin(count, (i + 1) * 1024), a);
    });
}

}  // namespace drmpi
