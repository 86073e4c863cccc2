// The DRM driver: the storage of a run, the step count, the fold of every
// chunk into the running sum, and the final assembly of pi.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>

#include "driver/drm.h"
#include "driver/report.h"
#include "mp/check.h"
#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

namespace {

const auto ProgramStart = std::chrono::steady_clock::now();

// n + 1 words and more, to a multiple of eight doubles (64 bytes).
int64_t rounded(int64_t words) { return round_up8(words + 1); }

// The area of a fold: the spectrum of one factor, over which the product's
// 2n + 1 words are written, then the work of the product, which starts with
// the other factor's spectrum as its accumulator and ends with the rest that
// only a product made again from digits touches.  The Newton operations of
// the final assembly and its last product lay it out alike, and the merges'
// spectra come first too, so that all of them touch the same pages.
int64_t spectra_at(int n) { return 2 * rounded(n); }
int64_t fold_size(int n) { return spectra_at(n) + fft_product_work(n); }

int64_t area_size(int n) { return std::max(drm_step_area(step_width(n)), fold_size(n)); }

// The doubles of P, Q and T, of D and N, and of the three together.
int64_t step_number(int n) { return rounded(step_width(n)); }
int64_t numbers_size(int n) { return 3 * step_number(n) + 2 * rounded(n); }

// The doubles from the start of a workspace that a run touches: all but the
// rest of a long product's work at the end of the fold's area, which only a
// product made again from digits touches.
int64_t touched_size(int n) {
    const int64_t rest = fft_product_work(n) - fft_spectrum_size(n);
    return numbers_size(n) + std::max(drm_step_area(step_width(n)), fold_size(n) - rest);
}

}  // namespace

int64_t Workspace::doubles(int n) { return numbers_size(n) + area_size(n); }

Workspace::Workspace(int size) : n(size), storage_(allocate_doubles(doubles(size))) {
    DRMPI_ASSERT(n >= 8 && newton_length(n));
    double* next = storage_.get();
    for (double** x : {&q, &p, &t, &a, &sum}) {
        *x = next;
        next += x == &a || x == &sum ? rounded(n) : step_number(n);
    }
    area = next;
    // Q, P and T, one after the other, hold two numbers of n words once the
    // series is summed (compute_pi), and P and T one once a fold has spent
    // them; the area holds a Newton operation's spectra.
    DRMPI_ASSERT(2 * rounded(n) <= 3 * step_number(n) && 2 * step_number(n) > n &&
                 newton_spectra_size(n) <= area_size(n));
    fault_in(storage_.get(), touched_size(n));
}

void Workspace::release_all_but_sum() const {
    release(storage_.get(), sum - storage_.get());
    release(sum + rounded(n), storage_.get() + doubles(n) - (sum + rounded(n)));
}

int clock_ms() {
    const auto elapsed = std::chrono::steady_clock::now() - ProgramStart;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int drm_step_count(int series, int word_count, int fmt_size) {
    // The terms needed, word_count * 5 / log10(base), over the terms of a
    // step, plus one: the steps always cover more terms than needed.
    const double terms = DigitsPerWord * 8.0 * word_count *
                         (std::log(10.0) / std::log(ConvergenceBase[series]));
    return static_cast<int32_t>(terms / step_width(fmt_size) + 1.0);
}

namespace {

// The fold of one chunk, whose P, Q and T (of step_width(n) words) are in c,
// into the running fraction N/D (w.sum, w.a): N/D := (T + P N/D) / Q =
// (T D + P N) / (Q D), each of N and D kept to n words; the first chunk's
// fraction is T/Q.  No division: three products, where a quotient costs
// about four.  A product's words lie over the spectrum of N or D, then go to
// the place of a number spent: P N to N's, T D to P's and T's together, Q D
// to D's.  So D is transformed twice, for T D and for Q D: a ninth transform
// where two more numbers of 2n words would be held.  Returns the largest
// rounding error of its products.
double fold(const StepArrays& c, bool first, const Workspace& w) {
    const int n = w.n, width = step_width(n);
    if (first) {
        for (const auto& [from, to] : {std::pair{c.t, w.sum}, std::pair{c.q, w.a}}) {
            mp_copy(from, to, width + 1);
            mp_fill(0, to + width + 1, n - width);
        }
        return 0.0;
    }
    // The spectrum of P, T or Q is the product's accumulator; that of N or D
    // lies in z, where the product's words take its place.
    double* const z = w.area;
    double* const sx = w.area + spectra_at(n);
    double err = 0.0;
    for (const auto& [x, y, out] : {std::tuple{w.sum, c.p, w.sum}, std::tuple{w.a, c.t, c.p},
                                    std::tuple{w.a, c.q, w.a}}) {
        fft_spectrum(x + 1, n, z);
        fft_spectrum(y + 1, n, sx, width);
        err = dmax(err, mp_product(x, z, y, sx, n, z, sx, width));
        mp_copy(z, out, n + 1);
    }
    mp_add(c.p, w.sum, z, n, Sign::Plus);
    mp_copy(z, w.sum, n + 1);
    return err;
}

}  // namespace

double drm_sum(int series, int steps, const Workspace& w, Report& report) {
    const int n = w.n, width = step_width(n);
    const int per_step = width / TermWords;
    double err = 0.0;
    for (int i = 1; i <= steps; ++i) {
        const int step_time = clock_ms();
        err = dmax(err, drm_step(series, width, static_cast<double>(steps - i) * per_step + 1.0,
                                 w.step()));
        report.merged();
        err = dmax(err, fold(w.step(), i == 1, w));
        report.folded();
        report.step(i, (clock_ms() - step_time) / 1000.0);
    }
    return err;
}

double compute_pi(int series, const Workspace& w) {
    const int n = w.n;
    const int* f = PiFactorTable[series];
    // pi = f0 f1 sqrt(f2) D / (f3 (f4 D + f5 N)): D over the denominator into
    // w.a, then the numerator into w.sum, each made in Q's place (r), no
    // longer needed, with the next n words (u) for the residual of its Newton
    // operation and the area for its spectra.
    double* const r = w.q;
    double* const u = w.q + rounded(n);
    const NewtonTemp temp{w.area, u};
    // f3 (f4 D + f5 N) into w.sum, by way of r and u, and D over it.
    mp_mul_int(w.sum, f[5], w.sum, n);
    mp_mul_int(w.a, f[4], r, n);
    mp_add(r, w.sum, u, n, Sign::Plus);
    mp_mul_int(u, f[3], w.sum, n);
    double err = mp_divide(w.a, w.sum, r, n, temp);
    mp_copy(r, w.a, n + 1);
    // the numerator f0 f1 sqrt(f2)
    if (f[2] == 1) {
        mp_set_small(1, r, n);
    } else {
        err = dmax(err, mp_sqrt_int(f[2], r, n, Root::Sqrt, temp));
    }
    mp_mul_int(r, f[0], r, n);
    mp_mul_int(r, f[1], w.sum, n);
    // pi := the numerator times D over the denominator, to n words, laid out
    // as a fold's product.
    double* const sx = w.area + spectra_at(n);
    fft_spectrum(w.sum + 1, n, w.area);
    fft_spectrum(w.a + 1, n, sx);
    err = dmax(err, mp_product(w.sum, w.area, w.a, sx, n, w.area, sx));
    mp_copy(w.area, w.sum, n + 1);
    return err;
}

}  // namespace drmpi
