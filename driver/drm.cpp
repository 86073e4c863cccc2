// The DRM driver: the storage of a run, the step count, the fold of every
// chunk into the running sum, and the final assembly of pi.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

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

// The area of a fold: a product's 2n + 1 words, then the scratch of a
// product made from two spectra, as mp_mul lays it out (the first spectrum,
// then the second, which is the product's accumulator, then the rest of its
// work).  The final assembly lays it out alike, with the Newton operations'
// spectra where the fold's are; the merges' spectra come first too.  So the
// pages that all of them touch are the same, and the rest of a product's
// work, which only a product made again from digits touches, comes last.
int64_t spectra_at(int n) { return rounded(2 * n); }
int64_t fold_size(int n) { return spectra_at(n) + fft_multiply_work(n); }

int64_t area_size(int n) { return std::max(drm_step_area(step_width(n)), fold_size(n)); }

// The doubles from the start of a workspace that a run touches: all but the
// rest of a long product's work at the end of the fold's area, which only a
// product made again from digits touches.
int64_t touched_size(int n) {
    const int64_t rest = fft_product_work(n) - fft_spectrum_size(n);
    return 5 * rounded(n) + std::max(drm_step_area(step_width(n)), fold_size(n) - rest);
}

}  // namespace

int64_t Workspace::doubles(int n) { return 5 * rounded(n) + area_size(n); }

Workspace::Workspace(int size) : n(size), storage_(allocate_doubles(doubles(size))) {
    DRMPI_ASSERT(n >= 8 && newton_length(n));
    double* next = storage_.get();
    for (double** x : {&p, &q, &t, &a, &sum}) {
        *x = next;
        next += rounded(n);
    }
    area = next;
    // P, Q and T, one after the other, hold the numbers of a Newton operation
    // once the series is summed (compute_pi).
    DRMPI_ASSERT(newton_numbers_size(n) <= 3 * rounded(n));
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

// The fold of one chunk, whose P, Q and T are in c, into the running fraction
// N/D (w.sum, w.a): N/D := (T + P N/D) / Q = (T D + P N) / (Q D), each of N and
// D kept to n words; the first chunk's fraction is T/Q.  No division: three
// products, where a quotient costs about four.  Q D and T D take the place of
// Q and T as they are made, so that one product's words are held at a time.
// Returns the largest rounding error of its products.
double fold(const StepArrays& c, bool first, const Workspace& w) {
    const int n = w.n;
    double* const area = w.area;
    if (first) {
        mp_copy(c.t, w.sum, n + 1);
        mp_copy(c.q, w.a, n + 1);
        return 0.0;
    }
    // D is transformed once for Q D and T D; the spectrum of Q, then of T, is
    // the product's accumulator.
    double* const z = area;
    double* const sd = area + spectra_at(n);
    double* const work = sd + fft_spectrum_size(n);
    fft_spectrum(w.a + 1, n, sd);
    double err = 0.0;
    for (double* x : {c.q, c.t}) {
        fft_spectrum(x + 1, n, work);
        err = dmax(err, mp_product(w.a, sd, x, work, n, z, work));
        mp_copy(z, x, n + 1);
    }
    mp_copy(c.q, w.a, n + 1);
    err = dmax(err, mp_mul(c.p, w.sum, z, n, sd));
    mp_add(c.t, z, w.sum, n, Sign::Plus);
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
        // P, Q and T of width words, as numbers of n words.
        for (double* x : {w.p, w.q, w.t}) mp_fill(0, x + width + 1, n - width);
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
    // w.a, then the numerator into w.sum, each made at the start of the area,
    // with P, Q and T, no longer needed, for the numbers of its Newton
    // operation.
    double* const r = w.area;
    const NewtonTemp temp{w.area + spectra_at(n), w.p};
    // f3 (f4 D + f5 N) into w.sum, by way of r and P, and D over it.
    mp_mul_int(w.sum, f[5], w.sum, n);
    mp_mul_int(w.a, f[4], r, n);
    mp_add(r, w.sum, w.p, n, Sign::Plus);
    mp_mul_int(w.p, f[3], w.sum, n);
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
    // pi := the numerator times D over the denominator, to n words.
    err = dmax(err, mp_mul(w.sum, w.a, w.area, n, w.area + spectra_at(n)));
    mp_copy(w.area, w.sum, n + 1);
    return err;
}

}  // namespace drmpi
