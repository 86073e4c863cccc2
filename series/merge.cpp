// The product tree of a chunk: neighbouring blocks are merged pairwise, level
// by level, until each of ArrayP, ArrayQ and ArrayT holds one FMT-size integer.
//
// A block covering m terms has 8m words, room for 40m decimal digits, while
// P < 10^(18m), Q < 10^(32m) and |T| < m 10^(14 + 32(m-1)): every product of
// two blocks is a complete integer of twice their width and the sum for T
// never carries out of it.  Operand words are balanced, so each convolution
// sum stays below w * 50000^2 <= 3.3e14 < 2^53.
#include "mp/mp.h"
#include "series/series.h"

namespace drmpi {

double merge_level(int w, int pairs) {
    double err = 0.0;
    double* const lo = ArrayB + 1;          // first product, 2w words
    double* const hi = ArrayB + 2 * w + 1;  // second product, 2w words
    for (int i = 0, b = 1; i < pairs; ++i, b += 2 * w) {
        const int r = b + w;
        // Both products for T read P_L and Q_R, so they come before P and Q
        // are overwritten; T_L and T_R are overwritten only after both exist.
        double e1 = fft_multiply(ArrayP + b, ArrayT + r, lo, w, FftWork);
        double e2 = fft_multiply(ArrayQ + r, ArrayT + b, hi, w, FftWork);
        err = dmax3(err, e1, e2);
        vec_add(lo, hi, ArrayT + b, 2 * w, +1);

        e1 = fft_multiply(ArrayP + b, ArrayP + r, lo, w, FftWork);
        mp_copy(lo, ArrayP + b, 2 * w);
        e2 = fft_multiply(ArrayQ + b, ArrayQ + r, lo, w, FftWork);
        mp_copy(lo, ArrayQ + b, 2 * w);
        err = dmax3(err, e1, e2);
    }
    return err;
}

double drm_step(int series, int n) {
    drm_terms(series, n);

    int pairs = n / (2 * TermWords);
    const int levels = ilog2(2 * pairs);
    double err = 0.0;
    int w = TermWords;
    for (int level = 0; level < levels; ++level) {
        err = dmax(err, merge_level(w, pairs));
        w *= 2;
        pairs /= 2;
    }
    mp_from_words(ArrayP, n);
    mp_from_words(ArrayQ, n);
    mp_from_words(ArrayT, n);
    return err;
}

}  // namespace drmpi
