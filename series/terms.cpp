// Term generation: each term of a chunk becomes three exact 8-word integers.
// Every term value stays below 10^32, so the leading word of every block is 0
// and every intermediate word (a balanced word times a factor of at most
// 545140134) stays far below 2^53.
#include <cmath>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

void linear_product(double* block, double x, const LinearFactor* factors, int width,
                    int count) {
    // Factors are gathered into one multiplier while it stays within
    // ScaleMax, so that a balanced word times it stays within 2^52, where the
    // carries are exact: one scaling pass for two or three factors of a short
    // run.
    constexpr double ScaleMax = 4503599627370496.0 / (Radix / 2);  // 2^52 / 50000
    mp_fill(0, block, width);
    block[width - 1] = 1.0;
    double m = 1.0;
    for (int i = 0; i < count; ++i) {
        const double f = factors[i].a * x + factors[i].b;
        if (std::fabs(m * f) > ScaleMax) {
            vec_scale(block, m, width);
            m = 1.0;
        }
        m *= f;
    }
    vec_scale(block, m, width);
}

namespace {

// The terms j0 .. j1 - 1 of the chunk, term j being k = first + j.
void terms(const SeriesFormula& f, double first, int j0, int j1, const StepArrays& a) {
    const int last = TermWords - 1;
    for (int j = j0; j < j1; ++j) {
        const int pos = 1 + j * TermWords;
        const double k = first + j;
        linear_product(a.p + pos, k + 1.0, f.numerator, TermWords, 3);
        linear_product(a.q + pos, k, f.denominator, TermWords, 6);

        // t = s (A k + B), s = (-1)^k for an alternating series: k in words
        // first, since A k may pass 2^53, then the sign with A and B.
        const bool negative = f.alternating && (static_cast<int32_t>(k) & 1) != 0;
        const double s = negative ? -1.0 : 1.0;
        double* t = a.t + pos;
        mp_fill(0, t, TermWords);
        t[last] = k;
        mp_normalize(t, TermWords);
        vec_scale(t, s * f.slope, TermWords);
        t[last] += s * f.intercept;
        mp_normalize(t, TermWords);
    }
}

}  // namespace

void drm_terms(int series, int n, double first, const StepArrays& a) {
    const SeriesFormula& f = SeriesTable[series];
    const int count = n / TermWords;
    // Pieces of 1024 terms, a few for every thread.
    const int pieces = (count + 1023) / 1024;
    parallel_for(pieces, [&](int i, int) {
        terms(f, first, i * 1024, imin(count, (i + 1) * 1024), a);
    });
}

}  // namespace drmpi
