// The DRM driver: step count, the fold of every chunk into the running sum,
// and the final assembly of pi.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "driver/driver.h"
#include "mp/mp.h"
#include "series/series.h"

namespace drmpi {

double MaxError = 0.0;

namespace {

const auto ProgramStart = std::chrono::steady_clock::now();

}  // namespace

int clock_ms() {
    const auto elapsed = std::chrono::steady_clock::now() - ProgramStart;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int drm_step_count(int series, int word_count, int fmt_size, int digits_per_word) {
    // The terms needed, word_count * 5 / log10(base), over the n/8 terms of a
    // step, plus one: the steps always cover more terms than needed.
    const double terms = digits_per_word * 8.0 * word_count *
                         (std::log(10.0) / std::log(ConvergenceBase[series]));
    return static_cast<int32_t>(terms / fmt_size + 1.0);
}

void drm_sum(int series, int n, int steps) {
    const int per_step = n / TermWords;
    double product_error = 0.0;
    for (int i = 1; i <= steps; ++i) {
        TermIndex = static_cast<double>(steps - i) * per_step + 1.0;
        const int step_time = clock_ms();
        MaxError = dmax(MaxError, drm_step(series, n));
        if (i == 1) {
            // A zero n words below every T: the first fold yields T itself.
            mp_set_small(0, ArrayB, n);
            ArrayB[0] = -n;
        } else {
            product_error = mp_mul(ArrayP, ArraySum, ArrayB, n, FftWork);
        }
        mp_add(ArrayT, ArrayB, ArrayA, n, +1);
        const double quotient_error = mp_divide(ArrayA, ArrayQ, ArraySum, n, ArrayB, FftWork);
        MaxError = dmax3(MaxError, quotient_error, product_error);
        console("  DRM Step=%3d,  Time=%8.2f (s)\n", i, (clock_ms() - step_time) / 1000.0);
    }
}

void compute_pi(int series, int n) {
    const int* f = PiFactorTable[series];
    double root_error = 0.0;
    if (f[2] == 1) {
        mp_set_small(1, ArrayA, n);
    } else {
        root_error = mp_sqrt_int(f[2], ArrayA, n, +1, ArrayB, FftWork);
    }
    mp_mul_int(ArrayA, f[0], ArrayP, n);
    mp_mul_int(ArrayP, f[1], ArrayQ, n);  // numerator f0 f1 sqrt(f2)
    // f4 may exceed Radix (13591409); it stands whole in d1, which mp_add
    // keeps, and the product by f3 brings it back into range.
    mp_set_small(f[4], ArrayP, n);
    mp_mul_int(ArraySum, f[5], ArrayT, n);
    mp_add(ArrayP, ArrayT, ArrayA, n, +1);
    mp_mul_int(ArrayA, f[3], ArrayT, n);  // denominator f3 (f4 + f5 S)
    const double quotient_error = mp_divide(ArrayQ, ArrayT, ArraySum, n, ArrayB, FftWork);
    MaxError = dmax3(MaxError, root_error, quotient_error);
}

}  // namespace drmpi
