// Term generation: each term of a chunk becomes three exact 8-word integers.
// Every term value stays below 10^32, so the leading word of every block is 0
// and every intermediate word (a balanced word times a factor of at most
// 545140134) stays far below 2^53.
#include "mp/mp.h"
#include "series/series.h"

namespace drmpi {

double TermIndex = 1.0;

void linear_product(double* block, double x, const LinearFactor* factors, int width,
                    int count) {
    mp_fill(0, block, width);
    block[width - 1] = 1.0;
    for (int i = 0; i < count; ++i) {
        vec_scale(block, factors[i].a * x + factors[i].b, width);
    }
}

void drm_terms(int series, int n) {
    const SeriesFormula& f = SeriesTable[series];
    const int last = TermWords - 1;
    const int terms = n / TermWords;
    for (int j = 0; j < terms; ++j) {
        const int pos = 1 + j * TermWords;
        const double k = TermIndex;
        linear_product(ArrayP + pos, k + 1.0, f.numerator, TermWords, 3);
        linear_product(ArrayQ + pos, k, f.denominator, TermWords, 6);

        double* t = ArrayT + pos;
        mp_fill(0, t, TermWords);
        t[last] = k;
        mp_normalize(t, TermWords);
        vec_scale(t, f.slope, TermWords);
        t[last] += f.intercept;
        mp_normalize(t, TermWords);
        // (-1)^k: the parity of a whole k below 2^31.
        const bool negative = f.alternating && (static_cast<int32_t>(k) & 1) != 0;
        vec_scale(t, negative ? -1.0 : 1.0, TermWords);
        mp_normalize(t, TermWords);

        TermIndex = k + 1.0;
    }
}

}  // namespace drmpi
